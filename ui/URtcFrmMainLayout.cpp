// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/URtcFrmMainLayout.h"

#include <QtGlobal>

namespace rastrace::ui {

namespace {

using K = ControlKind;

// Parents come before their children. Geometry is left, top, width, height
// inside the parent; aligned rows keep only their height (Top, Bottom) or
// width (Left). The toolbar's buttons sit left to right: ToolButton1,
// separator ToolButton6, ToolButton2, Panel1, separator ToolButton5,
// ToolButton4.
constexpr ControlRow kControls[] = {
    {.name = "CoolBar1", .kind = K::BandBar, .height = 58, .align = Align::Top},
    {.name = "ToolBar1", .kind = K::ToolBar, .parent = "CoolBar1", .left = 11, .top = 2, .width = 464, .height = 54},
    {.name = "ToolButton1", .kind = K::ToolButton, .parent = "ToolBar1", .left = 0, .top = 0, .width = 55, .height = 54,
     .hint = QT_TRANSLATE_NOOP("TRtcFrmMain", "打开图片"), .imageIndex = 1},
    {.name = "ToolButton6", .kind = K::ToolSeparator, .parent = "ToolBar1", .left = 55, .top = 0, .width = 8,
     .height = 54},
    {.name = "ToolButton2", .kind = K::ToolButton, .parent = "ToolBar1", .left = 63, .top = 0, .width = 55, .height = 54,
     .state = kDisabled, .hint = QT_TRANSLATE_NOOP("TRtcFrmMain", "转换"), .imageIndex = 2},
    {.name = "Panel1", .kind = K::Panel, .parent = "ToolBar1", .left = 118, .top = 0, .width = 283, .height = 54,
     .state = kDisabled},
    {.name = "RadioButton1", .kind = K::RadioButton, .parent = "Panel1",
     .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "转换成PCB格式"), .left = 16, .top = 8, .width = 113, .height = 17,
     .state = kChecked},
    {.name = "RadioButton2", .kind = K::RadioButton, .parent = "Panel1",
     .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "转换成ASC格式"), .left = 16, .top = 32, .width = 113, .height = 17},
    {.name = "SpeedButton1", .kind = K::SpeedButton, .parent = "Panel1",
     .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "水平镜像"), .left = 144, .top = 12, .width = 57, .height = 30},
    {.name = "SpeedButton2", .kind = K::SpeedButton, .parent = "Panel1",
     .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "垂直镜像"), .left = 208, .top = 12, .width = 57, .height = 30},
    {.name = "ToolButton5", .kind = K::ToolSeparator, .parent = "ToolBar1", .left = 401, .top = 0, .width = 8,
     .height = 54},
    {.name = "ToolButton4", .kind = K::ToolButton, .parent = "ToolBar1", .left = 409, .top = 0, .width = 55,
     .height = 54, .hint = QT_TRANSLATE_NOOP("TRtcFrmMain", "关于"), .imageIndex = 0},

    {.name = "prgbr", .kind = K::ProgressBar, .height = 17, .align = Align::Bottom},

    {.name = "Panel2", .kind = K::Panel, .width = 185, .align = Align::Left, .state = kDisabled},
    {.name = "GroupBox1", .kind = K::GroupBox, .parent = "Panel2",
     .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "X,Y方向分辨率"), .left = 8, .top = 8, .width = 169, .height = 65},
    {.name = "edtx", .kind = K::Edit, .parent = "GroupBox1", .text = "600", .left = 18, .top = 26, .width = 61,
     .height = 20},
    {.name = "edty", .kind = K::Edit, .parent = "GroupBox1", .text = "600", .left = 90, .top = 26, .width = 61,
     .height = 20},
    {.name = "GroupBox2", .kind = K::GroupBox, .parent = "Panel2",
     .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "保留区颜色设置"), .left = 8, .top = 88, .width = 169, .height = 217},
    {.name = "pColor", .kind = K::Shape, .parent = "GroupBox2", .left = 8, .top = 24, .width = 153, .height = 41},
    {.name = "lstCl", .kind = K::ListBox, .parent = "GroupBox2", .left = 8, .top = 72, .width = 153, .height = 129},
    {.name = "GroupBox3", .kind = K::GroupBox, .parent = "Panel2", .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "转出设置"),
     .left = 8, .top = 320, .width = 169, .height = 121},
    {.name = "Label1", .kind = K::Label, .parent = "GroupBox3", .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "转出层："),
     .left = 8, .top = 36},
    {.name = "cmbbox", .kind = K::ComboBox, .parent = "GroupBox3", .left = 56, .top = 32, .width = 105, .height = 20,
     .state = kFirstItemSelected,
     .items = "Top  Layer\n1  Mid  layer\n2  Mid  layer\n3  Mid  layer\n4  Mid  layer\nBottom  layer\n"
              "Top  Overlay\nBottom  Overlay"},
    {.name = "Label2", .kind = K::Label, .parent = "GroupBox3", .text = QT_TRANSLATE_NOOP("TRtcFrmMain", "线宽(Mil)："),
     .left = 8, .top = 76},
    {.name = "edtmil", .kind = K::Edit, .parent = "GroupBox3", .text = "2", .left = 80, .top = 72, .width = 65,
     .height = 20},

    {.name = "ScrollBox1", .kind = K::ScrollBox, .align = Align::Client, .state = kDisabled},
    {.name = "Image1", .kind = K::Picture, .parent = "ScrollBox1", .left = 0, .top = 0, .width = 121, .height = 105},
};

// Client area 792 x 566: the 800 x 600 outer window less a classic frame.
constexpr FormTable kForm{.context = "TRtcFrmMain",
                          .caption = "Rastrace For Win",
                          .clientWidth = 792,
                          .clientHeight = 566,
                          .controls = kControls};

}  // namespace

const FormTable& rtcFrmMainForm() { return kForm; }

}  // namespace rastrace::ui
