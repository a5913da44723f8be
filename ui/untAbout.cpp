#include "ui/untAbout.h"

#include "ui/AppLook.h"
#include "ui/FormLayout.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace rastrace::ui {

TAboutBox* AboutBox = nullptr;

namespace {

// The about text, one entry per line.
constexpr const char* kAboutText[] = {
    "【Rastrace】位图转PCB铜线工具",
    "版本：2.04",
    "本版说明：",
    "    这一版重新整理了操作界面，修正了已知的各种错误，",
    "转换核心全部重新编写。PCB格式和ASC格式的文件直接由",
    "主窗口输出，原来的插件方式不再使用；同时加入了水平",
    "镜像和垂直镜像功能，图片不必再用别的软件翻转。",
    "    有问题或想了解更新消息，请到本项目的主页查看。",
    "",
    "使用方法：",
    "1、点击左上角的“打开图片”按钮，选择要转换的图片；",
    "2、按住Ctrl键，用鼠标左键点击图中要输出的颜色，这些",
    "   颜色的值会加入左边的颜色列表；选中列表中的一项后",
    "   按住Ctrl键点击鼠标右键，可以把它删除；",
    "3、点击左上角的“转换”按钮，选择PCB或ASC文件名，",
    "   转换就开始了。",
    "剩下的时间泡杯茶，看着进度条慢慢走完就好，呵呵。",
    "",
    "软件说明：",
    "    本软件是一个把位图转换成PCB文件的图形工具，主要用于",
    "抄板。转出的文件可以用Protel的PCB软件直接打开。",
    "    X,Y方向分辨率：就是扫描电路板时所用的分辨率；",
    "    保留区颜色：图片中要作为铜线输出的颜色，可以有多个；",
    "    位图不一定要是黑白两色的，彩色图片也可以直接转换。",
    "",
    "",
    "版本历史：",
    "V2.03  2009/06/21",
    "    修正大图片转换时进度条走得不对的问题，",
    "    转换速度也有所提高。",
    "V2.02  2009/05/30",
    "    加入颜色列表，一次转换可以输出多种颜色。",
    "V2.01  2009/05/02",
    "    加入取色功能，保留区颜色可以直接从图片中选取，",
    "    不用再手工输入颜色值。",
    "V2.0   2009/03/15",
    "    改用自己编写的转换算法，",
    "    可以转换不是黑白两色的图片。",
    "V1.1",
    "    加入X,Y方向分辨率和线宽的设置，修正层设置的错误。",
    "V1.0",
    "    第一个版本，只能转换黑白位图。",
    "",
    "",
    "    感谢所有用过本软件并提出意见和建议的朋友，",
    "有你们的帮助，这个小工具才能一点点变好。",
    "    本软件可以自由使用和传播，",
    "但请不要用于侵犯他人权益的用途。",
    "    如果转换结果有问题，请把图片和设置一起发给我们，",
    "我们会尽快查找原因。",
    "    祝大家抄板顺利！",
    "",
    "                              Rastrace",
    "                              发布日期：2009/07/12",
    "",
    "                              -- 完 --",
};

constexpr ControlRow kAboutControls[] = {
    {.name = "Panel1", .kind = ControlKind::BevelPanel, .left = 8, .top = 8, .width = 369, .height = 161},
    {.name = "OKButton", .kind = ControlKind::PushButton, .text = "OK", .left = 303, .top = 180, .width = 75,
     .height = 25, .state = kDefaultButton},
    {.name = "mmoMsg", .kind = ControlKind::Memo, .parent = "Panel1", .left = 8, .top = 8, .width = 353,
     .height = 145},
};

constexpr FormTable kAboutForm{.caption = "软件介绍", .clientWidth = 386, .clientHeight = 213, .controls = kAboutControls};

}  // namespace

QStringList TAboutBox::aboutLines() {
    QStringList lines;
    for (const char* line : kAboutText) lines.append(QString::fromUtf8(line));
    return lines;
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setFont(rastraceFont());
    const FormControls controls = buildForm(*this, kAboutForm, {});
    Panel1 = controls.get<QFrame>("Panel1");
    OKButton = controls.get<QPushButton>("OKButton");
    mmoMsg = controls.get<QPlainTextEdit>("mmoMsg");
    setFixedSize(kAboutForm.clientWidth, kAboutForm.clientHeight);
    mmoMsg->setPlainText(aboutLines().join(u'\n'));
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

}  // namespace rastrace::ui
