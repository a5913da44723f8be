// SPDX-License-Identifier: GPL-3.0-or-later
// Window tests for a whole board: both sides open with their own colours,
// the alignment on a pair from the scanner model (residual shown, overlay
// drawn), point pairs with undo, a net picked by a click on both sides,
// the board saved and loaded by KiCad, a close during the work, and the
// window with one picture exactly as it is without a bottom.
#include "bench/BmpWriter.h"
#include "bench/TwoSidedBoard.h"
#include "common/IntText.h"
#include "settings/Settings.h"
#include "ui/DialogService.h"
#include "ui/tests/FakeDialogs.h"
#include "ui/OutputKind.h"
#include "ui/URtcFrmMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <thread>
#include <cstdlib>
#include <deque>
#include <string>

namespace {

using namespace rastrace;
using namespace rastrace::ui;
using rastrace::bench::MakeTwoSidedBoard;
using rastrace::bench::TwoSidedBoard;
using rastrace::bench::TwoSidedOptions;

using rastrace::ui::test::FakeDialogs;

// A model pair, small enough for a window test, big enough for a dozen holes.
const TwoSidedBoard& modelPair() {
    static const TwoSidedBoard board = [] {
        TwoSidedOptions options;
        options.widthMm = 50;
        options.heightMm = 36;
        options.seed = 5;
        return MakeTwoSidedBoard(options);
    }();
    return board;
}

QString colorText(uint32_t packed) { return QString::fromStdString(IntToStr(static_cast<int32_t>(packed))); }

class BoardWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const TwoSidedBoard& board = modelPair();
        rastrace::bench::WriteBitmapFile(board.top, path("top.bmp").toStdString());
        rastrace::bench::WriteBitmapFile(board.bottom, path("bottom.bmp").toStdString());
        window_ = std::make_unique<TRtcFrmMain>(dialogs_, path("set.ini").toStdString());
        window_->handle(&TRtcFrmMain::FormCreate);
        window_->show();
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

    void open(const QString& name, bool bottom) {
        dialogs_.openAnswers.push_back(FileChoice{path(name), QStringLiteral("Bitmaps (*.bmp)")});
        window_->handle(bottom ? &TRtcFrmMain::OpenBottomClick : &TRtcFrmMain::ToolButton1Click);
    }
    // The model's colours on the side shown: copper, the board as a
    // background colour, the lid as the hole colour, a tolerance for the noise.
    void pickColours() {
        const TwoSidedBoard& board = modelPair();
        window_->lstCl->clear();
        window_->lstCl->addItem(colorText(board.copperColor));
        window_->matchPanel()->addBackground(board.boardColor);
        window_->matchPanel()->addHole(board.lidColor);
        window_->matchPanel()->spnTolerance->setValue(60);
    }
    void openBoth() {
        open("top.bmp", false);
        pickColours();
        open("bottom.bmp", true);  // the bottom starts with the top's colours
    }
    bool waitForBoard(int ms = 60000) {
        return QTest::qWaitFor([this] { return !window_->boardWorking(); }, ms) && window_->boardResult() != nullptr;
    }
    // A press of the left button on the view at picture pixel (x, y), the view at zoom 1.
    void click(int x, int y) {
        window_->matchPanel()->setZoom(1.0);
        const QPointF at(x, y);
        QMouseEvent press(QEvent::MouseButtonPress, at, window_->Image1->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_->Image1, &press);
    }

    QTemporaryDir dir_;
    FakeDialogs dialogs_;
    std::unique_ptr<TRtcFrmMain> window_;
};

// One picture: no side bar, the picture where it always was, no board file
// types; a bottom brings the bar and the types, closing it takes them away.
TEST_F(BoardWindowTest, OnePictureIsTheWindowAsItWasAndABottomAddsTheSideBar) {
    open("top.bmp", false);
    pickColours();
    const QRect scroll = window_->ScrollBox1->geometry();
    EXPECT_FALSE(window_->SideBar->isVisible());
    dialogs_.saveAnswer.reset();
    window_->ToolButton2->click();
    for (const QString& type : BoardFileTypes()) EXPECT_FALSE(dialogs_.savedTypes.contains(type));

    open("bottom.bmp", true);
    ASSERT_TRUE(window_->hasBottom());
    EXPECT_TRUE(window_->SideBar->isVisible());
    EXPECT_EQ(window_->shownSide(), BoardSide::Bottom);
    EXPECT_EQ(window_->tabSides->currentIndex(), 1);
    EXPECT_EQ(window_->ScrollBox1->geometry().top(), scroll.top() + window_->SideBar->height());
    EXPECT_EQ(window_->lstCl->entries(), QStringList{colorText(modelPair().copperColor)});
    window_->ToolButton2->click();
    for (const QString& type : BoardFileTypes()) EXPECT_TRUE(dialogs_.savedTypes.contains(type));

    // Each side keeps its own lists and fields.
    window_->matchPanel()->addBackground(0x123456);
    window_->matchPanel()->spnTolerance->setValue(33);
    window_->tabSides->setCurrentIndex(0);
    EXPECT_EQ(window_->shownSide(), BoardSide::Top);
    EXPECT_EQ(window_->matchPanel()->spnTolerance->value(), 60);
    EXPECT_FALSE(window_->matchPanel()->lstBg->entries().contains(colorText(0x123456)));
    EXPECT_EQ(window_->picture()->Width(), modelPair().top.Width());
    window_->tabSides->setCurrentIndex(1);
    EXPECT_EQ(window_->matchPanel()->spnTolerance->value(), 33);
    EXPECT_TRUE(window_->matchPanel()->lstBg->entries().contains(colorText(0x123456)));
    EXPECT_EQ(window_->picture()->Width(), modelPair().bottom.Width());

    // Opened again on the bottom shown: the view shows the new picture.
    open("top.bmp", true);
    EXPECT_EQ(window_->Image1->shownRaster(), window_->picture().get());
    EXPECT_EQ(window_->picture()->Width(), modelPair().top.Width());

    window_->handle(&TRtcFrmMain::CloseBottomClick);
    EXPECT_FALSE(window_->hasBottom());
    EXPECT_FALSE(window_->SideBar->isVisible());
    EXPECT_EQ(window_->ScrollBox1->geometry(), scroll);
    EXPECT_EQ(window_->matchPanel()->spnTolerance->value(), 60);
    EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
}

// The bottom's fields are kept under keys of their own, and only once set.
TEST_F(BoardWindowTest, TheBottomsFieldsAreKeptUnderTheirOwnKeys) {
    openBoth();
    window_->matchPanel()->spnTolerance->setValue(45);
    window_->matchPanel()->spnDespeckle->setValue(7);
    window_->handle(&TRtcFrmMain::FormDestroy);
    const SettingsValues saved = LoadSettings(path("set.ini").toStdString());
    EXPECT_EQ(saved.tolerance, 60);  // the top's, though the bottom was shown
    EXPECT_EQ(saved.bottomTolerance, 45);
    EXPECT_EQ(saved.bottomDespeckle, 7);
}

// The alignment on the model pair: the report, a map within half a pixel
// of the true one, the bottom's copper drawn over the top picture.
TEST_F(BoardWindowTest, AlignsTheModelPairAndDrawsTheBottomOverTheTop) {
    openBoth();
    window_->tabSides->setCurrentIndex(0);
    const QImage before = window_->Image1->grab().toImage();
    window_->btnAlign->click();
    EXPECT_TRUE(window_->boardWorking() || window_->boardResult() != nullptr);
    ASSERT_TRUE(waitForBoard()) << dialogs_.errors.join("\n").toStdString();
    const auto result = window_->boardResult();
    const auto score = rastrace::bench::ScoreMap(modelPair(), result->alignment.bottomToTop);
    EXPECT_LT(score.rmsPx, 0.5);
    EXPECT_LT(score.worstPx, 1.5);
    EXPECT_FALSE(result->onPoints);
    const QString report = window_->lblBoard->text();
    EXPECT_TRUE(report.contains(QString::number(result->alignment.matched))) << report.toStdString();
    EXPECT_TRUE(report.contains(QString::fromStdString(FixedText(result->alignment.rmsPx, 2)))) << report.toStdString();

    // The overlay: pixels of the view now differ, towards its cyan.
    const QImage after = window_->Image1->grab().toImage();
    ASSERT_EQ(before.size(), after.size());
    int64_t bluer = 0;
    for (int y = 0; y < after.height(); y += 2) {
        for (int x = 0; x < after.width(); x += 2) {
            const QColor a = after.pixelColor(x, y), b = before.pixelColor(x, y);
            if (a.blue() > b.blue() + 40 && a.red() < b.red()) ++bluer;
        }
    }
    EXPECT_GT(bluer, 500);
}

// Each side keeps its mirror: a bottom mirrored in the window (back to how
// the board looks from above) is still aligned, through its mirror.
TEST_F(BoardWindowTest, AMirroredBottomKeepsItsMirrorAndStillAligns) {
    openBoth();
    const Raster& scanned = modelPair().bottom;
    window_->SpeedButton1->click();  // the bottom, shown
    ASSERT_EQ(window_->picture()->PixelColor(0, 0), scanned.PixelColor(scanned.Width() - 1, 0));
    window_->tabSides->setCurrentIndex(0);
    EXPECT_EQ(window_->picture()->PixelColor(0, 0), modelPair().top.PixelColor(0, 0));
    window_->tabSides->setCurrentIndex(1);
    EXPECT_EQ(window_->picture()->PixelColor(0, 0), scanned.PixelColor(scanned.Width() - 1, 0));
    window_->btnAlign->click();
    ASSERT_TRUE(waitForBoard()) << dialogs_.errors.join("\n").toStdString();
    // The map is from the bottom as scanned; the view's, from the bottom as shown.
    const auto result = window_->boardResult();
    EXPECT_LT(rastrace::bench::ScoreMap(modelPair(), result->alignment.bottomToTop).worstPx, 1.5);
    const Vec2 shown{10.5, 20.5};
    const Vec2 viaView = result->bottomShownToTop.Apply(shown);
    const Vec2 viaScan = result->alignment.bottomToTop.Apply({scanned.Width() - 10.5, 20.5});
    EXPECT_NEAR(viaView.x, viaScan.x, 1e-6);
    EXPECT_NEAR(viaView.y, viaScan.y, 1e-6);
}

// Point pairs: the residual after each pair from the third on, undo of the
// last one, and the alignment on them.
TEST_F(BoardWindowTest, PointPairsShowTheirResidualAndUndoTheLast) {
    openBoth();
    window_->tabSides->setCurrentIndex(0);
    window_->btnPairs->setChecked(true);
    const TwoSidedBoard& board = modelPair();
    const Affine2 topToBottom = board.bottomToTop.Inverse();
    // Corners of the board and its middle, as the true map places them.
    const double w = board.top.Width(), h = board.top.Height();
    const Vec2 tops[] = {{0.2 * w, 0.2 * h}, {0.8 * w, 0.25 * h}, {0.7 * w, 0.8 * h}, {0.25 * w, 0.75 * h}};
    int pairs = 0;
    for (const Vec2& t : tops) {
        ASSERT_EQ(window_->shownSide(), BoardSide::Top);
        click(static_cast<int>(t.x), static_cast<int>(t.y));
        ASSERT_EQ(window_->shownSide(), BoardSide::Bottom);
        const Vec2 b = topToBottom.Apply({static_cast<int>(t.x) + 0.5, static_cast<int>(t.y) + 0.5});
        click(static_cast<int>(b.x), static_cast<int>(b.y));
        ++pairs;
        EXPECT_EQ(window_->pointPairs(), pairs);
        const QString label = window_->lblBoard->text();
        if (pairs < 3) {
            EXPECT_FALSE(label.contains(QStringLiteral("RMS"))) << label.toStdString();
        } else {
            EXPECT_TRUE(label.contains(QStringLiteral("RMS"))) << label.toStdString();
        }
    }
    window_->btnUndoPair->click();
    EXPECT_EQ(window_->pointPairs(), 3);
    // A top point alone, then undone: the pairs stay three.
    click(10, 10);
    window_->btnUndoPair->click();
    EXPECT_EQ(window_->pointPairs(), 3);
    window_->tabSides->setCurrentIndex(0);

    window_->btnAlign->click();
    ASSERT_TRUE(waitForBoard()) << dialogs_.errors.join("\n").toStdString();
    const auto result = window_->boardResult();
    EXPECT_TRUE(result->onPoints);
    EXPECT_EQ(result->alignment.matched, 3);
    // Clicks are whole pixels: the map is good to a pixel or so.
    EXPECT_LT(rastrace::bench::ScoreMap(board, result->alignment.bottomToTop).worstPx, 3.0);
}

// A click on copper picks its net; the pads of one true net come out in
// it on both sides, a pad of another true net does not.
TEST_F(BoardWindowTest, AClickPicksANetOnBothSides) {
    openBoth();
    window_->tabSides->setCurrentIndex(0);
    window_->btnNets->setChecked(true);  // the first time, it aligns too
    ASSERT_TRUE(waitForBoard()) << dialogs_.errors.join("\n").toStdString();
    const TwoSidedBoard& board = modelPair();
    const rastrace::bench::TruePad* first = nullptr;
    const rastrace::bench::TruePad* same = nullptr;
    for (const auto& pad : board.pads) {
        if (!pad.front || pad.net == 0) continue;
        if (first == nullptr) {
            first = &pad;
        } else if (same == nullptr && pad.net == first->net) {
            same = &pad;
        }
    }
    ASSERT_NE(first, nullptr);
    ASSERT_NE(same, nullptr);
    click(static_cast<int>(first->top.x), static_cast<int>(first->top.y));
    const int32_t net = window_->boardViews().highlight();
    ASSERT_GT(net, 0);
    EXPECT_TRUE(window_->lblBoard->text().contains(QStringLiteral("N%1").arg(net)));
    EXPECT_EQ(window_->boardViews().netAt(QPointF(same->top.x, same->top.y)), net);
    for (const auto& pad : board.pads) {
        if (pad.front && pad.net != first->net && pad.net != 0) {
            EXPECT_NE(window_->boardViews().netAt(QPointF(pad.top.x, pad.top.y)), net);
            break;
        }
    }
    // The bottom: the same net where a through-hole pad of it shows there.
    window_->tabSides->setCurrentIndex(1);
    EXPECT_EQ(window_->boardViews().highlight(), net);
    bool seen = false;
    for (const auto& pad : board.pads) {
        if (pad.throughHole && pad.net == first->net) {
            EXPECT_EQ(window_->boardViews().netAt(QPointF(pad.bottom.x, pad.bottom.y)), net);
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
}

// Saving: a KiCad board written through the board writer, which KiCad loads
// where it is installed; a failed alignment leaves an old file as it was.
TEST_F(BoardWindowTest, SavesAKiCadBoardAndAFailureLeavesTheOldOne) {
    openBoth();
    dialogs_.saveAnswer = FileChoice{path("board.kicad_pcb"), BoardFileTypes()[0]};
    window_->ToolButton2->click();
    ASSERT_TRUE(waitForBoard()) << dialogs_.errors.join("\n").toStdString();
    QFile file(path("board.kicad_pcb"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    file.close();
    EXPECT_TRUE(text.startsWith("(kicad_pcb")) << text.left(40).toStdString();
    EXPECT_EQ(dialogs_.notices.size(), 1);
    const auto result = window_->boardResult();

    if (std::system("/usr/bin/python3 -c 'import pcbnew' >/dev/null 2>&1") == 0) {
        const std::string command = "/usr/bin/python3 " RASTRACE_SOURCE_DIR "/tests/kicad_board_check.py '" +
                                    path("board.kicad_pcb").toStdString() + "' " +
                                    std::to_string(result->model.regions.size()) + " " +
                                    std::to_string(result->model.nets.size());
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    } else {
        std::puts("KiCad's pcbnew module is not installed (Debian package kicad): the board was not loaded");
    }

    // The top as both sides: the holes cannot match a mirror image of
    // themselves, so nothing is written and the old board stays.
    window_->handle(&TRtcFrmMain::CloseBottomClick);
    open("top.bmp", true);
    dialogs_.saveAnswer = FileChoice{path("board.kicad_pcb"), BoardFileTypes()[0]};
    window_->ToolButton2->click();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->boardWorking(); }, 60000));
    EXPECT_EQ(dialogs_.errors.size(), 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), text);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).size(), 3) << QDir(dir_.path()).entryList().join(" ").toStdString();
}

// A report that arrives after its work was stopped (here by a mirror) is
// dropped: the board shown never belongs to pictures no longer shown.
TEST_F(BoardWindowTest, AReportOfStoppedWorkIsDropped) {
    openBoth();
    window_->btnAlign->click();
    // No events are handled meanwhile: the work ends and its report waits
    // in the queue behind the mirror.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    window_->SpeedButton1->click();
    QTest::qWait(100);
    EXPECT_EQ(window_->boardResult(), nullptr);
    EXPECT_FALSE(window_->boardWorking());
    EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join("\n").toStdString();
}

// A close while the sides are traced stops the work and leaves nothing.
TEST_F(BoardWindowTest, AClosedWindowStopsTheWorkAndLeavesNothing) {
    openBoth();
    dialogs_.saveAnswer = FileChoice{path("board.gbrjob"), BoardFileTypes()[1]};
    window_->ToolButton2->click();
    window_->close();
    window_.reset();
    QTest::qWait(20);
    const QStringList left = QDir(dir_.path()).entryList(QDir::Files);
    EXPECT_EQ(left, (QStringList{"bottom.bmp", "set.ini", "top.bmp"})) << left.join(" ").toStdString();
}

}  // namespace
