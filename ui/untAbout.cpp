// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/untAbout.h"

#include "ui/AppLook.h"
#include "ui/FormLayout.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace rastrace::ui {

TAboutBox* AboutBox = nullptr;

namespace {

// The about text, one entry per line; each line but the empty ones is
// translated on its own, so a translation keeps the 56 lines.
constexpr const char* kAboutText[] = {
    QT_TRANSLATE_NOOP("TAboutBox", "【Rastrace】位图转PCB铜线工具"),
    QT_TRANSLATE_NOOP("TAboutBox", "版本：2.04"),
    QT_TRANSLATE_NOOP("TAboutBox", "本版说明："),
    QT_TRANSLATE_NOOP("TAboutBox", "    这一版重新整理了操作界面，修正了已知的各种错误，"),
    QT_TRANSLATE_NOOP("TAboutBox", "转换核心全部重新编写。PCB格式和ASC格式的文件直接由"),
    QT_TRANSLATE_NOOP("TAboutBox", "主窗口输出，原来的插件方式不再使用；同时加入了水平"),
    QT_TRANSLATE_NOOP("TAboutBox", "镜像和垂直镜像功能，图片不必再用别的软件翻转。"),
    QT_TRANSLATE_NOOP("TAboutBox", "    有问题或想了解更新消息，请到本项目的主页查看。"),
    "",
    QT_TRANSLATE_NOOP("TAboutBox", "使用方法："),
    QT_TRANSLATE_NOOP("TAboutBox", "1、点击左上角的“打开图片”按钮，选择要转换的图片；"),
    QT_TRANSLATE_NOOP("TAboutBox", "2、按住Ctrl键，用鼠标左键点击图中要输出的颜色，这些"),
    QT_TRANSLATE_NOOP("TAboutBox", "   颜色的值会加入左边的颜色列表；选中列表中的一项后"),
    QT_TRANSLATE_NOOP("TAboutBox", "   按住Ctrl键点击鼠标右键，可以把它删除；"),
    QT_TRANSLATE_NOOP("TAboutBox", "3、点击左上角的“转换”按钮，选择PCB或ASC文件名，"),
    QT_TRANSLATE_NOOP("TAboutBox", "   转换就开始了。"),
    QT_TRANSLATE_NOOP("TAboutBox", "剩下的时间泡杯茶，看着进度条慢慢走完就好，呵呵。"),
    "",
    QT_TRANSLATE_NOOP("TAboutBox", "软件说明："),
    QT_TRANSLATE_NOOP("TAboutBox", "    本软件是一个把位图转换成PCB文件的图形工具，主要用于"),
    QT_TRANSLATE_NOOP("TAboutBox", "抄板。转出的文件可以用Protel的PCB软件直接打开。"),
    QT_TRANSLATE_NOOP("TAboutBox", "    X,Y方向分辨率：就是扫描电路板时所用的分辨率；"),
    QT_TRANSLATE_NOOP("TAboutBox", "    保留区颜色：图片中要作为铜线输出的颜色，可以有多个；"),
    QT_TRANSLATE_NOOP("TAboutBox", "    位图不一定要是黑白两色的，彩色图片也可以直接转换。"),
    "",
    "",
    QT_TRANSLATE_NOOP("TAboutBox", "版本历史："),
    QT_TRANSLATE_NOOP("TAboutBox", "V2.03  2009/06/21"),
    QT_TRANSLATE_NOOP("TAboutBox", "    修正大图片转换时进度条走得不对的问题，"),
    QT_TRANSLATE_NOOP("TAboutBox", "    转换速度也有所提高。"),
    QT_TRANSLATE_NOOP("TAboutBox", "V2.02  2009/05/30"),
    QT_TRANSLATE_NOOP("TAboutBox", "    加入颜色列表，一次转换可以输出多种颜色。"),
    QT_TRANSLATE_NOOP("TAboutBox", "V2.01  2009/05/02"),
    QT_TRANSLATE_NOOP("TAboutBox", "    加入取色功能，保留区颜色可以直接从图片中选取，"),
    QT_TRANSLATE_NOOP("TAboutBox", "    不用再手工输入颜色值。"),
    QT_TRANSLATE_NOOP("TAboutBox", "V2.0   2009/03/15"),
    QT_TRANSLATE_NOOP("TAboutBox", "    改用自己编写的转换算法，"),
    QT_TRANSLATE_NOOP("TAboutBox", "    可以转换不是黑白两色的图片。"),
    QT_TRANSLATE_NOOP("TAboutBox", "V1.1"),
    QT_TRANSLATE_NOOP("TAboutBox", "    加入X,Y方向分辨率和线宽的设置，修正层设置的错误。"),
    QT_TRANSLATE_NOOP("TAboutBox", "V1.0"),
    QT_TRANSLATE_NOOP("TAboutBox", "    第一个版本，只能转换黑白位图。"),
    "",
    "",
    QT_TRANSLATE_NOOP("TAboutBox", "    感谢所有用过本软件并提出意见和建议的朋友，"),
    QT_TRANSLATE_NOOP("TAboutBox", "有你们的帮助，这个小工具才能一点点变好。"),
    QT_TRANSLATE_NOOP("TAboutBox", "    本软件可以自由使用和传播，"),
    QT_TRANSLATE_NOOP("TAboutBox", "但请不要用于侵犯他人权益的用途。"),
    QT_TRANSLATE_NOOP("TAboutBox", "    如果转换结果有问题，请把图片和设置一起发给我们，"),
    QT_TRANSLATE_NOOP("TAboutBox", "我们会尽快查找原因。"),
    QT_TRANSLATE_NOOP("TAboutBox", "    祝大家抄板顺利！"),
    "",
    QT_TRANSLATE_NOOP("TAboutBox", "                              Rastrace"),
    QT_TRANSLATE_NOOP("TAboutBox", "                              发布日期：2009/07/12"),
    "",
    QT_TRANSLATE_NOOP("TAboutBox", "                              -- 完 --"),
};

constexpr ControlRow kAboutControls[] = {
    {.name = "Panel1", .kind = ControlKind::BevelPanel, .left = 8, .top = 8, .width = 369, .height = 161},
    {.name = "OKButton", .kind = ControlKind::PushButton, .text = "OK", .left = 303, .top = 180, .width = 75,
     .height = 25, .state = kDefaultButton},
    {.name = "mmoMsg", .kind = ControlKind::Memo, .parent = "Panel1", .left = 8, .top = 8, .width = 353,
     .height = 145},
    // Its text names the other language in that language (set below).
    {.name = "btnLanguage", .kind = ControlKind::PushButton, .left = 8, .top = 180, .width = 75, .height = 25},
};

constexpr FormTable kAboutForm{.context = "TAboutBox",
                               .caption = QT_TRANSLATE_NOOP("TAboutBox", "软件介绍"),
                               .clientWidth = 386, .clientHeight = 213, .controls = kAboutControls};

}  // namespace

QStringList TAboutBox::aboutLines() {
    QStringList lines;
    for (const char* line : kAboutText) {
        lines.append(line[0] == '\0' ? QString() : QCoreApplication::translate("TAboutBox", line));
    }
    return lines;
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setFont(rastraceFont());
    const FormControls controls = buildForm(*this, kAboutForm, {});
    Panel1 = controls.get<QFrame>("Panel1");
    OKButton = controls.get<QPushButton>("OKButton");
    mmoMsg = controls.get<QPlainTextEdit>("mmoMsg");
    btnLanguage = controls.get<QPushButton>("btnLanguage");
    setFixedSize(kAboutForm.clientWidth, kAboutForm.clientHeight);
    mmoMsg->setPlainText(aboutLines().join(u'\n'));
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    // The switch is for a user who cannot read the texts shown now, so it
    // speaks the language it offers, never the window's.
    const WindowLanguage other =
        shownLanguage() == WindowLanguage::Chinese ? WindowLanguage::English : WindowLanguage::Chinese;
    btnLanguage->setText(other == WindowLanguage::English ? QStringLiteral("English") : QString::fromUtf8("中文"));
    btnLanguage->setToolTip(other == WindowLanguage::English
                                ? QStringLiteral("Show the window in English from the next start")
                                : QString::fromUtf8("下次启动时窗口显示中文"));
    connect(btnLanguage, &QPushButton::clicked, this, [this, other] { emit languageChosen(other); });

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

}  // namespace rastrace::ui
