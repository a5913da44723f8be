// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's whole board: a bottom picture beside the top one, the
// side bar that switches between them, the alignment (on the holes or on
// clicked point pairs), the net view and the board's files.
#include "ui/URtcFrmMain.h"

#include "board/Registration.h"
#include "common/Error.h"
#include "common/IntText.h"
#include "ui/FormLayout.h"
#include "ui/PictureFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QScrollArea>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace rastrace::ui {

namespace {

// Texts marked for lupdate with QT_TRANSLATE_NOOP, in the window's language.
QString translated(const char* text) { return QCoreApplication::translate("TRtcFrmMain", text); }

constexpr int kSideBarHeight = 44;

QToolButton* barButton(QWidget* parent, const char* text, bool checkable) {
    auto* button = new QToolButton(parent);
    button->setText(translated(text));
    button->setCheckable(checkable);
    button->setAutoRaise(true);
    return button;
}

}  // namespace

void TRtcFrmMain::buildSideBar() {
    SideBar = new QWidget(this);
    SideBar->setObjectName(QStringLiteral("SideBar"));
    // Two rows: the tabs and commands, then the report, which gets the
    // bar's whole width.
    auto* rows = new QVBoxLayout(SideBar);
    rows->setContentsMargins(4, 0, 4, 2);
    rows->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    rows->addLayout(row);
    tabSides = new QTabBar(SideBar);
    tabSides->addTab(QCoreApplication::translate("TRtcFrmMain", "顶层"));
    tabSides->addTab(QCoreApplication::translate("TRtcFrmMain", "底层"));
    tabSides->setDrawBase(false);
    tabSides->setExpanding(false);
    tabSides->setUsesScrollButtons(false);  // two tabs always fit
    btnAlign = barButton(SideBar, QT_TRANSLATE_NOOP("TRtcFrmMain", "对齐"), false);
    btnPairs = barButton(SideBar, QT_TRANSLATE_NOOP("TRtcFrmMain", "点对"), true);
    btnUndoPair = barButton(SideBar, QT_TRANSLATE_NOOP("TRtcFrmMain", "撤销点对"), false);
    btnNets = barButton(SideBar, QT_TRANSLATE_NOOP("TRtcFrmMain", "网络"), true);
    lblBoard = new QLabel(SideBar);
    for (QWidget* w : std::initializer_list<QWidget*>{tabSides, btnAlign, btnPairs, btnUndoPair, btnNets}) {
        row->addWidget(w);
    }
    row->addStretch(1);
    rows->addWidget(lblBoard);
    if (auto* dock = dynamic_cast<DockLayout*>(layout())) dock->addDocked(SideBar, Align::ClientTop, kSideBarHeight);
    SideBar->hide();
    // Laid out once at the width it will have, so that its controls have
    // their places before it is first shown.
    SideBar->resize(width() - Panel2->width(), kSideBarHeight);
    rows->activate();

    boardProgress_ = new QTimer(this);
    boardProgress_->setInterval(100);
    connect(boardProgress_, &QTimer::timeout, this, [this] {
        const int64_t all = boardAllRows_.load();
        if (all <= 0) return;
        prgbr->setRange(0, 1000);
        prgbr->setValue(static_cast<int>(boardRows_.load() * 1000 / all));
    });

    connect(tabSides, &QTabBar::currentChanged, this, guard(&TRtcFrmMain::SideChanged));
    connect(btnAlign, &QToolButton::clicked, this, guard(&TRtcFrmMain::AlignClick));
    connect(btnUndoPair, &QToolButton::clicked, this, guard(&TRtcFrmMain::UndoPairClick));
    connect(btnNets, &QToolButton::toggled, this, guard(&TRtcFrmMain::NetsToggled));
    connect(btnPairs, &QToolButton::toggled, this, [this](bool) { guarded([&] { pairsChanged(); }); });

    // The Open button's menu opens the other side.
    ToolButton1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ToolButton1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* open = menu.addAction(QCoreApplication::translate("TRtcFrmMain", "打开底层图片..."));
        QAction* close = bottomOpen_ ? menu.addAction(QCoreApplication::translate("TRtcFrmMain", "关闭底层图片")) : nullptr;
        QAction* chosen = menu.exec(ToolButton1->mapToGlobal(at));
        if (chosen == open) guarded([&] { OpenBottomClick(); });
        if (chosen != nullptr && chosen == close) guarded([&] { CloseBottomClick(); });
    });
}

void TRtcFrmMain::showSideBar(bool shown) {
    SideBar->setVisible(shown);
    if (layout() != nullptr) layout()->setGeometry(rect());
    if (shown) {
        Image1->setDecoration([this](QPainter& painter, const QRect& exposed, double zoom) {
            views_.paint(painter, exposed, zoom);
        });
    } else {
        Image1->setDecoration({});
    }
}

// ---- The two sides --------------------------------------------------------

void TRtcFrmMain::OpenBottomClick() {
    if (picture_ == nullptr && !bottomOpen_) {
        ToolButton1Click();  // the first picture is the top
        return;
    }
    if (!OpenPictureDialog1.execute(dialogs_, this)) return;
    ReadLimits limits;
    limits.regularFileOnly = true;
    auto raster = std::make_shared<Raster>(
        ReadPictureForWindow(QFile::encodeName(OpenPictureDialog1.fileName()).toStdString(), limits));
    if (!bottomOpen_) {
        // The bottom starts with the top's colours (one scanner, one board)
        // and the tolerance and speckle size kept for it.
        keepShownSide();
        sides_[1].state = sides_[0].state;
        if (bottomTolerance_ > 0) sides_[1].state.tolerance = bottomTolerance_;
        if (bottomDespeckle_ > 0) sides_[1].state.despeckle = bottomDespeckle_;
    }
    if (shown_ == BoardSide::Bottom) {
        picture_ = std::move(raster);  // a running conversion keeps its own snapshot
        Image1->setRaster(picture_.get());
        match_->pictureChanged();
    } else {
        sides_[1].picture = std::move(raster);
    }
    sides_[1].mirroredH = sides_[1].mirroredV = false;
    bottomOpen_ = true;
    dropBoard();
    showSideBar(true);
    showSide(BoardSide::Bottom);
}

void TRtcFrmMain::CloseBottomClick() {
    if (!bottomOpen_) return;
    stopBoardTask();
    if (shown_ == BoardSide::Bottom) showSide(BoardSide::Top);
    keepShownSide();
    bottomTolerance_ = sides_[1].state.tolerance;
    bottomDespeckle_ = sides_[1].state.despeckle;
    sides_[1] = {};
    bottomOpen_ = false;
    dropBoard();
    btnPairs->setChecked(false);
    btnNets->setChecked(false);
    showSideBar(false);
}

void TRtcFrmMain::SideChanged(int index) {
    const BoardSide side = index == 1 ? BoardSide::Bottom : BoardSide::Top;
    if (side != shown_) showSide(side);
}

void TRtcFrmMain::keepShownSide() { sides_[static_cast<int>(shown_)].state = match_->sideState(); }

void TRtcFrmMain::showSide(BoardSide side) {
    if (side != shown_) {
        keepShownSide();
        sides_[static_cast<int>(shown_)].picture = std::move(picture_);
        picture_ = std::move(sides_[static_cast<int>(side)].picture);
        shown_ = side;
        match_->setSideState(sides_[static_cast<int>(side)].state);
        Image1->setRaster(picture_.get());
        match_->pictureChanged();
    }
    views_.setSide(side);
    if (tabSides->currentIndex() != static_cast<int>(side)) {
        const QSignalBlocker block(tabSides);
        tabSides->setCurrentIndex(static_cast<int>(side));
    }
    Image1->update();
}

void TRtcFrmMain::dropBoard() {
    stopBoardTask();
    views_.setResult(nullptr);
    views_.setHighlight(0);
    topPoints_.clear();
    bottomPoints_.clear();
    updateBoardViews();
    if (lblBoard != nullptr) lblBoard->clear();
}

BoardSideInput TRtcFrmMain::boardSideInput(BoardSide side) const {
    const int s = static_cast<int>(side);
    BoardSideInput input;
    input.picture = side == shown_ ? picture_ : sides_[s].picture;
    const MatchSettings match = match_->settingsFor(side == shown_ ? match_->sideState() : sides_[s].state);
    input.request.colors.copper = match.copper;
    input.request.colors.holes = match.holes;
    for (uint32_t c : match.background) {
        if (std::find(match.holes.begin(), match.holes.end(), c) == match.holes.end()) {
            input.request.colors.noncopper.push_back(c);
        }
    }
    input.request.rule = match.board ? TraceRule::Board : TraceRule::Colour;
    input.request.tolerance = match.tolerance;
    input.request.despeckle = match.despeckle;
    input.request.xres = StrToInt(edtx->text().toStdString());
    input.request.yres = StrToInt(edty->text().toStdString());
    if (input.request.xres <= 0 || input.request.yres <= 0) throw Error("A board needs a positive resolution");
    input.mirrored = sides_[s].mirroredH != sides_[s].mirroredV;
    return input;
}

// ---- Alignment, nets and the board's files -------------------------------

void TRtcFrmMain::AlignClick() { startBoardTask(std::nullopt); }

void TRtcFrmMain::startBoardTask(std::optional<std::pair<BoardFileKind, std::string>> output) {
    if (!bottomOpen_ || boardWorking() || converting()) return;  // one piece of work at a time
    BoardTask::Request request;
    request.sides[0] = boardSideInput(BoardSide::Top);
    request.sides[1] = boardSideInput(BoardSide::Bottom);
    for (const BoardSideInput& side : request.sides) {
        if (side.picture == nullptr || side.request.colors.copper.empty()) {
            dialogs_.showError(this, QCoreApplication::translate("TRtcFrmMain", "请先为两面都选好铜箔颜色。"));
            return;
        }
    }
    if (btnPairs->isChecked() && bottomPoints_.size() >= 3) {
        for (size_t i = 0; i < bottomPoints_.size(); ++i) request.points.push_back({topPoints_[i], bottomPoints_[i]});
    }
    request.reuse = views_.result();
    request.output = output;
    const bool writing = output.has_value();
    boardRows_.store(0);
    boardAllRows_.store(0);
    const uint64_t generation = ++boardGeneration_;
    boardTask_ = std::make_unique<BoardTask>(
        std::move(request),
        [this, writing, generation](std::shared_ptr<const BoardResult> result, std::optional<std::string> error) {
            QMetaObject::invokeMethod(
                this,
                [this, result, error, writing, generation] {
                    guarded([&] { boardTaskDone(result, error, writing, generation); });
                },
                Qt::QueuedConnection);
        },
        [this](int64_t rows, int64_t all) {
            boardRows_.store(rows);
            boardAllRows_.store(all);
        });
    lblBoard->setText(writing ? QCoreApplication::translate("TRtcFrmMain", "正在写出电路板...") : QCoreApplication::translate("TRtcFrmMain", "正在对齐..."));
    btnAlign->setEnabled(false);
    ToolButton2->setEnabled(false);
    boardProgress_->start();
}

void TRtcFrmMain::stopBoardTask() {
    if (boardTask_ == nullptr) return;
    ++boardGeneration_;  // a report already posted is dropped
    boardTask_->Stop();
    boardTask_.reset();
    if (boardProgress_ != nullptr) boardProgress_->stop();
    if (btnAlign != nullptr) btnAlign->setEnabled(true);
    if (!converting()) ToolButton2->setEnabled(picture_ != nullptr);
}

void TRtcFrmMain::boardTaskDone(std::shared_ptr<const BoardResult> result, const std::optional<std::string>& error,
                                bool writing, uint64_t generation) {
    if (generation != boardGeneration_) return;  // from a task stopped since
    boardTask_.reset();  // its thread has handed over: the join is immediate
    boardProgress_->stop();
    prgbr->setRange(0, 1);
    prgbr->setValue(1);
    btnAlign->setEnabled(true);
    if (!converting()) ToolButton2->setEnabled(true);
    if (error) {
        lblBoard->setText(btnPairs->isChecked() ? QCoreApplication::translate("TRtcFrmMain", "未能对齐") : QCoreApplication::translate("TRtcFrmMain", "未能对齐：可改用点对"));
        showStandardError(*error);
        return;
    }
    views_.setResult(result);
    const Alignment& a = result->alignment;
    const QString residual = QString::fromStdString(FixedText(a.rmsPx, 2));
    lblBoard->setText((result->onPoints ? QCoreApplication::translate("TRtcFrmMain", "底层对齐于 %1 个点对，残差 %2 像素 RMS")
                                        : QCoreApplication::translate("TRtcFrmMain", "底层对齐于 %1 个孔，残差 %2 像素 RMS"))
                          .arg(a.matched)
                          .arg(residual) +
                      QCoreApplication::translate("TRtcFrmMain", "；%1 个网络").arg(result->facts.nets));
    updateBoardViews();
    if (writing) showConversionComplete();
}

void TRtcFrmMain::writeBoardFile(OutputKind kind) {
    const BoardFileKind fileKind = kind == OutputKind::KiCadBoard ? BoardFileKind::KiCad : BoardFileKind::GerberJob;
    std::string path = QFile::encodeName(SaveDialog1.fileName()).toStdString();
    if (BoardFileKindFor(path) != fileKind) path += fileKind == BoardFileKind::KiCad ? ".kicad_pcb" : ".gbrjob";
    startBoardTask(std::make_pair(fileKind, path));
}

void TRtcFrmMain::NetsToggled(bool on) {
    views_.setNetView(on);
    if (!on) views_.setHighlight(0);
    updateBoardViews();
    if (on && views_.result() == nullptr) startBoardTask(std::nullopt);
}

void TRtcFrmMain::netClicked(int x, int y) {
    const int32_t net = views_.netAt(QPointF(x + 0.5, y + 0.5));
    views_.setHighlight(net);
    if (net > 0) {
        const auto& names = views_.result()->model.nets;
        const QString name = net <= static_cast<int32_t>(names.size())
                                 ? QString::fromStdString(names[static_cast<size_t>(net - 1)])
                                 : QString::number(net);
        lblBoard->setText(QCoreApplication::translate("TRtcFrmMain", "网络 %1").arg(name));
    }
    updateBoardViews();
}

// ---- Point pairs ------------------------------------------------------------

void TRtcFrmMain::pairClicked(int x, int y) {
    const QPointF point(x + 0.5, y + 0.5);
    const bool waiting = topPoints_.size() > bottomPoints_.size();
    if (shown_ == BoardSide::Top) {
        if (waiting) {
            topPoints_.back() = point;  // clicked again: the newer point counts
        } else {
            topPoints_.push_back(point);
        }
        pairsChanged();
        showSide(BoardSide::Bottom);
        return;
    }
    if (!waiting) {
        lblBoard->setText(QCoreApplication::translate("TRtcFrmMain", "请先点顶层上的点"));
        return;
    }
    bottomPoints_.push_back(point);
    pairsChanged();
    showSide(BoardSide::Top);
    if (bottomPoints_.size() >= 3 && views_.result() != nullptr && !boardWorking()) startBoardTask(std::nullopt);
}

void TRtcFrmMain::UndoPairClick() {
    if (topPoints_.size() > bottomPoints_.size()) {
        topPoints_.pop_back();
    } else if (!bottomPoints_.empty()) {
        topPoints_.pop_back();
        bottomPoints_.pop_back();
    }
    pairsChanged();
}

void TRtcFrmMain::pairsChanged() {
    updateBoardViews();
    btnUndoPair->setEnabled(!topPoints_.empty());
    if (!btnPairs->isChecked()) return;
    const size_t pairs = bottomPoints_.size();
    if (pairs < 3) {
        lblBoard->setText(QCoreApplication::translate("TRtcFrmMain", "点对：%1（至少 3 对）").arg(pairs));
        return;
    }
    // The residual of the pairs alone: a mirror of the bottom changes the
    // map, not how well the points fit one.
    std::vector<std::pair<Vec2, Vec2>> points;
    for (size_t i = 0; i < pairs; ++i) {
        points.push_back({{topPoints_[i].x(), topPoints_[i].y()}, {bottomPoints_[i].x(), bottomPoints_[i].y()}});
    }
    try {
        const Alignment a = AlignOnPoints(points);
        lblBoard->setText(
            QCoreApplication::translate("TRtcFrmMain", "点对：%1，残差 %2 像素 RMS").arg(pairs).arg(QString::fromStdString(FixedText(a.rmsPx, 2))));
    } catch (const std::exception& e) {
        lblBoard->setText(QCoreApplication::translate("TRtcFrmMain", "点对：%1，%2").arg(pairs).arg(QString::fromStdString(e.what())));
    }
}

void TRtcFrmMain::updateBoardViews() {
    views_.setAlignView(views_.result() != nullptr && !views_.netView());
    views_.setPoints(btnPairs != nullptr && btnPairs->isChecked() ? topPoints_ : std::vector<QPointF>{},
                     btnPairs != nullptr && btnPairs->isChecked() ? bottomPoints_ : std::vector<QPointF>{});
    Image1->update();
}

}  // namespace rastrace::ui
