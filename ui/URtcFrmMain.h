// SPDX-License-Identifier: GPL-3.0-or-later
// The main window TRtcFrmMain: open a bitmap, mirror it, pick the colours to
// trace, set resolution, width, layer and format, convert, and show the
// about text. Its controls come from one layout table (URtcFrmMainLayout.cpp)
// and its handlers are wired to them in one place, each run through the
// same wrapper, so an error ends only that handler and is shown in the
// standard error box; no exception ever reaches the Qt event loop.
//
// The one fact a caller must know: the window holds the picture as
// std::shared_ptr<Raster> and a conversion reads a snapshot of it. Open and
// the mirror buttons never touch that snapshot: Open replaces the window's
// pointer, and a mirror first copies the picture while a conversion shares
// it. Closing the window during a conversion stops the workers, drops the
// incomplete output (a file it was to replace stays as it was) and leaves
// the settings file as it was. The output is written as the command line
// writes it: replaced whole, and only when the conversion succeeds.
#pragma once

#include "job/ConversionJob.h"
#include "job/ItemCounter.h"
#include "raster/Raster.h"
#include "settings/Settings.h"
#include "ui/BoardTask.h"
#include "ui/BoardViews.h"
#include "ui/Controls.h"
#include "ui/DialogService.h"
#include "ui/Language.h"
#include "ui/MatchPanel.h"
#include "ui/OutputKind.h"

#include <QList>
#include <QPixmap>
#include <QWidget>

#include <atomic>
#include <exception>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QScrollArea;
class QTabBar;
class QTimer;
class QToolButton;

namespace rastrace::ui {

class TRtcFrmMain : public QWidget, public JobOwner {
    Q_OBJECT
public:
    // Builds the window from its layout (FormCreate is not run yet).
    // dialogs answers every dialog and message box; settingsPath is where
    // FormCreate reads and FormDestroy writes the settings.
    explicit TRtcFrmMain(DialogService& dialogs, SettingsLocation settingsPath = DefaultSettingsLocation(),
                         QWidget* parent = nullptr);
    // Stops a running conversion first, then runs FormDestroy unless it ran.
    ~TRtcFrmMain() override;

    // The controls, named as in the layout table. XPManifest1 (themed
    // controls) has no counterpart: the Qt style always draws themed.
    BandBar* CoolBar1;
    QWidget* ToolBar1;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    QList<QPixmap> ImageList1;
    QToolButton* ToolButton4;
    QScrollArea* ScrollBox1;
    QFrame* ToolButton6;
    TOpenPictureDialog OpenPictureDialog1;
    TSaveDialog SaveDialog1;
    PictureView* Image1;
    QFrame* Panel1;
    QFrame* ToolButton5;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QFrame* Panel2;
    QGroupBox* GroupBox1;
    QLineEdit* edtx;
    QLineEdit* edty;
    QGroupBox* GroupBox2;
    ColorListBox* lstCl;
    QGroupBox* GroupBox3;
    QLabel* Label1;
    QComboBox* cmbbox;
    QLabel* Label2;
    QLineEdit* edtmil;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QProgressBar* prgbr;
    ColorSwatch* pColor;

    // The whole board, once a bottom picture is open: the side bar above
    // the picture (hidden until then, and the window is as it always was).
    QWidget* SideBar = nullptr;
    QTabBar* tabSides = nullptr;       // "顶层" / "底层"
    QToolButton* btnAlign = nullptr;   // "对齐": trace, align and put the nets together
    QToolButton* btnPairs = nullptr;   // "点对": clicks add point pairs (checkable)
    QToolButton* btnUndoPair = nullptr;
    QToolButton* btnNets = nullptr;    // "网络": the net view (checkable)
    QLabel* lblBoard = nullptr;        // the alignment's report, the pairs, the net picked

    // The handlers. Called directly they throw; through handle (or the
    // controls) an error is shown in the standard error box instead.
    void ToolButton1Click();  // Open
    void ToolButton2Click();  // Convert
    void Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void Image1MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void lstClMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void FormCreate();   // loads the settings, then FReady = true
    void FormDestroy();  // saves the settings when FReady
    void SpeedButton1Click();  // horizontal mirror
    void SpeedButton2Click();  // vertical mirror
    void ToolButton4Click();   // About
    // The whole board's handlers.
    void OpenBottomClick();     // opens a picture as the bottom side (the Open button's menu)
    void CloseBottomClick();    // back to one picture
    void SideChanged(int index);  // the side tabs: 0 top, 1 bottom
    void AlignClick();
    void UndoPairClick();
    void NetsToggled(bool on);
    // The about box's language switch: LANGUAGE is written at once, and a
    // notice in that language says it shows from the next start.
    void AboutLanguageChosen(WindowLanguage language);
    // The key filter of edtx, edty and edtmil: key is the typed character;
    // setting it to 0 discards it. Only '0'..'9' are kept.
    void edtxKeyPress(QObject* sender, char& key);
    // Completion of a conversion: the notice or the error box, then FReady.
    void ConvertDone(const std::optional<std::string>& error);

    // Runs handler through the error-box wrapper (main uses it for
    // FormCreate and FormDestroy).
    void handle(void (TRtcFrmMain::*handler)());

    bool ready() const { return FReady; }
    int32_t polyCount() const { return FPolyCount.Count(); }
    // The window's picture; nullptr before the first successful Open.
    std::shared_ptr<const Raster> picture() const { return picture_; }
    // True from a conversion's start until its workers have all ended.
    bool converting() const;
    // The whole board.
    BoardSide shownSide() const { return shown_; }
    bool hasBottom() const { return bottomOpen_; }
    // From the start of the board's work until its report is handled.
    bool boardWorking() const { return boardTask_ != nullptr; }
    std::shared_ptr<const BoardResult> boardResult() const { return views_.result(); }
    const BoardViews& boardViews() const { return views_; }
    int pointPairs() const { return static_cast<int>(bottomPoints_.size()); }
    // The tolerance, speckle, background, overlay and zoom controls.
    MatchPanel* matchPanel() const { return match_; }
    // The format the last save dialog chose: its file type when that is an
    // area format, the radio buttons otherwise.
    OutputKind ChosenOutputKind() const;

    // JobOwner: the running conversion's hand-offs.
    void Wake() override;
    void ProgressStart(int64_t maximum) override;
    void ProgressStep(int64_t steps) override;
    int32_t NextPolyNumbers(int32_t count) override;
    void ConversionFinished(const std::optional<std::string>& error) override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    template <class Body>
    void guarded(Body&& body) noexcept;
    template <class... Args>
    auto guard(void (TRtcFrmMain::*handler)(Args...));
    void wireHandlers();
    void drainJob();
    void stopJob();
    // Makes job the running conversion: FReady false, Convert disabled.
    void adoptJob(std::unique_ptr<ConversionJob> job);
    void showStandardError(const std::string& message) noexcept;
    // Makes picture_ the window's own before it is changed in place.
    void unsharePicture();
    // Everything the conversion takes from the window, for a file of format
    // at outputPath.
    ConversionRequest conversionRequest(OutputFormat format, const QString& outputPath) const;
    // Writes the copper as a Gerber or KiCad area file to the save dialog's
    // file, replacing it only when complete, then shows the notice.
    void writeAreaFile(OutputKind kind);
    // The notice that a conversion completed.
    void showConversionComplete();
    // The board rule's verdict on the picture under match, as a picture of
    // the first copper colour and another.
    std::shared_ptr<const Raster> boardPicture(const MatchSettings& match) const;
    // Shows the picture's main colours in a notice.
    void suggestColors();

    // The whole board (URtcFrmMainBoard.cpp).
    void buildSideBar();
    void showSideBar(bool shown);
    // What the shown side keeps, from the controls into sides_, and back.
    void keepShownSide();
    void showSide(BoardSide side);
    // A side's picture changed: the board and the point pairs no longer hold.
    void dropBoard();
    BoardSideInput boardSideInput(BoardSide side) const;
    // Starts the board task: traces (or reuses), aligns, assembles and,
    // with output, writes the board.
    void startBoardTask(std::optional<std::pair<BoardFileKind, std::string>> output);
    void boardTaskDone(std::shared_ptr<const BoardResult> result, const std::optional<std::string>& error,
                       bool writing, uint64_t generation);
    void stopBoardTask();
    void writeBoardFile(OutputKind kind);
    void pairClicked(int x, int y);
    void pairsChanged();
    void netClicked(int x, int y);
    void updateBoardViews();

    struct SideKept {
        std::shared_ptr<Raster> picture;
        MatchPanel::SideState state;
        bool mirroredH = false, mirroredV = false;
    };
    SideKept sides_[2];
    BoardSide shown_ = BoardSide::Top;
    bool bottomOpen_ = false;
    std::unique_ptr<BoardTask> boardTask_;
    // Counts starts and stops: a report posted by a task stopped since is
    // dropped when it arrives.
    uint64_t boardGeneration_ = 0;
    BoardViews views_;
    QTimer* boardProgress_ = nullptr;
    std::atomic<int64_t> boardRows_{0}, boardAllRows_{0};
    std::vector<QPointF> topPoints_, bottomPoints_;  // clicked pairs, a top point perhaps waiting
    int32_t bottomTolerance_ = 0, bottomDespeckle_ = 0;  // set.ini's, for the bottom's first opening

    DialogService& dialogs_;
    SettingsLocation settingsPath_;
    std::shared_ptr<Raster> picture_;
    MatchPanel* match_ = nullptr;
    std::unique_ptr<ConversionJob> job_;
    std::atomic<bool> wakePosted_{false};
    bool formDestroyed_ = false;
    int64_t progressMax_ = 0;
    int64_t progressPos_ = 0;
    int64_t progressScale_ = 1;  // raster positions per bar unit when the range exceeds int

    std::string language_;  // the LANGUAGE setting, written back at exit

    bool FReady = false;
    ItemCounter FPolyCount;
};

// The wrapper every handler runs through (both of the window's source files use it).
template <class Body>
void TRtcFrmMain::guarded(Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& error) {
        showStandardError(error.what());
    } catch (...) {
        showStandardError("Unknown error");
    }
}

template <class... Args>
auto TRtcFrmMain::guard(void (TRtcFrmMain::*handler)(Args...)) {
    return [this, handler](Args... args) { guarded([&] { (this->*handler)(args...); }); };
}

}  // namespace rastrace::ui
