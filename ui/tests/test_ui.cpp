// SPDX-License-Identifier: GPL-3.0-or-later
// Window tests: the main window, its dialogs and the about box, driven
// through their controls on the offscreen platform. Every dialog and
// message box is answered by FakeDialogs, so nothing waits for a user.
#include "formats/Formats.h"
#include "settings/Settings.h"
#include "support/BmpBuilder.h"
#include "support/Files.h"
#include "support/PictureWriter.h"
#include "support/TrackText.h"
#include "ui/AppLook.h"
#include "ui/DialogService.h"
#include "ui/OpenPictureDialog.h"
#include "ui/URtcFrmMain.h"
#include "ui/untAbout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <vector>

namespace {

using namespace rastrace;
using namespace rastrace::ui;

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;

// Answers the window's dialogs from queues and records what was asked.
class FakeDialogs : public DialogService {
public:
    struct SaveAsk {
        QString filter, suffix, initial;
    };

    std::optional<FileChoice> openPicture(QWidget*, const QStringList& filters, const FileChoice& initial) override {
        openFilters.push_back(filters);
        openInitials.push_back(initial);
        if (openAnswers.empty()) return std::nullopt;
        auto answer = openAnswers.front();
        openAnswers.pop_front();
        return answer;
    }
    std::optional<QString> saveFile(QWidget*, const QString& filter, const QString& suffix,
                                    const QString& initial) override {
        saveAsks.push_back({filter, suffix, initial});
        if (saveAnswers.empty()) return std::nullopt;
        auto answer = saveAnswers.front();
        saveAnswers.pop_front();
        return answer;
    }
    void showError(QWidget*, const QString& text) override { errors.append(text); }
    void showNotice(QWidget*, const QString& text, const QString& caption) override {
        notices.append(caption + u'|' + text);
    }
    void execDialog(QDialog& dialog) override {
        ++dialogsShown;
        if (onDialog) onDialog(dialog);
    }

    std::deque<std::optional<FileChoice>> openAnswers;
    std::vector<QStringList> openFilters;
    std::vector<FileChoice> openInitials;
    std::deque<std::optional<QString>> saveAnswers;
    std::vector<SaveAsk> saveAsks;
    QStringList errors;
    QStringList notices;
    std::function<void(QDialog&)> onDialog;
    int dialogsShown = 0;
};

// A 24-bit bottom-up BMP of rows (row 0 at the top), colours packed 0x00BBGGRR.
void writeBmp(const QString& path, const std::vector<std::vector<uint32_t>>& rows) {
    rastrace::test::WriteFile(path.toStdString(), rastrace::test::Bmp24FromPacked(rows));
}

void writeText(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void sendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint at) {
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button,
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::MouseButtons(button), mods);
    QApplication::sendEvent(target, &event);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        createWindow();
    }

    void createWindow(const QString& settings = {}) {
        window_ = std::make_unique<TRtcFrmMain>(dialogs_, (settings.isEmpty() ? path("set.ini") : settings).toStdString());
        window_->handle(&TRtcFrmMain::FormCreate);
        window_->show();
    }

    QString path(const QString& name) const { return dir_.filePath(name); }

    // The Open command answered with path.
    void open(const QString& path, const QString& filter = QStringLiteral("Bitmaps (*.bmp)")) {
        dialogs_.openAnswers.push_back(FileChoice{path, filter});
        window_->ToolButton1->click();
    }

    // Opens a fresh picture of rows.
    void openPicture(const std::vector<std::vector<uint32_t>>& rows, const QString& name = QStringLiteral("p.bmp")) {
        writeBmp(path(name), rows);
        open(path(name));
    }

    void moveOver(int x, int y) {
        sendMouse(window_->Image1, QEvent::MouseMove, Qt::NoButton, Qt::NoModifier, QPoint(x, y));
    }
    void pressPicture(Qt::MouseButton button, Qt::KeyboardModifiers mods, int x, int y) {
        sendMouse(window_->Image1, QEvent::MouseButtonPress, button, mods, QPoint(x, y));
        sendMouse(window_->Image1, QEvent::MouseButtonRelease, button, mods, QPoint(x, y));
    }
    void pick(int x, int y, Qt::KeyboardModifiers mods = Qt::ControlModifier) {
        moveOver(x, y);
        pressPicture(Qt::LeftButton, mods, x, y);
    }
    void pressList(Qt::MouseButton button, Qt::KeyboardModifiers mods, int row) {
        QListWidget* list = window_->lstCl;
        const QPoint at = list->visualItemRect(list->item(row)).center();
        sendMouse(list->viewport(), QEvent::MouseButtonPress, button, mods, at);
        sendMouse(list->viewport(), QEvent::MouseButtonRelease, button, mods, at);
    }

    // Starts a conversion into name and returns its full path.
    QString startConversion(const QString& name) {
        dialogs_.saveAnswers.push_back(path(name));
        window_->ToolButton2->click();
        return path(name);
    }

    // Runs the event loop until the notice or an error box has been shown.
    bool waitForCompletion() {
        const auto shown = dialogs_.notices.size() + dialogs_.errors.size();
        return QTest::qWaitFor([&] { return dialogs_.notices.size() + dialogs_.errors.size() > shown; }, 20000);
    }

    QTemporaryDir dir_;
    FakeDialogs dialogs_;
    std::unique_ptr<TRtcFrmMain> window_;
};

// 4 x 1: three red pixels at columns 0-2 and a black one at column 3.
const std::vector<std::vector<uint32_t>> kRedRun = {{kRed, kRed, kRed, kBlack}};
// The PCB file of kRedRun for the colour red at 600 dpi, width 2, layer 1.
const QByteArray kRedRunPcb = "PCB FILE 4\r\nFT\r\n0 0 5 0 2 1 1\r\n1\r\nENDPCB\r\n";

// ---- Start state ----------------------------------------------------------

TEST_F(WindowTest, StartsWithTheTextsAndStatesOfItsLayout) {
    TRtcFrmMain& w = *window_;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Rastrace For Win"));
    EXPECT_EQ(w.size(), QSize(792, 566));
    EXPECT_EQ(w.ToolButton1->toolTip(), QString::fromUtf8("打开图片"));
    EXPECT_EQ(w.ToolButton2->toolTip(), QString::fromUtf8("转换"));
    EXPECT_EQ(w.ToolButton4->toolTip(), QString::fromUtf8("关于"));
    EXPECT_EQ(w.RadioButton1->text(), QString::fromUtf8("转换成PCB格式"));
    EXPECT_EQ(w.RadioButton2->text(), QString::fromUtf8("转换成ASC格式"));
    EXPECT_TRUE(w.RadioButton1->isChecked());
    EXPECT_FALSE(w.RadioButton2->isChecked());
    EXPECT_EQ(w.SpeedButton1->text(), QString::fromUtf8("水平镜像"));
    EXPECT_EQ(w.SpeedButton2->text(), QString::fromUtf8("垂直镜像"));
    EXPECT_EQ(w.GroupBox1->title(), QString::fromUtf8("X,Y方向分辨率"));
    EXPECT_EQ(w.GroupBox2->title(), QString::fromUtf8("保留区颜色设置"));
    EXPECT_EQ(w.GroupBox3->title(), QString::fromUtf8("转出设置"));
    EXPECT_EQ(w.Label1->text(), QString::fromUtf8("转出层："));
    EXPECT_EQ(w.Label2->text(), QString::fromUtf8("线宽(Mil)："));
    QStringList layers;
    for (int i = 0; i < w.cmbbox->count(); ++i) layers.append(w.cmbbox->itemText(i));
    EXPECT_EQ(layers, QStringList({"Top  Layer", "1  Mid  layer", "2  Mid  layer", "3  Mid  layer", "4  Mid  layer",
                                   "Bottom  layer", "Top  Overlay", "Bottom  Overlay"}));
    EXPECT_EQ(w.cmbbox->currentIndex(), 0);
    EXPECT_FALSE(w.cmbbox->isEditable());
    EXPECT_EQ(w.edtx->text(), QStringLiteral("600"));
    EXPECT_EQ(w.edty->text(), QStringLiteral("600"));
    EXPECT_EQ(w.edtmil->text(), QStringLiteral("2"));
    EXPECT_EQ(w.lstCl->count(), 0);
    EXPECT_EQ(w.pColor->color(), kWhite);
    EXPECT_EQ(w.prgbr->maximum(), 100);
    EXPECT_EQ(w.prgbr->value(), 0);
    EXPECT_EQ(w.Image1->size(), QSize(121, 105));
    EXPECT_EQ(w.ImageList1.size(), 3);
    for (const QPixmap& image : w.ImageList1) EXPECT_EQ(image.size(), QSize(48, 48));

    // Only Open and About respond before the first picture.
    EXPECT_TRUE(w.ToolButton1->isEnabled());
    EXPECT_TRUE(w.ToolButton4->isEnabled());
    EXPECT_FALSE(w.ToolButton2->isEnabled());
    EXPECT_FALSE(w.Panel1->isEnabled());
    EXPECT_FALSE(w.Panel2->isEnabled());
    EXPECT_FALSE(w.ScrollBox1->isEnabled());
    EXPECT_TRUE(w.ready());
    EXPECT_EQ(w.picture(), nullptr);
}

TEST_F(WindowTest, ColumnAndBarKeepTheirSizeWhenTheWindowIsResized) {
    TRtcFrmMain& w = *window_;
    for (QSize client : {QSize(792, 566), QSize(1100, 800)}) {
        w.resize(client);
        QApplication::processEvents();
        EXPECT_EQ(w.CoolBar1->geometry(), QRect(0, 0, client.width(), 58));
        EXPECT_EQ(w.prgbr->geometry(), QRect(0, client.height() - 17, client.width(), 17));
        EXPECT_EQ(w.Panel2->geometry(), QRect(0, 58, 185, client.height() - 58 - 17));
        EXPECT_EQ(w.ScrollBox1->geometry(), QRect(185, 58, client.width() - 185, client.height() - 58 - 17));
    }
}

TEST_F(WindowTest, PressesBeforeAnyPictureDoNothing) {
    window_->lstCl->addItem(QStringLiteral("255"));
    pick(5, 5);
    pressList(Qt::RightButton, Qt::ControlModifier, 0);
    window_->ToolButton2->click();
    EXPECT_EQ(window_->lstCl->count(), 1);
    EXPECT_EQ(window_->pColor->color(), kWhite);
    EXPECT_TRUE(dialogs_.saveAsks.empty());
}

// ---- Open -----------------------------------------------------------------

TEST_F(WindowTest, OpenShowsThePictureAndEnablesTheControls) {
    openPicture({{kRed, kGreen, kBlue}, {kBlack, kWhite, kRed}});
    TRtcFrmMain& w = *window_;
    ASSERT_NE(w.picture(), nullptr);
    EXPECT_EQ(w.Image1->size(), QSize(3, 2));
    EXPECT_TRUE(w.ToolButton2->isEnabled());
    EXPECT_TRUE(w.Panel1->isEnabled());
    EXPECT_TRUE(w.Panel2->isEnabled());
    EXPECT_TRUE(w.ScrollBox1->isEnabled());
    EXPECT_TRUE(dialogs_.errors.isEmpty());

    // Drawn at one screen pixel per raster pixel, top row at the top, in
    // the raster's own colours.
    const QImage shown = w.Image1->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(0, 0)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shown.pixel(1, 0)), QColor(0, 255, 0));
    EXPECT_EQ(QColor(shown.pixel(2, 0)), QColor(0, 0, 255));
    EXPECT_EQ(QColor(shown.pixel(0, 1)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(shown.pixel(1, 1)), QColor(255, 255, 255));
}

TEST_F(WindowTest, OpenShowsATiffTurnedAsItsOrientationTagSays) {
    // Stored 3 x 2 (red, green, blue over black, white, red), to be shown
    // turned a quarter clockwise: 2 x 3, the stored bottom row on the left.
    rastrace::test::TiffPicture p;
    p.width = 3;
    p.height = 2;
    p.samples = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0};
    p.orientation = 6;
    rastrace::test::WriteFile(path("turned.tif").toStdString(), rastrace::test::WriteTiff(p));
    open(path("turned.tif"));
    TRtcFrmMain& w = *window_;
    ASSERT_NE(w.picture(), nullptr);
    EXPECT_EQ(w.Image1->size(), QSize(2, 3));
    const QImage shown = w.Image1->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(0, 0)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(shown.pixel(1, 0)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shown.pixel(1, 2)), QColor(0, 0, 255));
    EXPECT_EQ(QColor(shown.pixel(0, 2)), QColor(255, 0, 0));
}

TEST_F(WindowTest, FailedFirstOpenKeepsTheControlsDisabled) {
    writeText(path("notes.bmp"), "this is not a bitmap, just some text");
    open(path("notes.bmp"));
    ASSERT_EQ(dialogs_.errors, QStringList{QStringLiteral("Bitmap image is not valid.")});
    EXPECT_EQ(window_->picture(), nullptr);
    EXPECT_FALSE(window_->ToolButton2->isEnabled());
    EXPECT_FALSE(window_->Panel1->isEnabled());
    EXPECT_FALSE(window_->Panel2->isEnabled());
    EXPECT_FALSE(window_->ScrollBox1->isEnabled());
    EXPECT_EQ(window_->Image1->size(), QSize(121, 105));
}

TEST_F(WindowTest, FailedOpenKeepsThePreviousPicture) {
    openPicture(kRedRun);
    const auto before = window_->picture();
    open(path("missing.bmp"));
    ASSERT_EQ(dialogs_.errors.size(), 1);
    EXPECT_TRUE(dialogs_.errors[0].startsWith(QStringLiteral("Cannot open file \""))) << dialogs_.errors[0].toStdString();
    EXPECT_EQ(window_->picture(), before);
    EXPECT_EQ(window_->Image1->shownRaster(), before.get());
    EXPECT_EQ(window_->Image1->size(), QSize(4, 1));
    EXPECT_TRUE(window_->ToolButton2->isEnabled());
}

TEST_F(WindowTest, EmptyFileGivesAnEmptyPictureAndTheControlSizeStays) {
    openPicture(kRedRun);
    writeText(path("empty.bmp"), "");
    open(path("empty.bmp"));
    EXPECT_TRUE(dialogs_.errors.isEmpty());
    ASSERT_NE(window_->picture(), nullptr);
    EXPECT_TRUE(window_->picture()->Empty());
    EXPECT_EQ(window_->Image1->size(), QSize(4, 1));
    // Every point is now outside the picture; such a colour is never listed.
    pick(1, 0);
    EXPECT_EQ(window_->pColor->color(), kInvalidColor);
    EXPECT_EQ(window_->lstCl->count(), 0);
}

TEST_F(WindowTest, OpenDialogRemembersNameAndTypeButNotACancel) {
    writeBmp(path("a.bmp"), kRedRun);
    open(path("a.bmp"), QStringLiteral("Bitmaps (*.bmp)"));
    window_->ToolButton1->click();  // cancelled: no answer queued
    window_->ToolButton1->click();
    ASSERT_EQ(dialogs_.openInitials.size(), 3u);
    EXPECT_EQ(dialogs_.openInitials[0].fileName, QString());
    EXPECT_EQ(dialogs_.openInitials[0].selectedFilter, QStringLiteral("All (*.bmp;*.ico;*.emf;*.wmf;*.png;*.tif;*.tiff;*.jpg;*.jpeg)"));
    for (size_t i : {1u, 2u}) {
        EXPECT_EQ(dialogs_.openInitials[i].fileName, path("a.bmp"));
        EXPECT_EQ(dialogs_.openInitials[i].selectedFilter, QStringLiteral("Bitmaps (*.bmp)"));
    }
    EXPECT_EQ(dialogs_.openFilters[0],
              QStringList({"All (*.bmp;*.ico;*.emf;*.wmf;*.png;*.tif;*.tiff;*.jpg;*.jpeg)", "Bitmaps (*.bmp)",
                           "Icons (*.ico)", "Enhanced Metafiles (*.emf)", "Metafiles (*.wmf)", "PNG (*.png)",
                           "TIFF (*.tif;*.tiff)", "JPEG (*.jpg;*.jpeg)"}));
}

TEST_F(WindowTest, OpenReadsAnyNameAsABitmapAndKeepsTheColourList) {
    openPicture(kRedRun);
    pick(0, 0);
    openPicture({{kBlue, kBlue}}, QStringLiteral("scan.dat"));
    EXPECT_TRUE(dialogs_.errors.isEmpty());
    EXPECT_EQ(window_->Image1->size(), QSize(2, 1));
    EXPECT_EQ(window_->lstCl->entries(), QStringList{QStringLiteral("255")});
}

// ---- Mirrors --------------------------------------------------------------

std::vector<uint8_t> pixelBytes(const Raster& raster) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < raster.Height(); ++y) {
        const auto row = raster.RowBytes(y);
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    return bytes;
}

TEST_F(WindowTest, EachMirrorTwiceRestoresThePicture) {
    openPicture({{kRed, kGreen, kBlue}, {kBlack, kWhite, kRed}});
    const std::vector<uint8_t> original = pixelBytes(*window_->picture());
    for (QToolButton* mirror : {window_->SpeedButton1, window_->SpeedButton2}) {
        mirror->click();
        EXPECT_NE(pixelBytes(*window_->picture()), original);
        mirror->click();
        EXPECT_EQ(pixelBytes(*window_->picture()), original);
    }
}

TEST_F(WindowTest, MirrorsChangeThePictureAndTheDisplayAtOnce) {
    openPicture({{kRed, kGreen, kBlue}, {kBlack, kWhite, kRed}});
    window_->SpeedButton1->click();
    EXPECT_EQ(window_->picture()->PixelColor(0, 0), kBlue);
    EXPECT_EQ(QColor(window_->Image1->grab().toImage().pixel(0, 0)), QColor(0, 0, 255));
    window_->SpeedButton2->click();
    EXPECT_EQ(window_->picture()->PixelColor(0, 0), kRed);  // bottom row, mirrored: red, white, black
    EXPECT_EQ(window_->picture()->PixelColor(2, 0), kBlack);
    EXPECT_EQ(window_->Image1->size(), QSize(3, 2));
}

// ---- Colour picking -------------------------------------------------------

struct PickCase {
    const char* name;
    Qt::MouseButton button;
    Qt::KeyboardModifiers mods;
    bool adds;
    bool addsBackground = false;
};

class PickTest : public WindowTest, public ::testing::WithParamInterface<PickCase> {};

TEST_P(PickTest, OnlyCtrlWithTheLeftButtonAddsTheSwatchColour) {
    const PickCase& c = GetParam();
    openPicture(kRedRun);
    moveOver(1, 0);
    EXPECT_EQ(window_->pColor->color(), kRed);
    pressPicture(c.button, c.mods, 1, 0);
    EXPECT_EQ(window_->lstCl->entries(), c.adds ? QStringList{QStringLiteral("255")} : QStringList{});
    EXPECT_EQ(window_->matchPanel()->lstBg->entries(),
              c.addsBackground ? QStringList{QStringLiteral("255")} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, PickTest,
    ::testing::Values(PickCase{"CtrlLeft", Qt::LeftButton, Qt::ControlModifier, true},
                      PickCase{"CtrlShiftLeft", Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier, false, true},
                      PickCase{"CtrlShiftAltLeft", Qt::LeftButton,
                               Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier, false, true},
                      PickCase{"CtrlAltLeft", Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, true},
                      PickCase{"PlainLeft", Qt::LeftButton, Qt::NoModifier, false},
                      PickCase{"ShiftLeft", Qt::LeftButton, Qt::ShiftModifier, false},
                      PickCase{"CtrlRight", Qt::RightButton, Qt::ControlModifier, false},
                      PickCase{"CtrlMiddle", Qt::MiddleButton, Qt::ControlModifier, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, PicksListColoursAsDecimalTextOnceEach) {
    openPicture({{kBlack, kWhite, kRed, kBlue, kRed, 0x808080}});
    for (int x = 0; x < 6; ++x) pick(x, 0);
    pick(0, 0);  // black again
    EXPECT_EQ(window_->lstCl->entries(), QStringList({"0", "16777215", "255", "16711680", "8421504"}));

    // The same colour from another picture is not added again either.
    openPicture({{kRed}}, QStringLiteral("other.bmp"));
    pick(0, 0);
    EXPECT_EQ(window_->lstCl->count(), 5);
}

TEST_F(WindowTest, APressAddsTheSwatchColourNotThePixelUnderThePress) {
    openPicture({{kRed, kBlue}});
    moveOver(0, 0);
    pressPicture(Qt::LeftButton, Qt::ControlModifier, 1, 0);
    EXPECT_EQ(window_->lstCl->entries(), QStringList{QStringLiteral("255")});
}

TEST_F(WindowTest, AColourFromOutsideThePictureIsNeverListed) {
    openPicture(kRedRun);
    moveOver(10, 10);  // dragged beyond the picture's edge
    EXPECT_EQ(window_->pColor->color(), kInvalidColor);
    pressPicture(Qt::LeftButton, Qt::ControlModifier, 10, 10);
    EXPECT_EQ(window_->lstCl->count(), 0);
}

TEST_F(WindowTest, LeftPressOnTheListShowsTheEntryInTheSwatch) {
    openPicture({{kRed, kBlue}});
    pick(0, 0);
    pick(1, 0);
    pressList(Qt::LeftButton, Qt::NoModifier, 0);
    EXPECT_EQ(window_->lstCl->currentRow(), 0);
    EXPECT_EQ(window_->pColor->color(), kRed);
    moveOver(1, 0);
    EXPECT_EQ(window_->pColor->color(), kBlue);
}

TEST_F(WindowTest, LeftPressWithModifiersStillSelectsTheEntry) {
    openPicture({{kRed, kBlue}});
    pick(0, 0);
    pick(1, 0);
    pressList(Qt::LeftButton, Qt::NoModifier, 1);
    moveOver(0, 0);
    for (Qt::KeyboardModifiers mods : {Qt::ControlModifier, Qt::ShiftModifier, Qt::AltModifier}) {
        pressList(Qt::LeftButton, mods, 1);  // on the entry already selected
        ASSERT_EQ(window_->lstCl->selectedItems().size(), 1);
        EXPECT_EQ(window_->lstCl->selectedItems().first()->text(), QStringLiteral("16711680"));
        EXPECT_EQ(window_->pColor->color(), kBlue);
    }
}

TEST_F(WindowTest, CtrlRightDeletesTheSelectedEntryAndLeavesNoneSelected) {
    openPicture({{kRed, kGreen, kBlue}});
    for (int x = 0; x < 3; ++x) pick(x, 0);
    pressList(Qt::LeftButton, Qt::NoModifier, 0);  // select "255"; the swatch shows red
    pressList(Qt::RightButton, Qt::ControlModifier, 2);  // pointer on another entry
    EXPECT_EQ(window_->lstCl->entries(), QStringList({"65280", "16711680"}));
    EXPECT_TRUE(window_->lstCl->selectedItems().isEmpty());
    EXPECT_EQ(window_->pColor->color(), kRed);

    pressList(Qt::RightButton, Qt::ControlModifier, 0);  // nothing selected: nothing deleted
    pressList(Qt::RightButton, Qt::NoModifier, 0);
    EXPECT_EQ(window_->lstCl->count(), 2);
    pressList(Qt::LeftButton, Qt::NoModifier, 1);
    pressList(Qt::RightButton, Qt::NoModifier, 1);  // right without Ctrl keeps it
    EXPECT_EQ(window_->lstCl->count(), 2);
    EXPECT_EQ(window_->lstCl->currentRow(), 1);
}

// ---- Key filter -----------------------------------------------------------

class KeyFilterTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        openPicture(kRedRun);  // the fields take keys once a picture is open
    }
};

TEST_F(KeyFilterTest, OnlyDigitsAreTyped) {
    for (QLineEdit* field : {window_->edtx, window_->edty, window_->edtmil}) {
        field->clear();
        QTest::keyClicks(field, QStringLiteral("6a0"));
        EXPECT_EQ(field->text(), QStringLiteral("60"));
        QTest::keyClicks(field, QStringLiteral(" -+.x"));
        QKeyEvent wide(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("中"));
        QApplication::sendEvent(field, &wide);
        EXPECT_EQ(field->text(), QStringLiteral("60"));
    }
}

TEST_F(KeyFilterTest, BackspaceEnterAndEscapeAreDiscarded) {
    QLineEdit* field = window_->edtx;
    field->setText(QStringLiteral("600"));
    field->end(false);
    for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(field, key);
        EXPECT_EQ(field->text(), QStringLiteral("600"));
    }
}

TEST_F(KeyFilterTest, DeleteAndTheArrowKeysStillWork) {
    QLineEdit* field = window_->edtmil;
    field->setText(QStringLiteral("1234"));
    field->end(false);
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(field->text(), QStringLiteral("124"));
    QTest::keyClick(field, Qt::Key_Home);
    QTest::keyClicks(field, QStringLiteral("9"));
    EXPECT_EQ(field->text(), QStringLiteral("9124"));
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(field->text(), QString());
}

TEST_F(KeyFilterTest, ClipboardShortcutsAreDiscarded) {
    QLineEdit* field = window_->edty;
    QGuiApplication::clipboard()->setText(QStringLiteral("77"));
    field->setText(QStringLiteral("600"));
    field->end(false);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("600"));
    field->selectAll();
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("600"));
    // Text that does not come from typing is not checked.
    field->end(false);
    field->paste();
    EXPECT_EQ(field->text(), QStringLiteral("60077"));
}

// ---- Conversion -----------------------------------------------------------

TEST_F(WindowTest, ConvertsToTheExactPcbFile) {
    openPicture(kRedRun);
    pick(0, 0);
    const QString out = startConversion(QStringLiteral("out.PCB"));
    EXPECT_FALSE(window_->ready());
    EXPECT_FALSE(window_->ToolButton2->isEnabled());
    ASSERT_TRUE(waitForCompletion());
    EXPECT_EQ(dialogs_.notices, QStringList{QString::fromUtf8("提示|转换完成！")});
    EXPECT_TRUE(dialogs_.errors.isEmpty());
    EXPECT_EQ(readAll(out), kRedRunPcb);
    EXPECT_TRUE(window_->ready());
    EXPECT_TRUE(window_->ToolButton2->isEnabled());
    EXPECT_EQ(window_->prgbr->value(), window_->prgbr->maximum());
    ASSERT_EQ(dialogs_.saveAsks.size(), 1u);
    EXPECT_EQ(dialogs_.saveAsks[0].filter, QStringLiteral("PCB (*.PCB)"));
    EXPECT_EQ(dialogs_.saveAsks[0].suffix, QStringLiteral("PCB"));
    EXPECT_EQ(dialogs_.saveAsks[0].initial, QString());
}

TEST_F(WindowTest, ConvertsToTheExactAscFileAndKeepsCountingItems) {
    openPicture(kRedRun);
    pick(0, 0);
    window_->RadioButton2->click();
    window_->edtmil->setText(QStringLiteral("8"));
    window_->cmbbox->setCurrentIndex(5);
    const Track track{0, 0, 5, 0};
    for (int32_t number : {1, 2}) {
        const QString out = startConversion(QStringLiteral("out.ASC"));
        ASSERT_TRUE(waitForCompletion());
        const std::string expected =
            std::string(HeaderText(OutputFormat::Asc)) + rastrace::test::AscRecord(number, track, "8", "6") + "\r\n" +
            std::string(TrailerText(OutputFormat::Asc));
        EXPECT_EQ(readAll(out).toStdString(), expected);
        EXPECT_EQ(window_->polyCount(), number);
    }
    ASSERT_EQ(dialogs_.saveAsks.size(), 2u);
    EXPECT_EQ(dialogs_.saveAsks[0].filter, QStringLiteral("ASC (*.ASC)"));
    EXPECT_EQ(dialogs_.saveAsks[0].suffix, QStringLiteral("ASC"));
    EXPECT_EQ(dialogs_.saveAsks[1].initial, path("out.ASC"));  // the name chosen the first time
}

TEST_F(WindowTest, NoLayerSelectedWritesLayerZero) {
    openPicture(kRedRun);
    pick(0, 0);
    window_->cmbbox->setCurrentIndex(-1);
    const QString out = startConversion(QStringLiteral("none.PCB"));
    ASSERT_TRUE(waitForCompletion());
    EXPECT_EQ(readAll(out), QByteArray("PCB FILE 4\r\nFT\r\n0 0 5 0 2 0 1\r\n1\r\nENDPCB\r\n"));
}

TEST_F(WindowTest, ConvertWithAnEmptyListOrACancelledDialogDoesNothing) {
    openPicture(kRedRun);
    window_->ToolButton2->click();
    EXPECT_TRUE(dialogs_.saveAsks.empty());
    pick(0, 0);
    window_->ToolButton2->click();  // no answer queued: cancelled
    EXPECT_EQ(dialogs_.saveAsks.size(), 1u);
    EXPECT_TRUE(window_->ready());
    EXPECT_TRUE(window_->ToolButton2->isEnabled());
}

TEST_F(WindowTest, ABadResolutionIsShownAndNothingStarts) {
    openPicture(kRedRun);
    pick(0, 0);
    window_->edtx->clear();
    const QString out = startConversion(QStringLiteral("bad.PCB"));
    EXPECT_EQ(dialogs_.errors, QStringList{QStringLiteral("'' is not a valid integer value.")});
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_TRUE(window_->ready());
    EXPECT_TRUE(window_->ToolButton2->isEnabled());
    EXPECT_FALSE(window_->converting());
}

TEST_F(WindowTest, ConvertStaysDisabledWhileRunningEvenAfterAnOpen) {
    openPicture(kRedRun);
    pick(0, 0);
    startConversion(QStringLiteral("first.PCB"));
    ASSERT_TRUE(window_->converting());
    window_->ToolButton2->click();
    EXPECT_EQ(dialogs_.saveAsks.size(), 1u);
    openPicture({{kBlue}}, QStringLiteral("second.bmp"));
    EXPECT_FALSE(window_->ToolButton2->isEnabled());
    window_->ToolButton2Click();  // even called directly it does not rebind the file
    EXPECT_EQ(dialogs_.saveAsks.size(), 1u);
    ASSERT_TRUE(waitForCompletion());
    EXPECT_TRUE(window_->ToolButton2->isEnabled());
}

TEST_F(WindowTest, OpenAndMirrorsDuringAConversionLeaveItsPictureAlone) {
    openPicture(kRedRun);
    pick(0, 0);
    const auto converted = window_->picture();
    const QString out = startConversion(QStringLiteral("snap.PCB"));
    window_->SpeedButton1->click();  // mirrors the window's own copy
    window_->SpeedButton2->click();
    EXPECT_NE(window_->picture(), converted);
    EXPECT_EQ(window_->picture()->PixelColor(0, 0), kBlack);
    EXPECT_EQ(converted->PixelColor(0, 0), kRed);
    openPicture({{kBlack, kRed, kRed, kRed}}, QStringLiteral("other.bmp"));
    ASSERT_TRUE(waitForCompletion());
    EXPECT_EQ(readAll(out), kRedRunPcb);

    // Once the conversion has ended, a mirror works in place again.
    const Raster* own = window_->picture().get();
    window_->SpeedButton1->click();
    EXPECT_EQ(window_->picture().get(), own);
}

// A 200 x 200 checkerboard of red and blue: 40000 one-pixel tracks, about
// a megabyte of PCB text.
std::vector<std::vector<uint32_t>> checkerboard() {
    std::vector<std::vector<uint32_t>> rows(200, std::vector<uint32_t>(200));
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) rows[y][x] = (x + y) % 2 == 0 ? kRed : kBlue;
    return rows;
}

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

TEST_F(WindowTest, ClosingDuringAConversionStopsItKeepsTheOldFileAndSavesNothing) {
    openPicture(checkerboard());
    pick(0, 0);
    pick(1, 0);
    window_->edtx->setText(QStringLiteral("300"));
    writeText(path("big.PCB"), "earlier output");
    const QString out = startConversion(QStringLiteral("big.PCB"));
    ASSERT_TRUE(window_->converting());
    window_->close();
    EXPECT_FALSE(window_->converting());
    EXPECT_EQ(readAll(out), QByteArray("earlier output"));
    window_.reset();
    EXPECT_EQ(filesIn(dir_), QStringList({"big.PCB", "p.bmp"})) << "no temporary file and no set.ini";
    EXPECT_TRUE(dialogs_.errors.isEmpty());
    EXPECT_TRUE(dialogs_.notices.isEmpty());
}

// A file-size limit makes the writes fail half-way, as a full disk does.
TEST_F(WindowTest, AFullDiskIsShownAndKeepsTheOldFile) {
    openPicture(checkerboard());
    pick(0, 0);
    pick(1, 0);
    writeText(path("big.PCB"), "earlier output");
    QString out;
    {
        const rastrace::test::FileSizeLimit limit(100000);
        ASSERT_TRUE(limit.Set());
        out = startConversion(QStringLiteral("big.PCB"));
        ASSERT_TRUE(waitForCompletion());
    }
    EXPECT_EQ(dialogs_.errors, QStringList{QStringLiteral("Disk full.")});
    EXPECT_EQ(readAll(out), QByteArray("earlier output"));
    EXPECT_EQ(filesIn(dir_), QStringList({"big.PCB", "p.bmp"})) << "a temporary file is left";
    EXPECT_TRUE(window_->ready());
}

TEST_F(WindowTest, APipeOrADeviceIsRefusedWithoutWaiting) {
    const QString fifo = path("scan.bmp");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    open(fifo);  // nobody writes to it: reading it would wait for ever
    open(QStringLiteral("/dev/zero"));  // reading it would never end
    EXPECT_EQ(dialogs_.errors, QStringList({QStringLiteral("Cannot open file \"%1\". Not a regular file.").arg(fifo),
                                            QStringLiteral("Cannot open file \"/dev/zero\". Not a regular file.")}));
    EXPECT_EQ(window_->picture(), nullptr);
    EXPECT_FALSE(window_->ToolButton2->isEnabled());
}

// ---- Settings -------------------------------------------------------------

TEST_F(WindowTest, SettingsMakeARoundTripThroughCreateAndDestroy) {
    window_.reset();
    writeText(path("set.ini"), "[OTHER]\r\nKEEP=yes\r\n[CONFIG]\r\nXRES=300\r\nYRES=abc\r\nLAYER=0x3\r\nMIL=8\r\n");
    createWindow();
    EXPECT_EQ(window_->edtx->text(), QStringLiteral("300"));
    EXPECT_EQ(window_->edty->text(), QStringLiteral("abc"));
    EXPECT_EQ(window_->edtmil->text(), QStringLiteral("8"));
    EXPECT_EQ(window_->cmbbox->currentText(), QStringLiteral("3  Mid  layer"));
    window_->edtx->setText(QStringLiteral("150"));
    window_->cmbbox->setCurrentIndex(7);
    window_.reset();

    const SettingsValues saved = LoadSettings(path("set.ini").toStdString());
    EXPECT_EQ(saved.xres, "150");
    EXPECT_EQ(saved.yres, "abc");
    EXPECT_EQ(saved.mil, "8");
    EXPECT_EQ(saved.layer, 7);
    EXPECT_TRUE(readAll(path("set.ini")).contains("[OTHER]\r\nKEEP=yes\r\n"));
}

TEST_F(WindowTest, ALayerOutsideTheBoxSelectsNoneAndIsSavedAsMinusOne) {
    window_.reset();
    writeText(path("set.ini"), "[CONFIG]\r\nLAYER=8\r\n");
    createWindow();
    EXPECT_EQ(window_->cmbbox->currentIndex(), -1);
    EXPECT_EQ(window_->cmbbox->currentText(), QString());
    window_.reset();
    EXPECT_EQ(LoadSettings(path("set.ini").toStdString()).layer, -1);
}

TEST_F(WindowTest, FirstStartWritesTheDefaults) {
    window_.reset();
    EXPECT_EQ(readAll(path("set.ini")), QByteArray("[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n"));
}

TEST_F(WindowTest, ASettingsFileThatCannotBeWrittenIsShownInTheErrorBox) {
    window_.reset();
    const QString settings = path("no-such-folder/set.ini");
    createWindow(settings);
    window_.reset();
    EXPECT_EQ(dialogs_.errors, QStringList{QStringLiteral("Unable to write to %1.").arg(settings)});
}

// A system-wide install: the program's set.ini is the default shown at the
// first start, and the user's own file (made with its folder) is written.
TEST_F(WindowTest, SettingsOfAReadOnlyInstallGoToTheUsersFile) {
    window_.reset();
    QDir().mkpath(path("bin"));
    writeText(path("bin/set.ini"), "[CONFIG]\r\nXRES=1200\r\nYRES=1200\r\nLAYER=5\r\nMIL=8\r\n");
    const std::string userFile = path("home/.config/rastrace/set.ini").toStdString();
    window_ = std::make_unique<TRtcFrmMain>(
        dialogs_, SettingsLocation(userFile, path("bin/set.ini").toStdString(), true));
    window_->handle(&TRtcFrmMain::FormCreate);
    EXPECT_EQ(window_->edtx->text(), QStringLiteral("1200"));
    EXPECT_EQ(window_->cmbbox->currentIndex(), 5);
    window_->edtmil->setText(QStringLiteral("12"));
    window_.reset();

    EXPECT_TRUE(dialogs_.errors.isEmpty());
    EXPECT_EQ(readAll(QString::fromStdString(userFile)),
              QByteArray("[CONFIG]\r\nXRES=1200\r\nYRES=1200\r\nLAYER=5\r\nMIL=12\r\n"));
    EXPECT_EQ(readAll(path("bin/set.ini")), QByteArray("[CONFIG]\r\nXRES=1200\r\nYRES=1200\r\nLAYER=5\r\nMIL=8\r\n"));
}

// ---- About ----------------------------------------------------------------

TEST_F(WindowTest, AboutShowsAFreshFiftySixLineTextEachTime) {
    QStringList texts;
    dialogs_.onDialog = [&](QDialog& dialog) {
        auto* box = qobject_cast<TAboutBox*>(&dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(AboutBox, box);
        EXPECT_EQ(box->windowTitle(), QString::fromUtf8("软件介绍"));
        EXPECT_EQ(box->size(), QSize(386, 213));
        EXPECT_EQ(box->OKButton->text(), QStringLiteral("OK"));
        EXPECT_TRUE(box->OKButton->isDefault());
        EXPECT_FALSE(box->mmoMsg->isReadOnly());
        EXPECT_EQ(box->mmoMsg->geometry(), QRect(8, 8, 353, 145));
        texts.append(box->mmoMsg->toPlainText());
        box->mmoMsg->setPlainText(QStringLiteral("edited by the user"));
    };
    window_->ToolButton4->click();  // before any picture
    window_->ToolButton4->click();
    EXPECT_EQ(dialogs_.dialogsShown, 2);
    EXPECT_EQ(AboutBox, nullptr);
    ASSERT_EQ(texts.size(), 2);
    EXPECT_EQ(texts[0], texts[1]);
    const QStringList lines = texts[0].split(u'\n');
    ASSERT_EQ(lines.size(), 56);
    EXPECT_TRUE(lines[0].contains(QString::fromUtf8("【Rastrace】")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("2.04")));
    EXPECT_TRUE(texts[0].contains(QStringLiteral("2009/07/12")));
    // The history runs newest first.
    const qsizetype v203 = texts[0].indexOf(QStringLiteral("2.03"));
    const qsizetype v10 = texts[0].indexOf(QStringLiteral("V1.0"));
    EXPECT_TRUE(v203 > 0 && v10 > v203);
}

// ---- Open dialog and preview ----------------------------------------------

struct PreviewCase {
    const char* name;
    const char* fileName;
    enum Content { BitmapFile, IconFile, Text, Missing } content;
    const char* caption;
};

class PreviewTest : public ::testing::TestWithParam<PreviewCase> {
protected:
    QTemporaryDir dir_;
};

TEST_P(PreviewTest, PaneShowsTheFileByItsExtension) {
    const PreviewCase& c = GetParam();
    const QString path = dir_.filePath(QString::fromUtf8(c.fileName));
    switch (c.content) {
    case PreviewCase::BitmapFile:
        writeBmp(path, {{kRed, kGreen, kBlue, kBlack, kWhite}, {kRed, kRed, kRed, kRed, kRed}});
        break;
    case PreviewCase::IconFile: {
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(Qt::blue);
        ASSERT_TRUE(icon.save(path, "ICO"));
        break;
    }
    case PreviewCase::Text:
        writeText(path, "not a picture");
        break;
    case PreviewCase::Missing:
        break;
    }
    PreviewPane pane;
    pane.showFile(path);
    EXPECT_EQ(pane.caption(), QStringLiteral("Picture:")) << "nothing is shown before the load ends";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane.loading(); }, 10000));
    EXPECT_EQ(pane.caption(), QString::fromUtf8(c.caption));
    const bool shown = QString::fromUtf8(c.caption) != QStringLiteral("Picture:");
    EXPECT_EQ(pane.previewEnabled(), shown);
    EXPECT_EQ(pane.area()->hasPicture(), shown);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PreviewTest,
    ::testing::Values(PreviewCase{"Bitmap", "a.bmp", PreviewCase::BitmapFile, " (5x2)"},
                      PreviewCase{"BitmapUpperCase", "A.BMP", PreviewCase::BitmapFile, " (5x2)"},
                      PreviewCase{"BitmapOtherName", "a.dat", PreviewCase::BitmapFile, "Picture:"},
                      PreviewCase{"Icon", "a.ico", PreviewCase::IconFile, " (16x16)"},
                      PreviewCase{"BrokenBitmap", "b.bmp", PreviewCase::Text, "Picture:"},
                      PreviewCase{"Metafile", "c.wmf", PreviewCase::Text, "Picture:"},
                      PreviewCase{"EnhancedMetafile", "c.emf", PreviewCase::Text, "Picture:"},
                      PreviewCase{"Missing", "gone.bmp", PreviewCase::Missing, "Picture:"}),
    [](const auto& info) { return std::string(info.param.name); });

// Files whose headers declare huge pictures, and a real large scan: the
// pane shows each without holding up the interface thread, from a reduced
// read whatever the header declares.
TEST(PreviewLoadTest, TheInterfaceThreadStaysFree) {
    QTemporaryDir dir;
    struct HugeFile {
        QString name;
        rastrace::test::BmpBuilder bmp;
        QString caption;
    };
    std::vector<HugeFile> files(3);
    files[0] = {QStringLiteral("onebit.bmp"), {}, QStringLiteral(" (20000x20000)")};
    files[0].bmp.width = files[0].bmp.height = 20000;
    files[0].bmp.bitCount = 1;
    files[0].bmp.palette = {0xC80A0A, 0};
    files[1] = {QStringLiteral("huge.bmp"), {}, QStringLiteral(" (85000x85000)")};
    files[1].bmp.width = files[1].bmp.height = 85000;
    files[2] = {QStringLiteral("scan.bmp"), {}, QStringLiteral(" (6000x4000)")};  // 72 MB of pixels
    files[2].bmp.width = 6000;
    files[2].bmp.height = 4000;
    files[2].bmp.pixels.assign(size_t{6000} * 3 * 4000, 0x40);

    PreviewPane pane;
    pane.resize(300, 300);
    pane.show();
    for (const HugeFile& file : files) {
        const QString path = dir.filePath(file.name);
        rastrace::test::WriteFile(path.toStdString(), file.bmp.Build());
        QElapsedTimer call;
        call.start();
        pane.showFile(path);
        EXPECT_LT(call.elapsed(), 50) << file.name.toStdString();
        // The longest the event loop goes without turning while it loads.
        QElapsedTimer sinceTurn;
        sinceTurn.start();
        qint64 longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceTurn.restart());
        });
        tick.start(5);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !pane.loading(); }, 20000)) << file.name.toStdString();
        QTest::qWait(20);  // the result's first paint
        tick.stop();
        longest = std::max(longest, sinceTurn.elapsed());
        EXPECT_LT(longest, 50) << file.name.toStdString();
        EXPECT_EQ(pane.caption(), file.caption);
        EXPECT_TRUE(pane.previewEnabled());
    }
}

TEST(PreviewWindowTest, FitsThePictureButAtMostThreeQuartersOfTheScreen) {
    EXPECT_EQ(PreviewWindow::clientSizeFor(QSize(100, 50), QSize(1000, 800)), QSize(110, 60));
    EXPECT_EQ(PreviewWindow::clientSizeFor(QSize(3000, 500), QSize(1000, 800)), QSize(750, 510));
    EXPECT_EQ(PreviewWindow::clientSizeFor(QSize(10, 5000), QSize(1000, 800)), QSize(20, 600));
}

TEST(PictureFileDialogTest, OffersTheRememberedChoiceAndFiltersBySemicolonPatterns) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("x.ico"));
    PictureFileDialog dialog(nullptr, TOpenPictureDialog::filters(), FileChoice{file, QStringLiteral("Icons (*.ico)")});
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("Icons (*.ico)"));
    EXPECT_TRUE(dialog.isAncestorOf(dialog.preview()));
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*.ico")});

    PictureFileDialog all(nullptr, TOpenPictureDialog::filters(), FileChoice{});
    EXPECT_EQ(all.selectedNameFilter(), QStringLiteral("All (*.bmp;*.ico;*.emf;*.wmf;*.png;*.tif;*.tiff;*.jpg;*.jpeg)"));
    EXPECT_EQ(all.findChild<QFileSystemModel*>()->nameFilters(),
              QStringList({"*.bmp", "*.ico", "*.emf", "*.wmf", "*.png", "*.tif", "*.tiff", "*.jpg", "*.jpeg"}));

    // A family with two extensions lists both.
    PictureFileDialog tiff(nullptr, TOpenPictureDialog::filters(), FileChoice{{}, QStringLiteral("TIFF (*.tif;*.tiff)")});
    EXPECT_EQ(tiff.findChild<QFileSystemModel*>()->nameFilters(), QStringList({"*.tif", "*.tiff"}));
}

}  // namespace
