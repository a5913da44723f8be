// SPDX-License-Identifier: GPL-3.0-or-later
// Window tests for tracing real scans: the tolerance, speckle and
// background controls, the match overlay, zoom, the new settings keys, the
// open dialog's scanner formats and the save dialog's area formats; and the
// window's copy of the matching rule on small hand-made pictures.
#include "settings/Settings.h"
#include "support/BmpBuilder.h"
#include "ui/AppLook.h"
#include "ui/DialogService.h"
#include "ui/tests/FakeDialogs.h"
#include "trace/ColorMatch.h"
#include "ui/MatchAdapter.h"
#include "ui/URtcFrmMain.h"
#include "ui/URtcFrmMainLayout.h"
#include "ui/ZoomView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <chrono>
#include <cstdio>
#include <deque>

namespace {

using namespace rastrace;
using namespace rastrace::ui;

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;

using rastrace::ui::test::FakeDialogs;

void sendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint at) {
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button,
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::MouseButtons(button), mods);
    QApplication::sendEvent(target, &event);
}

// A raster of rows (row 0 at the top), colours packed 0x00BBGGRR.
Raster rasterOf(const std::vector<std::vector<uint32_t>>& rows) {
    Raster raster(static_cast<int32_t>(rows.front().size()), static_cast<int32_t>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y) {
        uint8_t* out = raster.RowBytes(static_cast<int32_t>(y)).data();
        for (size_t x = 0; x < rows[y].size(); ++x) {
            out[x * 3] = static_cast<uint8_t>(rows[y][x] >> 16);
            out[x * 3 + 1] = static_cast<uint8_t>(rows[y][x] >> 8);
            out[x * 3 + 2] = static_cast<uint8_t>(rows[y][x]);
        }
    }
    return raster;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ScanWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        createWindow();
    }
    void createWindow() {
        window_ = std::make_unique<TRtcFrmMain>(dialogs_, path("set.ini").toStdString());
        window_->handle(&TRtcFrmMain::FormCreate);
        window_->show();
    }
    QString path(const QString& name) const { return dir_.filePath(name); }
    void openPicture(const std::vector<std::vector<uint32_t>>& rows) {
        rastrace::test::WriteFile(path("p.bmp").toStdString(), rastrace::test::Bmp24FromPacked(rows));
        dialogs_.openAnswers.push_back(FileChoice{path("p.bmp"), QStringLiteral("Bitmaps (*.bmp)")});
        window_->ToolButton1->click();
        ASSERT_NE(window_->picture(), nullptr);
    }
    // A widget position of the view (the picture's own pixels at zoom 1).
    void moveTo(QPoint widget) {
        sendMouse(window_->Image1, QEvent::MouseMove, Qt::NoButton, Qt::NoModifier, widget);
    }
    void pick(QPoint widget, Qt::KeyboardModifiers mods) {
        moveTo(widget);
        sendMouse(window_->Image1, QEvent::MouseButtonPress, Qt::LeftButton, mods, widget);
        sendMouse(window_->Image1, QEvent::MouseButtonRelease, Qt::LeftButton, mods, widget);
    }
    MatchPanel& match() { return *window_->matchPanel(); }
    // The view as drawn, in widget pixels.
    QImage drawn() {
        QApplication::processEvents();
        return window_->Image1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    QTemporaryDir dir_;
    FakeDialogs dialogs_;
    std::unique_ptr<TRtcFrmMain> window_;
};

// ---- Layout ---------------------------------------------------------------

TEST_F(ScanWindowTest, NewControlsHaveTheirTextsAndMoveNothingOfTheLayout) {
    // Every control of the layout table keeps the place the table gives it.
    for (const ControlRow& row : rtcFrmMainForm().controls) {
        if (row.align != Align::None || row.kind == ControlKind::Label || row.kind == ControlKind::Picture) continue;
        QWidget* control = window_->findChild<QWidget*>(QString::fromUtf8(row.name));
        ASSERT_NE(control, nullptr) << row.name;
        EXPECT_EQ(control->geometry(), QRect(row.left, row.top, row.width, row.height)) << row.name;
    }
    MatchPanel& m = match();
    EXPECT_EQ(m.Label3->text(), QString::fromUtf8("容差："));
    EXPECT_EQ(m.Label4->text(), QString::fromUtf8("去斑(像素)："));
    EXPECT_EQ(m.GroupBox4->title(), QString::fromUtf8("背景颜色"));
    EXPECT_EQ(m.btnOverlay->text(), QString::fromUtf8("匹配预览"));
    EXPECT_EQ(m.btnFit->text(), QString::fromUtf8("适应窗口"));
    EXPECT_EQ(m.btnActual->text(), QStringLiteral("100%"));
    EXPECT_EQ(m.spnTolerance->minimum(), 0);
    EXPECT_EQ(m.spnTolerance->maximum(), 442);
    EXPECT_EQ(m.spnTolerance->value(), 0);
    EXPECT_EQ(m.spnDespeckle->minimum(), 0);
    EXPECT_EQ(m.spnDespeckle->value(), 0);
    EXPECT_TRUE(m.btnOverlay->isCheckable());
    EXPECT_FALSE(m.btnOverlay->isChecked());
    EXPECT_EQ(m.lstBg->count(), 0);
    // Like the left column, they take no input before the first picture.
    EXPECT_FALSE(m.Panel3->isEnabled());
    EXPECT_FALSE(m.GroupBox4->isEnabled());
    for (QWidget* control : std::initializer_list<QWidget*>{m.Label3, m.Label4, m.spnTolerance, m.lstBg}) {
        EXPECT_EQ(control->font().family(), rastraceFont().family());
        EXPECT_EQ(control->font().pixelSize(), rastraceFont().pixelSize());
    }

    // The new boxes sit in free room at the layout's size: right of the
    // toolbar in the band bar, below the output settings in the column.
    EXPECT_EQ(m.Panel3->parentWidget(), window_->CoolBar1);
    EXPECT_GE(m.Panel3->geometry().left(), window_->ToolBar1->geometry().right() + 1);
    EXPECT_LE(m.Panel3->geometry().right(), window_->CoolBar1->width() - 1);
    EXPECT_LE(m.Panel3->geometry().bottom(), window_->CoolBar1->height() - 1);
    EXPECT_EQ(m.GroupBox4->parentWidget(), window_->Panel2);
    EXPECT_GE(m.GroupBox4->geometry().top(), window_->GroupBox3->geometry().bottom() + 1);
    EXPECT_LE(m.GroupBox4->geometry().bottom(), window_->Panel2->height() - 1);
    for (QWidget* child : m.Panel3->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(m.Panel3->rect().contains(child->geometry())) << child->metaObject()->className();
    }
}

// ---- Background colours ---------------------------------------------------

TEST_F(ScanWindowTest, ShiftCtrlPicksBackgroundColoursApartFromCopper) {
    openPicture({{kRed, kBlue, kBlack}});
    EXPECT_TRUE(match().Panel3->isEnabled());
    EXPECT_TRUE(match().GroupBox4->isEnabled());
    pick(QPoint(0, 0), Qt::ControlModifier);
    pick(QPoint(1, 0), Qt::ControlModifier | Qt::ShiftModifier);
    pick(QPoint(2, 0), Qt::ControlModifier | Qt::ShiftModifier);
    pick(QPoint(1, 0), Qt::ControlModifier | Qt::ShiftModifier);  // listed already
    EXPECT_EQ(window_->lstCl->entries(), QStringList{QStringLiteral("255")});
    EXPECT_EQ(match().lstBg->entries(), QStringList({"16711680", "0"}));
    const MatchSettings s = match().settings();
    EXPECT_EQ(s.copper, std::vector<uint32_t>{kRed});
    EXPECT_EQ(s.background, std::vector<uint32_t>({kBlue, kBlack}));

    // The background list follows the colour list's rules: a left press
    // shows the entry, Ctrl and the right button delete the selected one.
    QListWidget* list = match().lstBg;
    const QPoint first = list->visualItemRect(list->item(0)).center();
    sendMouse(list->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::NoModifier, first);
    sendMouse(list->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoModifier, first);
    EXPECT_EQ(window_->pColor->color(), kBlue);
    sendMouse(list->viewport(), QEvent::MouseButtonPress, Qt::RightButton, Qt::ControlModifier, first);
    EXPECT_EQ(match().lstBg->entries(), QStringList{QStringLiteral("0")});
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(window_->lstCl->count(), 1);
}

// ---- Overlay --------------------------------------------------------------

TEST_F(ScanWindowTest, OverlayHighlightsTracedPixelsAndFollowsEveryChange) {
    // Red copper, a near-red pixel, a near-blue one and blue background.
    const uint32_t nearRed = 0x0000F0, nearBlue = 0xF00000;
    openPicture({{kRed, nearRed, nearBlue, kBlue}, {kRed, kRed, kBlue, kBlue}});
    pick(QPoint(0, 0), Qt::ControlModifier);
    const QImage plain = drawn();
    EXPECT_EQ(plain.pixel(1, 0), qRgb(0xF0, 0, 0));  // overlay off: the picture as it is

    match().btnOverlay->click();
    EXPECT_TRUE(match().overlay().enabled());
    QImage shown = drawn();
    // Traced pixels are pulled to magenta, others darkened.
    EXPECT_GT(qRed(shown.pixel(0, 0)), 150);
    EXPECT_GT(qBlue(shown.pixel(0, 0)), 100);
    EXPECT_EQ(shown.pixel(1, 0), qRgb(0xF0 * 2 / 5, 0, 0));  // T = 0: not exactly red, untraced
    EXPECT_EQ(shown.pixel(3, 1), qRgb(0, 0, 0xFF * 2 / 5));

    match().spnTolerance->setValue(20);
    shown = drawn();
    EXPECT_GT(qRed(shown.pixel(1, 0)), 150);
    EXPECT_LT(qRed(shown.pixel(2, 0)), 100);
    EXPECT_EQ(match().overlay().classAt(1, 0), 1);
    EXPECT_EQ(match().overlay().classAt(2, 0), kUntracedClass);  // too far from red

    match().spnTolerance->setValue(442);  // every pixel goes to its nearest colour: red
    shown = drawn();
    EXPECT_EQ(match().overlay().classAt(3, 1), 1);
    pick(QPoint(3, 1), Qt::ControlModifier | Qt::ShiftModifier);  // blue as background
    shown = drawn();
    for (int x = 0; x < 4; ++x) {
        for (int y = 0; y < 2; ++y) {
            const bool red = x < 2;
            EXPECT_EQ(match().overlay().classAt(x, y), red ? 1 : kBackgroundClass) << x << "," << y;
            // Highlighted pixels keep at least 70% of a bright magenta; dimmed
            // ones at most 40% of their own colour.
            EXPECT_EQ(qRed(shown.pixel(x, y)) > 150, red) << x << "," << y;
        }
    }

    match().btnOverlay->click();
    EXPECT_EQ(drawn(), plain);
}

TEST_F(ScanWindowTest, OverlayFollowsTheSpeckleSizeAndAMirror) {
    // A one-pixel red speckle on white and a 2 x 2 red block.
    openPicture({{kWhite, kWhite, kWhite, kWhite, kWhite, kWhite},
                 {kWhite, kRed, kWhite, kWhite, kRed, kRed},
                 {kWhite, kWhite, kWhite, kWhite, kRed, kRed},
                 {kWhite, kWhite, kWhite, kWhite, kWhite, kWhite}});
    pick(QPoint(1, 1), Qt::ControlModifier);
    match().btnOverlay->setChecked(true);
    drawn();
    EXPECT_EQ(match().overlay().classAt(1, 1), 1);
    match().spnDespeckle->setValue(2);
    drawn();
    EXPECT_EQ(match().overlay().classAt(1, 1), kUntracedClass);
    EXPECT_EQ(match().overlay().classAt(4, 1), 1);
    match().spnDespeckle->setValue(5);
    drawn();
    EXPECT_EQ(match().overlay().classAt(4, 1), kUntracedClass);

    match().spnDespeckle->setValue(0);
    window_->SpeedButton1->click();  // mirrored: the block is now at columns 0-1
    drawn();
    EXPECT_EQ(match().overlay().classAt(0, 1), 1);
    EXPECT_EQ(match().overlay().classAt(4, 1), 1);  // the speckle, mirrored
    EXPECT_EQ(match().overlay().classAt(5, 1), kUntracedClass);
}

// ---- Zoom -----------------------------------------------------------------

struct ZoomCase {
    const char* name;
    double zoom;
};

class ZoomTest : public ScanWindowTest, public ::testing::WithParamInterface<ZoomCase> {};

TEST_P(ZoomTest, PickingReadsThePixelDrawnUnderThePointer) {
    // 40 x 30, every pixel its own colour.
    std::vector<std::vector<uint32_t>> rows(30, std::vector<uint32_t>(40));
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) rows[y][x] = static_cast<uint32_t>(y * 64 + x + 1) * 97u;
    }
    openPicture(rows);
    const double zoom = GetParam().zoom;
    match().setZoom(zoom);
    EXPECT_DOUBLE_EQ(window_->Image1->zoom(), zoom);
    EXPECT_EQ(window_->Image1->size(), ZoomedSize(QSize(40, 30), zoom));
    const QImage shown = drawn();
    for (QPoint widget : {QPoint(0, 0), QPoint(window_->Image1->width() - 1, window_->Image1->height() - 1),
                          QPoint(window_->Image1->width() / 2, window_->Image1->height() / 3)}) {
        const QPoint p = window_->Image1->pictureAt(QPointF(widget));
        ASSERT_TRUE(QRect(0, 0, 40, 30).contains(p));
        moveTo(widget);
        EXPECT_EQ(window_->pColor->color(), rows[p.y()][p.x()]) << widget.x() << "," << widget.y();
        const uint32_t packed = rows[p.y()][p.x()];
        EXPECT_EQ(shown.pixel(widget), qRgb(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF));
    }
    // Picking a copper colour works the same at every zoom.
    const QPoint at(PictureToWidget(7, zoom), PictureToWidget(5, zoom));
    const QPoint p = window_->Image1->pictureAt(QPointF(at));
    if (zoom >= 1) {
        EXPECT_EQ(p, QPoint(7, 5));
    }
    pick(at, Qt::ControlModifier);
    EXPECT_EQ(window_->lstCl->entries(), QStringList{QString::number(static_cast<int32_t>(rows[p.y()][p.x()]))});
}

INSTANTIATE_TEST_SUITE_P(Zooms, ZoomTest,
                         ::testing::Values(ZoomCase{"Sixteenth", 1.0 / 16}, ZoomCase{"Quarter", 0.25},
                                           ZoomCase{"One", 1.0}, ZoomCase{"Three", 3.0},
                                           ZoomCase{"Sixteen", 16.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScanWindowTest, CtrlWheelAndTheButtonsZoom) {
    openPicture(std::vector<std::vector<uint32_t>>(200, std::vector<uint32_t>(300, kRed)));
    PictureView* view = window_->Image1;
    const QPoint at(10, 10);
    QWheelEvent up(QPointF(at), view->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &up);
    EXPECT_DOUBLE_EQ(view->zoom(), std::exp2(0.25));
    QWheelEvent plain(QPointF(at), view->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &plain);  // without Ctrl the area scrolls
    EXPECT_DOUBLE_EQ(view->zoom(), std::exp2(0.25));

    match().btnFit->click();
    const QSize area = window_->ScrollBox1->viewport()->size();
    EXPECT_LE(view->width(), area.width());
    EXPECT_LE(view->height(), area.height());
    EXPECT_TRUE(view->width() >= area.width() - 1 || view->height() >= area.height() - 1);
    match().btnActual->click();
    EXPECT_EQ(view->zoom(), 1.0);
    EXPECT_EQ(view->size(), QSize(300, 200));
}

TEST(ZoomSteps, StepsAreQuarterPowersOfTwoWithinTheLimits) {
    EXPECT_DOUBLE_EQ(SteppedZoom(1.0, 4), 2.0);
    EXPECT_DOUBLE_EQ(SteppedZoom(1.0, -4), 0.5);
    EXPECT_DOUBLE_EQ(SteppedZoom(16.0, 1), 16.0);
    EXPECT_DOUBLE_EQ(SteppedZoom(1.0 / 16, -1), 1.0 / 16);
    EXPECT_DOUBLE_EQ(SteppedZoom(1.1, -1), 1.0);  // between steps (after fit): to the next one
    EXPECT_DOUBLE_EQ(SteppedZoom(1.1, 1), std::exp2(0.25));
    EXPECT_DOUBLE_EQ(ClampZoom(100), 16.0);
    EXPECT_DOUBLE_EQ(ClampZoom(0.001), 1.0 / 16);
    // PictureToWidget gives the first widget pixel showing p or, below
    // 1:1 where not every pixel is drawn, the next one drawn.
    for (double zoom : {1.0 / 16, 0.3, 1.0, 2.5, 16.0}) {
        for (int p : {0, 1, 7, 1000}) {
            const int w = PictureToWidget(p, zoom);
            if (zoom >= 1) {
                EXPECT_EQ(WidgetToPicture(w, zoom), p) << zoom << " " << p;
            }
            EXPECT_GE(WidgetToPicture(w, zoom), p) << zoom << " " << p;
            EXPECT_LT(WidgetToPicture(w - 1, zoom), p) << zoom << " " << p;
        }
    }
    // At 1/16 each widget pixel shows the picture pixel under its centre.
    EXPECT_EQ(WidgetToPicture(QPoint(0, 2), 1.0 / 16), QPoint(8, 40));
}

// ---- Settings -------------------------------------------------------------

TEST_F(ScanWindowTest, NewSettingsAreWrittenOnlyWhenTheyDifferFromTheDefaults) {
    window_.reset();
    const QByteArray firstStart = "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n";
    EXPECT_EQ(readAll(path("set.ini")), firstStart);

    createWindow();
    match().spnTolerance->setValue(64);
    match().spnDespeckle->setValue(16);
    match().btnOverlay->setChecked(true);
    window_.reset();
    EXPECT_EQ(readAll(path("set.ini")), firstStart + "TOLERANCE=64\r\nDESPECKLE=16\r\nOVERLAY=1\r\n");

    createWindow();
    EXPECT_EQ(match().spnTolerance->value(), 64);
    EXPECT_EQ(match().spnDespeckle->value(), 16);
    EXPECT_TRUE(match().btnOverlay->isChecked());
    // Back to a default: the key is kept with the default, not left behind.
    match().spnTolerance->setValue(0);
    window_.reset();
    EXPECT_EQ(LoadSettings(path("set.ini").toStdString()).tolerance, 0);
    EXPECT_TRUE(readAll(path("set.ini")).contains("TOLERANCE=0\r\n"));
}

TEST_F(ScanWindowTest, SettingsOutsideTheFieldsRangeAreKeptInRange) {
    window_.reset();
    QFile file(path("set.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[CONFIG]\r\nTOLERANCE=999\r\nDESPECKLE=-4\r\nOVERLAY=abc\r\n");
    file.close();
    createWindow();
    EXPECT_EQ(match().spnTolerance->value(), 442);
    EXPECT_EQ(match().spnDespeckle->value(), 0);
    EXPECT_FALSE(match().btnOverlay->isChecked());
}

// ---- Output formats -------------------------------------------------------

TEST_F(ScanWindowTest, SaveDialogsAreaFileTypesWriteGerberAndKiCad) {
    openPicture({{kRed, kRed, kRed, kBlack}});
    pick(QPoint(0, 0), Qt::ControlModifier);

    dialogs_.saveAnswer = FileChoice{path("out.gbr"), QStringLiteral("Gerber (*.gbr)")};
    window_->ToolButton2->click();
    EXPECT_EQ(dialogs_.savedTypes, QStringList({"PCB (*.PCB)", "Gerber (*.gbr)", "KiCad (*.kicad_mod)"}));
    EXPECT_EQ(dialogs_.savedSuffix, QStringLiteral("PCB"));
    EXPECT_EQ(window_->ChosenOutputKind(), OutputKind::Gerber);
    // The area file is written at once, with the notice and no error.
    EXPECT_TRUE(dialogs_.errors.isEmpty());
    ASSERT_EQ(dialogs_.notices.size(), 1);
    const QByteArray gerber = readAll(path("out.gbr"));
    EXPECT_TRUE(gerber.contains("%TF.FileFunction,Copper,L1,Top*%")) << gerber.toStdString();
    EXPECT_TRUE(gerber.contains("G36*")) << gerber.toStdString();
    EXPECT_FALSE(window_->converting());

    window_->RadioButton2->click();
    window_->cmbbox->setCurrentIndex(5);  // the bottom layer
    dialogs_.saveAnswer = FileChoice{path("out.kicad_mod"), QStringLiteral("KiCad (*.kicad_mod)")};
    window_->ToolButton2->click();
    EXPECT_EQ(dialogs_.savedTypes.value(0), QStringLiteral("ASC (*.ASC)"));
    EXPECT_EQ(window_->ChosenOutputKind(), OutputKind::KiCad);
    EXPECT_TRUE(dialogs_.errors.isEmpty());
    const QByteArray kicad = readAll(path("out.kicad_mod"));
    EXPECT_TRUE(kicad.startsWith("(footprint \"out\"")) << kicad.toStdString();
    EXPECT_TRUE(kicad.contains("(layer \"B.Cu\")")) << kicad.toStdString();

    // A bad resolution leaves the existing area file as it was.
    window_->edtx->setText(QStringLiteral("0"));
    window_->ToolButton2->click();
    EXPECT_EQ(dialogs_.errors.size(), 1);
    EXPECT_EQ(readAll(path("out.kicad_mod")), kicad);
    window_->edtx->setText(QStringLiteral("600"));
    window_->cmbbox->setCurrentIndex(0);

    // A picture taller than the format holds at the resolution given is
    // refused with the message, and the file is not touched.
    openPicture(std::vector<std::vector<uint32_t>>(394, {kRed}));
    pick(QPoint(0, 0), Qt::ControlModifier);
    window_->edty->setText(QStringLiteral("1"));
    const QByteArray gerberBefore = readAll(path("out.gbr"));
    dialogs_.saveAnswer = FileChoice{path("out.gbr"), QStringLiteral("Gerber (*.gbr)")};
    window_->ToolButton2->click();
    ASSERT_EQ(dialogs_.errors.size(), 2);
    EXPECT_EQ(dialogs_.errors.back(), QStringLiteral("The picture is 10007.6 mm tall at 1 dpi; a Gerber file holds at "
                                                     "most 9999.999999 mm: use a resolution of 2 dpi or more."));
    EXPECT_EQ(readAll(path("out.gbr")), gerberBefore);
    dialogs_.saveAnswer = FileChoice{path("tall.kicad_mod"), QStringLiteral("KiCad (*.kicad_mod)")};
    window_->ToolButton2->click();
    ASSERT_EQ(dialogs_.errors.size(), 3);
    EXPECT_TRUE(dialogs_.errors.back().endsWith("a KiCad footprint holds at most 1518.485686 mm: use a resolution of "
                                                "7 dpi or more."))
        << dialogs_.errors.back().toStdString();
    EXPECT_FALSE(QFile::exists(path("tall.kicad_mod")));
    EXPECT_EQ(QDir(dir_.path()).entryList(QStringList{".rastrace-*"}, QDir::Hidden | QDir::Files), QStringList());
    window_->edty->setText(QStringLiteral("600"));
    openPicture({{kRed, kRed, kRed, kBlack}});
    pick(QPoint(0, 0), Qt::ControlModifier);

    // The radio buttons' own type converts as before.
    window_->RadioButton1->click();
    dialogs_.saveAnswer = FileChoice{path("out.PCB"), QStringLiteral("PCB (*.PCB)")};
    window_->ToolButton2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs_.notices.size() == 3; }, 20000));
    EXPECT_EQ(window_->ChosenOutputKind(), OutputKind::Pcb);
    EXPECT_EQ(readAll(path("out.PCB")), QByteArray("PCB FILE 4\r\nFT\r\n0 0 5 0 2 1 1\r\n1\r\nENDPCB\r\n"));
}

TEST(OutputKinds, FileTypesMapToKindsAndSuffixes) {
    EXPECT_EQ(KindOfFileType(QStringLiteral("Gerber (*.gbr)"), true), OutputKind::Gerber);
    EXPECT_EQ(KindOfFileType(QStringLiteral("KiCad (*.kicad_mod)"), false), OutputKind::KiCad);
    EXPECT_EQ(KindOfFileType(QStringLiteral("PCB (*.PCB)"), true), OutputKind::Pcb);
    EXPECT_EQ(KindOfFileType(QString(), false), OutputKind::Asc);
    EXPECT_EQ(DefaultSuffixOf(OutputKind::Gerber), QStringLiteral("gbr"));
    EXPECT_EQ(DefaultSuffixOf(OutputKind::KiCad), QStringLiteral("kicad_mod"));
    EXPECT_EQ(CoreFormatOf(OutputKind::Pcb), OutputFormat::Pcb);
    EXPECT_EQ(CoreFormatOf(OutputKind::Asc), OutputFormat::Asc);
}

// ---- The matching rule ----------------------------------------------------

// Classes of a whole picture of rows.
std::vector<uint8_t> classify(const std::vector<std::vector<uint32_t>>& rows, const MatchSettings& settings) {
    const Raster raster = rasterOf(rows);
    std::vector<uint8_t> out;
    ClassifyRows(raster, QRect(0, 0, raster.Width(), raster.Height()), settings, out);
    return out;
}

TEST(MatchRule, NearestColourWithinToleranceTiesToEarlierCopperThenCopperOverBackground) {
    MatchSettings s;
    s.copper = {0x000064, 0x0000C8};  // red 100, red 200
    s.background = {0x000096};        // red 150
    s.tolerance = 0;
    EXPECT_EQ(ClassifyColor(0x000064, s), 1);
    EXPECT_EQ(ClassifyColor(0x000065, s), kUntracedClass);  // T = 0: only the exact colour
    EXPECT_EQ(ClassifyColor(0x000096, s), kUntracedClass);
    s.tolerance = 50;
    EXPECT_EQ(ClassifyColor(0x00007D, s), 1);                 // 125: tie of copper 100 and background 150
    EXPECT_EQ(ClassifyColor(0x00007E, s), kBackgroundClass);  // 126: background is nearer
    EXPECT_EQ(ClassifyColor(0x0000AF, s), 2);                 // 175: tie of background 150 and copper 200
    EXPECT_EQ(ClassifyColor(0x0000FA, s), 2);                 // 250: exactly T from copper 200
    EXPECT_EQ(ClassifyColor(0x0000FB, s), kUntracedClass);    // 251: just beyond
    s.copper = {0x000064, 0x000064 + 0x000002};
    EXPECT_EQ(ClassifyColor(0x000065, s), 1);  // equally near both copper colours: the earlier one
    // Euclidean: (30, 40, 0) is 50 away.
    s.copper = {0};
    s.background.clear();
    EXPECT_EQ(ClassifyColor(0x00281E, s), 1);
    EXPECT_EQ(ClassifyColor(0x00291E, s), kUntracedClass);
    s.tolerance = 442;  // the largest distance of all
    EXPECT_EQ(ClassifyColor(0xFFFFFF, s), 1);
}

struct SpeckleCase {
    const char* name;
    int despeckle;
    bool speckleStays;  // the 3-pixel region
    bool holeStays;     // the 3-pixel hole stays untraced
};

class SpeckleTest : public ::testing::TestWithParam<SpeckleCase> {};

TEST_P(SpeckleTest, RegionsAndHolesBelowTheSizeGo) {
    const uint32_t R = kRed, W = kWhite;
    // Left: a 3-pixel red speckle. Right: a red ring with a 3-pixel hole.
    const std::vector<std::vector<uint32_t>> rows = {
        {W, W, W, W, W, W, W, W, W, W},
        {W, R, R, W, W, R, R, R, R, R},
        {W, R, W, W, W, R, W, W, W, R},
        {W, W, W, W, W, R, R, R, R, R},
        {W, W, W, W, W, W, W, W, W, W},
    };
    MatchSettings s;
    s.copper = {kRed};
    s.despeckle = GetParam().despeckle;
    const std::vector<uint8_t> out = classify(rows, s);
    EXPECT_EQ(out[1 * 10 + 1] == 1, GetParam().speckleStays);
    EXPECT_EQ(out[2 * 10 + 1] == 1, GetParam().speckleStays);
    EXPECT_EQ(out[2 * 10 + 7] == kUntracedClass, GetParam().holeStays);
    EXPECT_EQ(out[1 * 10 + 9], GetParam().despeckle > 12 ? kUntracedClass : 1);  // the 12-pixel ring
}

INSTANTIATE_TEST_SUITE_P(Sizes, SpeckleTest,
                         ::testing::Values(SpeckleCase{"Off", 0, true, true}, SpeckleCase{"Two", 2, true, true},
                                           SpeckleCase{"Three", 3, true, true},
                                           SpeckleCase{"Four", 4, false, false},
                                           // The ring itself goes first: no hole is left to fill.
                                           SpeckleCase{"Thirteen", 13, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MatchRule, EdgesCutsAndOnePixelPictures) {
    MatchSettings s;
    s.copper = {kRed};
    s.despeckle = 2;
    // A lone pixel at the right edge is a speckle like any other; an
    // unmatched pixel at the edge is not enclosed, so it stays.
    EXPECT_EQ(classify({{kWhite, kRed}}, s), std::vector<uint8_t>({0, 0}));
    EXPECT_EQ(classify({{kRed, kRed, kWhite}}, s), std::vector<uint8_t>({1, 1, 0}));
    EXPECT_EQ(classify({{kRed}}, s), std::vector<uint8_t>{0});
    s.despeckle = 1;
    EXPECT_EQ(classify({{kRed}}, s), std::vector<uint8_t>{1});

    // A part of the picture gives the same answers as the whole picture
    // cut to that part.
    std::vector<std::vector<uint32_t>> rows(40, std::vector<uint32_t>(50, kWhite));
    uint32_t state = 12345;
    for (auto& row : rows) {
        for (uint32_t& pixel : row) {
            state = state * 1103515245u + 12345u;
            if ((state >> 16) % 3 == 0) pixel = kRed;
        }
    }
    s.despeckle = 5;
    const Raster raster = rasterOf(rows);
    std::vector<uint8_t> whole, part;
    ClassifyRows(raster, QRect(0, 0, 50, 40), s, whole);
    const QRect inner = ClassifyRows(raster, QRect(20, 15, 12, 9), s, part);
    ASSERT_EQ(inner, QRect(20, 15, 12, 9));
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 12; ++x) EXPECT_EQ(part[y * 12 + x], whole[(y + 15) * 50 + x + 20]) << x << "," << y;
    }
}

// The whole picture in the overlay is what a conversion traces: the
// core's class map, speckle removal included, on a noisy picture.
TEST(MatchRule, TheWholePictureIsTheConversionsClassMap) {
    std::vector<std::vector<uint32_t>> rows(60, std::vector<uint32_t>(70));
    uint32_t state = 777;
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            state = state * 1103515245u + 12345u;
            const uint32_t base = (x / 9 + y / 7) % 3 == 0 ? 0x3050C0u : (x / 5 + y / 3) % 4 == 0 ? 0xC05030u : 0x80A080u;
            const int nudge = static_cast<int>(state >> 25) - 64;  // -64..63 on the red byte
            rows[y][x] = (base & ~0xFFu) | static_cast<uint32_t>(std::clamp(static_cast<int>(base & 0xFF) + nudge, 0, 255));
        }
    }
    MatchSettings s;
    s.copper = {0x3050C0, 0xC05030};
    s.background = {0x80A080};
    s.tolerance = 45;
    for (const int n : {0, 7}) {
        s.despeckle = n;
        const Raster raster = rasterOf(rows);
        MatchOptions options;
        options.tolerance = s.tolerance;
        options.backgroundColors = s.background;
        options.despeckle = n;
        const ClassMap map = BuildClassMap(raster, s.copper, options);
        const std::vector<uint8_t> out = classify(rows, s);
        int traced = 0;
        for (int32_t y = 0; y < map.Height(); ++y) {
            for (int32_t x = 0; x < map.Width(); ++x) {
                const uint8_t shown = out[static_cast<size_t>(y * map.Width() + x)];
                ASSERT_EQ(shown == kBackgroundClass ? kUntracedClass : shown, map.Row(y)[x]) << x << "," << y << " N " << n;
                traced += shown != kUntracedClass && shown != kBackgroundClass;
            }
        }
        EXPECT_GT(traced, 500) << n;
    }
}

TEST(MatchRule, TheVisiblePartOfAnA4ScanIsClassifiedWellWithinATenthOfASecond) {
    // 10200 x 14040 is not needed: only the visible part plus the margin is
    // read, so a picture a little larger than that part times the same work.
    const int32_t width = 2000, height = 1600;
    Raster raster(width, height);
    uint32_t state = 99;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = raster.RowBytes(y).data();
        for (int32_t x = 0; x < width * 3; ++x) {
            state = state * 1664525u + 1013904223u;
            row[x] = static_cast<uint8_t>(((x / 3 / 40 + y / 40) % 2 ? 200 : 40) + (state >> 28));
        }
    }
    MatchSettings s;
    s.copper = {0xC8C8C8};
    s.background = {0x282828};
    s.tolerance = 64;
    s.despeckle = 16;
    std::vector<uint8_t> out;
    const auto start = std::chrono::steady_clock::now();
    ClassifyRows(raster, QRect(600, 500, 600, 500), s, out);  // a visible part as the window shows it
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("visible part classified in %.1f ms\n", ms);
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(ms, 100.0);  // timed only in an optimised build without sanitizers
#endif
}


TEST(MatchRule, TheBoardRuleFollowsAChangeOnAScreenfulOfAnA4ScanWithinAFifthOfASecond) {
    // A screen's worth of a 1200-dpi scan and the overlay's slack around it.
    const int32_t width = 1300, height = 1000;
    Raster raster(width, height);
    uint32_t state = 7;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = raster.RowBytes(y).data();
        for (int32_t x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            // Tracks 30 pixels wide every 70 under a green mask, print
            // strokes 8 pixels wide across them, all a little noisy.
            const bool track = x % 70 < 30, print = y % 120 < 8;
            const uint8_t rgb[3] = {static_cast<uint8_t>(print ? 235 : track ? 60 : 20),
                                    static_cast<uint8_t>(print ? 235 : track ? 160 : 90),
                                    static_cast<uint8_t>(print ? 235 : track ? 80 : 40)};
            for (int c = 0; c < 3; ++c) row[x * 3 + 2 - c] = static_cast<uint8_t>(rgb[c] + (state >> (28 + c % 2)));
        }
    }
    MatchSettings s;
    s.copper = {0x50A03C};
    s.background = {0x285A14, 0xEBEBEB};
    s.board = true;
    s.dpi = 1200;
    s.despeckle = 16;
    std::vector<int32_t> xs(static_cast<size_t>(width)), ys(static_cast<size_t>(height));
    for (int32_t i = 0; i < width; ++i) xs[static_cast<size_t>(i)] = i;
    for (int32_t i = 0; i < height; ++i) ys[static_cast<size_t>(i)] = i;
    std::vector<uint8_t> out;
    const auto start = std::chrono::steady_clock::now();
    ClassifyGrid(raster, xs, ys, s, s.despeckle, out);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("a screenful under the board rule classified in %.1f ms\n", ms);
    // The print across a track is copper; the mask between tracks is not.
    EXPECT_EQ(out[static_cast<size_t>(123) * static_cast<size_t>(width) + 15], 1);
    EXPECT_EQ(out[static_cast<size_t>(123) * static_cast<size_t>(width) + 50], kUntracedClass);
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(ms, 200.0);
#endif
}
}  // namespace

// The conversion traces what the overlay shows: a near-red pixel joins the
// red track under a tolerance, and the exact conversion stays as it was.
TEST_F(ScanWindowTest, ConversionUsesTheToleranceAndBackgroundColours) {
    openPicture({{kRed, 0x0000F0, kRed, kBlack}});
    pick(QPoint(0, 0), Qt::ControlModifier);

    dialogs_.saveAnswer = FileChoice{path("exact.PCB"), QStringLiteral("PCB (*.PCB)")};
    window_->ToolButton2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs_.notices.size() == 1; }, 20000));
    const QByteArray exact = readAll(path("exact.PCB"));
    EXPECT_EQ(exact.count("FT\r\n"), 2) << exact.toStdString();  // two lone red pixels

    match().spnTolerance->setValue(20);
    dialogs_.saveAnswer = FileChoice{path("tolerant.PCB"), QStringLiteral("PCB (*.PCB)")};
    window_->ToolButton2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs_.notices.size() == 2; }, 20000));
    const QByteArray tolerant = readAll(path("tolerant.PCB"));
    EXPECT_EQ(tolerant.count("FT\r\n"), 1) << tolerant.toStdString();  // one run of three
    EXPECT_TRUE(tolerant.contains("FT\r\n0 0 5 0 2 1 1\r\n")) << tolerant.toStdString();
}

// The board rule in the window: a hole colour picked apart, the overlay and
// the conversion under the rule, the suggestion, and RULE in set.ini.
TEST_F(ScanWindowTest, TheBoardRuleTakesHolesTracesWhatItShowsAndIsSavedOnlyWhenOn) {
    constexpr uint32_t kMask = 0x0A0A0A, kTrack = 0x3C3C3C, kPrint = 0xF0F0F0, kLid = 0xFCFCFC;
    std::vector<std::vector<uint32_t>> rows(13, {kMask, kTrack, kPrint, kPrint, kTrack, kMask, kTrack, kTrack, kTrack,
                                                 kTrack, kTrack, kTrack, kTrack, kTrack, kTrack, kMask});
    for (int y = 5; y <= 7; ++y) rows[y][9] = rows[y][10] = rows[y][11] = kLid;
    openPicture(rows);
    window_->edtx->setText(QStringLiteral("300"));  // blends looked for a pixel either side
    pick(QPoint(6, 0), Qt::ControlModifier);
    pick(QPoint(0, 0), Qt::ControlModifier | Qt::ShiftModifier);
    pick(QPoint(2, 0), Qt::ControlModifier | Qt::ShiftModifier);
    const QStringList copper = window_->lstCl->entries();
    EXPECT_EQ(copper, QStringList{QStringLiteral("3947580")});

    auto traced = [&](int x, int y) {
        std::vector<uint8_t> out;
        ClassifyRows(*window_->picture(), QRect(0, 0, 16, 13), match().settings(), out);
        return out.at(static_cast<size_t>(y * 16 + x)) != kUntracedClass;
    };
    EXPECT_TRUE(traced(1, 0));  // today's rule: the stroke's edge is the track's colour
    match().chkBoard->setChecked(true);
    pick(QPoint(10, 6), Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(window_->lstCl->entries(), copper);
    EXPECT_EQ(match().lstBg->entries(),
              QStringList({QStringLiteral("657930"), QStringLiteral("15790320"), QString::fromUtf8("孔 16579836")}));
    EXPECT_EQ(match().settings().holes, std::vector<uint32_t>{kLid});
    EXPECT_EQ(match().settings().background, (std::vector<uint32_t>{kMask, kPrint}));
    EXPECT_FALSE(traced(1, 0));
    EXPECT_TRUE(traced(6, 0));
    EXPECT_FALSE(traced(10, 6));

    dialogs_.saveAnswer = FileChoice{path("board.PCB"), QStringLiteral("PCB (*.PCB)")};
    window_->ToolButton2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs_.notices.size() == 1; }, 20000));
    EXPECT_EQ(readAll(path("board.PCB")).count("FT\r\n"), 16);  // a run a row but the three the hole splits

    match().btnSuggest->click();
    ASSERT_EQ(dialogs_.notices.size(), 2);
    EXPECT_TRUE(dialogs_.notices.back().startsWith(QStringLiteral("3947580  #3C3C3C  64.4%  (1,0)\n")))
        << dialogs_.notices.back().toStdString();

    window_.reset();
    EXPECT_TRUE(readAll(path("set.ini")).endsWith("RULE=board\r\n"));
    createWindow();
    EXPECT_TRUE(match().chkBoard->isChecked());
    match().chkBoard->setChecked(false);
    window_.reset();
    EXPECT_TRUE(readAll(path("set.ini")).endsWith("RULE=colour\r\n"));
}
