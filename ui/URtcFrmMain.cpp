// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/URtcFrmMain.h"

#include "common/Error.h"
#include "common/IntText.h"
#include "common/MessageText.h"
#include "formats/AreaOutput.h"
#include "formats/KiCad.h"
#include "job/OutputFile.h"
#include "raster/Mirror.h"
#include "trace/BoardRule.h"
#include "ui/AppLook.h"
#include "ui/PictureFile.h"
#include "ui/URtcFrmMainLayout.h"
#include "ui/untAbout.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>

#include <climits>
#include <utility>
#include <exception>

namespace rastrace::ui {

namespace {

// The event a worker's hand-off posts to wake the window's thread.
QEvent::Type wakeEventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Texts cross to the core as the file system's 8-bit names and back.
std::string toCore(const QString& text) { return text.toStdString(); }
std::string pathToCore(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString fromCore(const std::string& text) { return QString::fromStdString(text); }

// The 8-bit character a key press types, as the classic key-press event
// sees it, or 0 when the key types none (Delete, arrows, Home, End, and
// Tab, which moves the focus before any field sees it).
char typedCharacter(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 0;
    case Qt::Key_Backspace:
        return '\b';
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return '\r';
    case Qt::Key_Escape:
        return '\x1b';
    default:
        break;
    }
    const Qt::KeyboardModifiers mods = event.modifiers();
    if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && event.key() >= Qt::Key_A &&
        event.key() <= Qt::Key_Z) {
        return static_cast<char>(event.key() - Qt::Key_A + 1);  // Ctrl+C types ^C, Ctrl+V ^V, ...
    }
    const QString text = event.text();
    if (text.isEmpty()) return 0;
    const char16_t first = text.front().unicode();
    return first < 0x80 ? static_cast<char>(first) : '?';  // beyond ASCII: never a digit
}

// Moves field right, its right edge kept, until it starts a few pixels
// after label ends.
void keepClearOf(const QWidget& label, QWidget& field) {
    constexpr int kGap = 4;
    const int left = label.geometry().right() + 1 + kGap;
    const QRect g = field.geometry();
    if (g.left() < left) field.setGeometry(QRect(QPoint(left, g.top()), g.bottomRight()));
}

// Runs on scope exit.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

}  // namespace

TRtcFrmMain::TRtcFrmMain(DialogService& dialogs, SettingsLocation settingsPath, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs), settingsPath_(std::move(settingsPath)) {
    setFont(rastraceFont());
    setWindowIcon(programIcon());
    ImageList1 = toolbarImages();

    const FormTable& form = rtcFrmMainForm();
    const FormControls c = buildForm(*this, form, ImageList1);
    CoolBar1 = c.get<BandBar>("CoolBar1");
    ToolBar1 = c.get<QWidget>("ToolBar1");
    ToolButton1 = c.get<QToolButton>("ToolButton1");
    ToolButton2 = c.get<QToolButton>("ToolButton2");
    ToolButton4 = c.get<QToolButton>("ToolButton4");
    ScrollBox1 = c.get<QScrollArea>("ScrollBox1");
    ToolButton6 = c.get<QFrame>("ToolButton6");
    Image1 = c.get<PictureView>("Image1");
    Panel1 = c.get<QFrame>("Panel1");
    ToolButton5 = c.get<QFrame>("ToolButton5");
    RadioButton1 = c.get<QRadioButton>("RadioButton1");
    RadioButton2 = c.get<QRadioButton>("RadioButton2");
    Panel2 = c.get<QFrame>("Panel2");
    GroupBox1 = c.get<QGroupBox>("GroupBox1");
    edtx = c.get<QLineEdit>("edtx");
    edty = c.get<QLineEdit>("edty");
    GroupBox2 = c.get<QGroupBox>("GroupBox2");
    lstCl = c.get<ColorListBox>("lstCl");
    GroupBox3 = c.get<QGroupBox>("GroupBox3");
    Label1 = c.get<QLabel>("Label1");
    cmbbox = c.get<QComboBox>("cmbbox");
    Label2 = c.get<QLabel>("Label2");
    edtmil = c.get<QLineEdit>("edtmil");
    SpeedButton1 = c.get<QToolButton>("SpeedButton1");
    SpeedButton2 = c.get<QToolButton>("SpeedButton2");
    prgbr = c.get<QProgressBar>("prgbr");
    pColor = c.get<ColorSwatch>("pColor");
    match_ = new MatchPanel(CoolBar1, Panel2, Image1, ScrollBox1, pColor, lstCl);
    if (shownLanguage() == WindowLanguage::English) {
        // English labels run longer than the Chinese ones: a field its label
        // would reach moves right, keeping its right edge. The Chinese
        // layout stays exactly as its table gives it.
        for (auto [label, field] : {std::pair<QWidget*, QWidget*>{Label1, cmbbox}, {Label2, edtmil},
                                    {match_->Label3, match_->spnTolerance}, {match_->Label4, match_->spnDespeckle}}) {
            keepClearOf(*label, *field);
        }
    }

    // Centred on the desktop, counting the frame the platform adds around
    // the client area (800 x 600 outside for a classic frame).
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        const QSize outer(form.clientWidth + 8, form.clientHeight + 34);
        move(desk.left() + std::max(0, (desk.width() - outer.width()) / 2),
             desk.top() + std::max(0, (desk.height() - outer.height()) / 2));
    }
    buildSideBar();
    wireHandlers();
}

TRtcFrmMain::~TRtcFrmMain() {
    // Workers read the snapshot and hand steps to this window: stop and
    // join them before anything of the window goes.
    stopJob();
    stopBoardTask();
    if (!formDestroyed_) handle(&TRtcFrmMain::FormDestroy);
}

// ---- The one wrapper and the wiring ---------------------------------------

void TRtcFrmMain::handle(void (TRtcFrmMain::*handler)()) { guard(handler)(); }

void TRtcFrmMain::showStandardError(const std::string& message) noexcept {
    try {
        dialogs_.showError(this, fromCore(ShownText(message)));
    } catch (...) {
        // Nothing is left to report a failing error box with.
    }
}

void TRtcFrmMain::wireHandlers() {
    connect(ToolButton1, &QToolButton::clicked, this, guard(&TRtcFrmMain::ToolButton1Click));
    connect(ToolButton2, &QToolButton::clicked, this, guard(&TRtcFrmMain::ToolButton2Click));
    connect(ToolButton4, &QToolButton::clicked, this, guard(&TRtcFrmMain::ToolButton4Click));
    connect(SpeedButton1, &QToolButton::clicked, this, guard(&TRtcFrmMain::SpeedButton1Click));
    connect(SpeedButton2, &QToolButton::clicked, this, guard(&TRtcFrmMain::SpeedButton2Click));
    connect(Image1, &PictureView::mouseMoved, this, guard(&TRtcFrmMain::Image1MouseMove));
    connect(Image1, &PictureView::mousePressed, this, guard(&TRtcFrmMain::Image1MouseDown));
    connect(lstCl, &ColorListBox::mousePressed, this, guard(&TRtcFrmMain::lstClMouseDown));
    // The board rule's stroke width follows the X resolution; the
    // suggestion lists the picture's main colours.
    connect(edtx, &QLineEdit::textChanged, this, [this](const QString& text) {
        int32_t dpi = 0;
        if (TryStrToInt(toCore(text), dpi)) match_->setDpi(dpi);
    });
    connect(match_->btnSuggest, &QToolButton::clicked, this, [this] { guarded([&] { suggestColors(); }); });
    for (QLineEdit* field : {edtx, edty, edtmil}) field->installEventFilter(this);  // edtxKeyPress

    // Hand-offs are also run whenever the thread falls idle, so a lost or
    // late wake event never leaves a worker waiting.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (converting()) drainJob();
        });
    }
}

bool TRtcFrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edtx && watched != edty && watched != edtmil) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        char key = typedCharacter(*static_cast<QKeyEvent*>(event));
        if (key == 0) return false;  // no character: the field handles the key
        guarded([&] { edtxKeyPress(watched, key); });
        return key == 0;
    }
    if (event->type() == QEvent::InputMethod) {
        // Text composed by an input method arrives as a whole; each of its
        // characters goes through the same filter.
        auto* input = static_cast<QInputMethodEvent*>(event);
        QString kept;
        for (QChar ch : input->commitString()) {
            char key = ch.unicode() < 0x80 ? static_cast<char>(ch.unicode()) : '?';
            guarded([&] { edtxKeyPress(watched, key); });
            if (key != 0) kept.append(QChar(key));
        }
        if (kept != input->commitString()) input->setCommitString(kept);
    }
    return false;
}

void TRtcFrmMain::edtxKeyPress(QObject*, char& key) {
    if (key < '0' || key > '9') key = 0;
}

// ---- Start and end --------------------------------------------------------

void TRtcFrmMain::FormCreate() {
    const SettingsValues values = LoadSettings(settingsPath_);
    edtx->setText(fromCore(values.xres));
    edty->setText(fromCore(values.yres));
    edtmil->setText(fromCore(values.mil));
    cmbbox->setCurrentIndex(values.layer >= 0 && values.layer < cmbbox->count() ? values.layer : -1);
    match_->spnTolerance->setValue(values.tolerance);  // the fields keep values in their range
    match_->spnDespeckle->setValue(values.despeckle);
    match_->btnOverlay->setChecked(values.overlay);
    language_ = values.language;
    match_->chkBoard->setChecked(values.boardRule);
    bottomTolerance_ = values.bottomTolerance;
    bottomDespeckle_ = values.bottomDespeckle;
    FReady = true;
}

void TRtcFrmMain::FormDestroy() {
    formDestroyed_ = true;
    if (!FReady) return;  // a conversion never completed: the file stays as it was
    SettingsValues values;
    values.xres = toCore(edtx->text());
    values.yres = toCore(edty->text());
    values.mil = toCore(edtmil->text());
    values.layer = cmbbox->currentIndex();  // -1 when none is selected
    values.tolerance = match_->spnTolerance->value();
    values.despeckle = match_->spnDespeckle->value();
    values.bottomTolerance = bottomTolerance_;
    values.bottomDespeckle = bottomDespeckle_;
    if (bottomOpen_) {
        // Each side's own fields, whichever is shown.
        keepShownSide();
        values.tolerance = sides_[0].state.tolerance;
        values.despeckle = sides_[0].state.despeckle;
        values.bottomTolerance = sides_[1].state.tolerance;
        values.bottomDespeckle = sides_[1].state.despeckle;
    }
    values.overlay = match_->btnOverlay->isChecked();
    values.language = language_;
    values.boardRule = match_->chkBoard->isChecked();
    SaveSettings(settingsPath_, values);
}

void TRtcFrmMain::closeEvent(QCloseEvent* event) {
    // The workers go before the window: the incomplete output is dropped
    // (a file it was to replace stays as it was) and, as FReady stays
    // false, the settings are not saved.
    stopJob();
    stopBoardTask();
    QWidget::closeEvent(event);
}

void TRtcFrmMain::stopJob() {
    if (job_ == nullptr) return;
    job_->Stop();
    job_.reset();
}

// ---- Open and mirrors -----------------------------------------------------

void TRtcFrmMain::ToolButton1Click() {
    if (!OpenPictureDialog1.execute(dialogs_, this)) return;
    // Read into a new raster first: a file that fails leaves the picture
    // and the controls as they were. A pipe or device is refused, as
    // reading it could keep the window waiting for ever.
    ReadLimits limits;
    limits.regularFileOnly = true;
    auto raster = std::make_shared<Raster>(ReadPictureForWindow(pathToCore(OpenPictureDialog1.fileName()), limits));
    picture_ = std::move(raster);  // a running conversion keeps its own snapshot
    if (bottomOpen_) {
        SideKept& side = sides_[static_cast<int>(shown_)];
        side.mirroredH = side.mirroredV = false;
        dropBoard();
    }
    Image1->setRaster(picture_.get());
    match_->pictureChanged();
    if (!converting()) ToolButton2->setEnabled(true);
    Panel1->setEnabled(true);
    Panel2->setEnabled(true);
    ScrollBox1->setEnabled(true);
}

void TRtcFrmMain::unsharePicture() {
    // The copy is checked against the memory available now (Clone), so a
    // picture too large to hold twice fails here with "Out of memory".
    if (picture_.use_count() > 1) {
        picture_ = std::make_shared<Raster>(picture_->Clone());
        Image1->setRaster(picture_.get());
    }
}

void TRtcFrmMain::SpeedButton1Click() {
    if (picture_ == nullptr) return;
    if (bottomOpen_) {
        dropBoard();  // the board held the picture as it was
        SideKept& side = sides_[static_cast<int>(shown_)];
        side.mirroredH = !side.mirroredH;
    }
    unsharePicture();
    MirrorHorizontal(*picture_);
    match_->pictureChanged();
    Image1->repaint();
}

void TRtcFrmMain::SpeedButton2Click() {
    if (picture_ == nullptr) return;
    if (bottomOpen_) {
        dropBoard();  // the board held the picture as it was
        SideKept& side = sides_[static_cast<int>(shown_)];
        side.mirroredV = !side.mirroredV;
    }
    unsharePicture();
    MirrorVertical(*picture_);
    match_->pictureChanged();
    Image1->repaint();
}

// ---- Colour picking -------------------------------------------------------

void TRtcFrmMain::Image1MouseMove(Qt::KeyboardModifiers, int x, int y) {
    pColor->setColor(picture_ != nullptr ? picture_->PixelColor(x, y) : kInvalidColor);
}

void TRtcFrmMain::Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    if (bottomOpen_ && button == Qt::LeftButton && !(shift & Qt::ControlModifier)) {
        // A plain click on a whole board: a point of a pair, or a net picked.
        if (btnPairs->isChecked()) {
            pairClicked(x, y);
        } else if (views_.result() != nullptr) {
            netClicked(x, y);
        }
        return;
    }
    if (button != Qt::LeftButton || !(shift & Qt::ControlModifier)) return;
    const uint32_t color = pColor->color();
    if (color == kInvalidColor) return;  // outside the picture: no pixel could ever match it
    if (shift & Qt::ShiftModifier) {  // Shift+Ctrl: a background colour
        match_->addBackground(color);
        return;
    }
    if ((shift & Qt::AltModifier) && (match_->chkBoard->isChecked() || bottomOpen_)) {
        // Alt+Ctrl under the board rule or on a whole board: a hole colour
        match_->addHole(color);
        return;
    }
    const QString text = fromCore(IntToStr(static_cast<int32_t>(color)));
    if (lstCl->entries().contains(text, Qt::CaseSensitive)) return;
    lstCl->addItem(text);
}

void TRtcFrmMain::lstClMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int, int) {
    const QList<QListWidgetItem*> selected = lstCl->selectedItems();
    if (selected.isEmpty()) return;
    QListWidgetItem* item = selected.first();
    if (button == Qt::LeftButton) {
        pColor->setColor(static_cast<uint32_t>(StrToInt(toCore(item->text()))));
    } else if (button == Qt::RightButton && (shift & Qt::ControlModifier)) {
        delete lstCl->takeItem(lstCl->row(item));
        lstCl->clearSelection();
        lstCl->setCurrentItem(nullptr);
    }
}

// ---- Conversion -----------------------------------------------------------

bool TRtcFrmMain::converting() const { return job_ != nullptr && job_->Running(); }

void TRtcFrmMain::ToolButton2Click() {
    if (lstCl->count() == 0 || picture_ == nullptr) return;
    if (converting() || boardWorking()) return;  // the running work owns its output file
    const bool pcb = RadioButton1->isChecked();
    SaveDialog1.setFilter(pcb ? QStringLiteral("PCB|*.PCB") : QStringLiteral("ASC|*.ASC"));
    SaveDialog1.setDefaultExt(pcb ? QStringLiteral("PCB") : QStringLiteral("ASC"));
    QStringList extra = SaveFileTypes(pcb).mid(1);  // the area formats
    if (bottomOpen_) extra += BoardFileTypes();
    SaveDialog1.setExtraFileTypes(extra);
    if (!SaveDialog1.execute(dialogs_, this)) return;

    const OutputKind kind = ChosenOutputKind();
    if (kind == OutputKind::KiCadBoard || kind == OutputKind::GerberJob) {
        writeBoardFile(kind);
        return;
    }
    if (kind == OutputKind::Gerber || kind == OutputKind::KiCad) {
        writeAreaFile(kind);
        return;
    }
    const std::optional<OutputFormat> format = CoreFormatOf(kind);
    if (!format) return;  // not reached: the area kinds are written above
    const ConversionRequest request = conversionRequest(*format, SaveDialog1.fileName());

    // The job reads a snapshot: Open and the mirrors leave it alone. The
    // board rule's verdict is a picture of its own, traced exactly.
    std::shared_ptr<const Raster> snapshot = picture_;
    if (const MatchSettings match = match_->settings(); match.board) snapshot = boardPicture(match);
    auto job = std::make_unique<ConversionJob>(*this, snapshot);
    // A parse, file or thread error throws before anything runs: nothing
    // has changed then, and FReady keeps its value.
    if (!job->Start(request)) return;
    adoptJob(std::move(job));
}

OutputKind TRtcFrmMain::ChosenOutputKind() const {
    return KindOfFileType(SaveDialog1.fileType(), RadioButton1->isChecked());
}

ConversionRequest TRtcFrmMain::conversionRequest(OutputFormat format, const QString& outputPath) const {
    ConversionRequest request;
    request.format = format;
    request.outputPath = pathToCore(outputPath);
    for (const QString& entry : lstCl->entries()) request.colorTexts.push_back(toCore(entry));
    request.xresText = toCore(edtx->text());
    request.yresText = toCore(edty->text());
    request.widthText = toCore(edtmil->text());
    request.layerNumber = cmbbox->currentIndex() + 1;  // 0 when none is selected
    // Tolerance, background colours and speckle size; at their defaults the
    // conversion is the exact one.
    const MatchSettings match = match_->settings();
    request.match.tolerance = match.tolerance;
    request.match.backgroundColors = match.background;
    request.match.despeckle = match.despeckle;
    if (match.board) {
        // The board picture holds the first copper colour alone.
        request.colorTexts.resize(std::min<size_t>(request.colorTexts.size(), 1));
        request.match.tolerance = 0;
        request.match.backgroundColors.clear();
    }
    return request;
}

std::shared_ptr<const Raster> TRtcFrmMain::boardPicture(const MatchSettings& match) const {
    BoardColors colors = BoardDefaultsFor(match.dpi);
    colors.copper = match.copper;
    colors.noncopper = match.background;
    colors.holes = match.holes;
    colors.tolerance = match.tolerance;
    return std::make_shared<const Raster>(BoardRaster(*picture_, colors));
}

void TRtcFrmMain::suggestColors() {
    if (picture_ == nullptr) return;
    QString text;
    const uint64_t all = static_cast<uint64_t>(picture_->Width()) * static_cast<uint64_t>(picture_->Height());
    for (const MainColor& c : SuggestColors(*picture_, 8)) {
        const uint64_t tenths = all == 0 ? 0 : (c.pixels * 1000 + all / 2) / all;
        text += fromCore(IntToStr(static_cast<int32_t>(c.color))) + QStringLiteral("  ") +
                QString::asprintf("#%02X%02X%02X  %d.%d%%  (%d,%d)\n", c.color & 0xFFu, c.color >> 8 & 0xFFu,
                                  c.color >> 16 & 0xFFu, static_cast<int>(tenths / 10), static_cast<int>(tenths % 10),
                                  c.x, c.y);
    }
    dialogs_.showNotice(this, text, QCoreApplication::translate("TRtcFrmMain", "建议颜色"));
}

void TRtcFrmMain::writeAreaFile(OutputKind kind) {
    // Every text is parsed before the file is touched, as for the track
    // formats: a bad value leaves an existing file as it was.
    std::vector<uint32_t> colors;
    for (const QString& entry : lstCl->entries()) colors.push_back(static_cast<uint32_t>(StrToInt(toCore(entry))));
    AreaOptions options;
    options.format = kind == OutputKind::Gerber ? AreaFormat::Gerber : AreaFormat::KiCad;
    options.width = picture_->Width();
    options.height = picture_->Height();
    options.xres = StrToInt(toCore(edtx->text()));
    options.yres = StrToInt(toCore(edty->text()));
    options.layer = std::max(cmbbox->currentIndex() + 1, 0);  // 0 when none is selected
    const std::string path = pathToCore(SaveDialog1.fileName());
    options.name = FootprintNameFor(path);
    const MatchSettings match = match_->settings();
    MatchOptions matching;
    matching.tolerance = match.tolerance;
    matching.backgroundColors = match.background;
    matching.despeckle = match.despeckle;
    // A picture whose coordinates the format cannot hold at these
    // resolutions is refused before any work and before the file is touched.
    CheckAreaSize(options);
    std::shared_ptr<const Raster> traced = picture_;
    if (match.board && !colors.empty()) {
        traced = boardPicture(match);
        colors = {colors.front()};
        matching.tolerance = 0;
        matching.backgroundColors.clear();
    }

    // An area file is traced in one pass on this thread: the whole A4 scan
    // takes well under a second, and the bar shows the rows done.
    const RowRunsSource rows = MatchedCopperRows(*traced, colors, matching);
    OutputFile file = OutputFile::Create(path);
    const int32_t height = picture_->Height();
    prgbr->setRange(0, std::max(height, 1));
    prgbr->setValue(0);
    try {
        WriteArea(options, rows, [&file](std::string_view text) { file.Write(text); },
                  [this](int32_t row) {
                      if ((row & 255) == 0) prgbr->setValue(row);
                  });
        file.Close();
    } catch (...) {
        file.Abandon();  // the file it was to replace stays as it was
        throw;
    }
    prgbr->setValue(std::max(height, 1));
    showConversionComplete();
}

void TRtcFrmMain::showConversionComplete() {
    dialogs_.showNotice(this, QCoreApplication::translate("TRtcFrmMain", "转换完成！"),
                        QCoreApplication::translate("TRtcFrmMain", "提示"));
}

void TRtcFrmMain::adoptJob(std::unique_ptr<ConversionJob> job) {
    job_ = std::move(job);
    FReady = false;
    ToolButton2->setEnabled(false);
}

void TRtcFrmMain::Wake() {
    // Any thread. One wake event at a time is enough: its handler drains
    // everything queued until then, and a later hand-off posts anew.
    if (!wakePosted_.exchange(true)) QCoreApplication::postEvent(this, new QEvent(wakeEventType()));
}

bool TRtcFrmMain::event(QEvent* event) {
    if (event->type() == wakeEventType()) {
        wakePosted_.store(false);
        drainJob();
        return true;
    }
    return QWidget::event(event);
}

void TRtcFrmMain::drainJob() {
    if (job_ != nullptr) guarded([this] { job_->DrainQueue(); });
}

void TRtcFrmMain::ProgressStart(int64_t maximum) {
    progressMax_ = std::max<int64_t>(0, maximum);
    progressPos_ = 0;
    progressScale_ = progressMax_ / INT_MAX + 1;
    prgbr->setRange(0, static_cast<int>(progressMax_ / progressScale_));
    prgbr->setValue(0);
}

void TRtcFrmMain::ProgressStep(int64_t steps) {
    progressPos_ = std::min(progressMax_, progressPos_ + std::max<int64_t>(0, steps));  // holds at the maximum
    prgbr->setValue(static_cast<int>(progressPos_ / progressScale_));
}

int32_t TRtcFrmMain::NextPolyNumbers(int32_t count) { return FPolyCount.Take(count); }

void TRtcFrmMain::ConversionFinished(const std::optional<std::string>& error) {
    // Called from inside the job's drain: the notice (a modal box) and the
    // job's release wait for the event loop, outside the job's own call.
    QMetaObject::invokeMethod(
        this, [this, error] { guarded([&] { ConvertDone(error); }); }, Qt::QueuedConnection);
}

void TRtcFrmMain::ConvertDone(const std::optional<std::string>& error) {
    job_.reset();  // its snapshot goes too, so a later mirror need not copy
    if (error) {
        showStandardError(*error);
    } else {
        showConversionComplete();
    }
    FReady = true;
    ToolButton2->setEnabled(true);
}

// ---- About ----------------------------------------------------------------

void TRtcFrmMain::ToolButton4Click() {
    auto box = std::make_unique<TAboutBox>(this);
    connect(box.get(), &TAboutBox::languageChosen, this, guard(&TRtcFrmMain::AboutLanguageChosen));
    AboutBox = box.get();
    const ScopeExit clear([] { AboutBox = nullptr; });
    dialogs_.execDialog(*box);
}

void TRtcFrmMain::AboutLanguageChosen(WindowLanguage language) {
    // Written at once: a choice is kept even when the settings are not
    // saved at exit (a conversion that never completed).
    const std::string setting = LanguageSetting(language);
    SaveLanguage(settingsPath_, setting);
    language_ = setting;
    // In the language chosen, which the window does not show yet.
    QWidget* owner = AboutBox != nullptr ? static_cast<QWidget*>(AboutBox) : this;
    if (language == WindowLanguage::English) {
        dialogs_.showNotice(owner, QStringLiteral("The window will be in English from the next start."),
                            QStringLiteral("Rastrace"));
    } else {
        dialogs_.showNotice(owner, QString::fromUtf8("下次启动时窗口将显示中文。"), QString::fromUtf8("提示"));
    }
}

}  // namespace rastrace::ui
