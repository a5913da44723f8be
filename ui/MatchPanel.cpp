// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MatchPanel.h"

#include "common/IntText.h"
#include "ui/ZoomView.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>

namespace rastrace::ui {

namespace {

// The panel's texts are marked for lupdate where they are written and
// translated here, in the window's language.
QString translated(const char* text) { return QCoreApplication::translate("MatchPanel", text); }

QLabel* label(const char* text, QWidget* parent, int left, int top) {
    auto* l = new QLabel(translated(text), parent);
    l->adjustSize();
    l->move(left, top);
    return l;
}

QSpinBox* spin(QWidget* parent, int maximum, QRect geometry) {
    auto* box = new QSpinBox(parent);
    box->setRange(0, maximum);
    box->setValue(0);
    box->setGeometry(geometry);
    box->setKeyboardTracking(true);  // every typed digit updates the overlay
    return box;
}

// A flat push button with a text, as the mirror buttons are.
QToolButton* flatButton(const char* text, const char* hint, QWidget* parent, QRect geometry) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setText(translated(text));
    button->setToolTip(translated(hint));
    button->setGeometry(geometry);
    return button;
}

// Hole colours stand in the background list behind this mark.
const QString& holeMark() {
    static const QString mark = QCoreApplication::translate("MatchPanel", "孔 ");
    return mark;
}

// The list's colours: the plain entries, or with holes those with the mark.
std::vector<uint32_t> colorsOf(const QStringList& entries, bool holes = false) {
    std::vector<uint32_t> colors;
    for (const QString& entry : entries) {
        if (entry.startsWith(holeMark()) != holes) continue;
        int32_t value = 0;
        const QString text = holes ? entry.mid(holeMark().size()) : entry;
        if (TryStrToInt(text.toStdString(), value)) colors.push_back(static_cast<uint32_t>(value));
    }
    return colors;
}

// A hole's chip: the colour as a ring around the list's background.
QIcon ringIcon(uint32_t packed) {
    QPixmap chip(10, 10);
    chip.fill(Qt::white);
    QPainter painter(&chip);
    painter.setPen(QPen(QColor(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF), 3));
    painter.drawEllipse(1, 1, 7, 7);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, 9, 9);
    return QIcon(chip);
}

QIcon chipIcon(uint32_t packed) {
    QPixmap chip(10, 10);
    chip.fill(QColor(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF));
    QPainter painter(&chip);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, 9, 9);
    return QIcon(chip);
}

}  // namespace

MatchPanel::MatchPanel(QWidget* bandBar, QWidget* leftColumn, PictureView* view, QScrollArea* scroll,
                       ColorSwatch* swatch, ColorListBox* copperList)
    : QObject(bandBar), view_(view), scroll_(scroll), swatch_(swatch), copperList_(copperList) {
    // Right of the toolbar (which ends at 475) in the band bar.
    Panel3 = new QFrame(bandBar);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFrameStyle(QFrame::NoFrame);
    Panel3->setGeometry(481, 2, 294, 54);
    Label3 = label(QT_TRANSLATE_NOOP("MatchPanel", "容差："), Panel3, 4, 8);
    spnTolerance = spin(Panel3, kMaxTolerance, QRect(76, 4, 52, 20));
    spnTolerance->setToolTip(
        QCoreApplication::translate("MatchPanel", "颜色容差：RGB 距离 0 到 442，0 为完全相同"));
    Label4 = label(QT_TRANSLATE_NOOP("MatchPanel", "去斑(像素)："), Panel3, 4, 32);
    spnDespeckle = spin(Panel3, kMaxDespeckle, QRect(76, 28, 52, 20));
    spnDespeckle->setToolTip(
        QCoreApplication::translate("MatchPanel", "去掉小于此像素数的斑点并填平小孔，0 为不去斑"));
    btnOverlay = flatButton(QT_TRANSLATE_NOOP("MatchPanel", "匹配预览"),
                            QT_TRANSLATE_NOOP("MatchPanel", "显示将被转换的像素"), Panel3, QRect(132, 12, 57, 30));
    btnOverlay->setCheckable(true);
    btnFit = flatButton(QT_TRANSLATE_NOOP("MatchPanel", "适应窗口"),
                        QT_TRANSLATE_NOOP("MatchPanel", "缩放到适应窗口（Ctrl+滚轮缩放）"), Panel3,
                        QRect(192, 12, 57, 30));
    btnActual = flatButton("100%", QT_TRANSLATE_NOOP("MatchPanel", "原始大小"), Panel3, QRect(252, 12, 40, 30));
    Panel3->setEnabled(false);  // as Panel2: no input before the first picture
    Panel3->show();

    // Below GroupBox3 (which ends at 441) in the left column.
    GroupBox4 = new QGroupBox(QCoreApplication::translate("MatchPanel", "背景颜色"), leftColumn);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    GroupBox4->setGeometry(8, 446, 169, 44);
    lstBg = new ColorListBox(GroupBox4);
    lstBg->setObjectName(QStringLiteral("lstBg"));
    lstBg->setGeometry(8, 16, 153, 22);
    lstBg->setFlow(QListView::LeftToRight);
    lstBg->setWrapping(true);
    lstBg->setIconSize(QSize(10, 10));
    lstBg->setToolTip(QCoreApplication::translate("MatchPanel", "Shift+Ctrl+左键在图片上拾取背景颜色"));
    GroupBox4->show();

    // In the free room below the line width of GroupBox3 (which ends at 121).
    auto* output = leftColumn->findChild<QGroupBox*>(QStringLiteral("GroupBox3"));
    QWidget* box = output != nullptr ? static_cast<QWidget*>(output) : leftColumn;
    chkBoard = new QCheckBox(QCoreApplication::translate("MatchPanel", "实板规则"), box);
    chkBoard->setObjectName(QStringLiteral("chkBoard"));
    chkBoard->setGeometry(8, 98, 82, 18);
    chkBoard->setToolTip(QCoreApplication::translate("MatchPanel", "实板规则：每个像素按其周围出现的已拾取颜色解释（单色或两色混合），"
                            "横跨铜线且不宽于 0.4 mm 的浅色丝印算作铜；此时 Alt+Ctrl+左键拾取孔颜色"));
    btnSuggest = flatButton(QT_TRANSLATE_NOOP("MatchPanel", "建议颜色"), QT_TRANSLATE_NOOP("MatchPanel", "列出图片的主要颜色"),
                            box, QRect(96, 95, 65, 24));
    btnSuggest->setObjectName(QStringLiteral("btnSuggest"));
    chkBoard->show();
    btnSuggest->show();

    view_->setOverlay(&overlay_);

    connect(spnTolerance, &QSpinBox::valueChanged, this, &MatchPanel::settingsChanged);
    connect(spnDespeckle, &QSpinBox::valueChanged, this, &MatchPanel::settingsChanged);
    connect(chkBoard, &QCheckBox::toggled, this, &MatchPanel::settingsChanged);
    connect(btnOverlay, &QToolButton::toggled, this, [this](bool on) {
        overlay_.setEnabled(on);
        view_->update();
    });
    connect(btnFit, &QToolButton::clicked, this, &MatchPanel::zoomToFit);
    connect(btnActual, &QToolButton::clicked, this, [this] { setZoom(1.0); });
    connect(view_, &PictureView::zoomWheel, this,
            [this](int steps, QPoint at) { zoomAround(SteppedZoom(view_->zoom(), steps), at); });
    for (ColorListBox* list : {copperList_, lstBg}) {
        QAbstractItemModel* model = list->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, &MatchPanel::settingsChanged);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &MatchPanel::settingsChanged);
    }
    connect(lstBg, &ColorListBox::mousePressed, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int, int) {
                backgroundPressed(button, modifiers);
            });
    settingsChanged();
}

MatchPanel::~MatchPanel() {
    if (view_ != nullptr) view_->setOverlay(nullptr);
}

MatchSettings MatchPanel::settings() const { return settingsFor(sideState()); }

MatchSettings MatchPanel::settingsFor(const SideState& state) const {
    MatchSettings s;
    s.copper = colorsOf(state.copper);
    s.background = colorsOf(state.background);
    s.tolerance = state.tolerance;
    s.despeckle = state.despeckle;
    s.board = chkBoard->isChecked();
    s.holes = colorsOf(state.background, true);
    // The colour rule takes a hole colour as one more background colour.
    if (!s.board) s.background.insert(s.background.end(), s.holes.begin(), s.holes.end());
    s.dpi = dpi_;
    return s;
}

MatchPanel::SideState MatchPanel::sideState() const {
    return {copperList_->entries(), lstBg->entries(), spnTolerance->value(), spnDespeckle->value()};
}

void MatchPanel::setSideState(const SideState& state) {
    copperList_->clear();
    for (const QString& text : state.copper) copperList_->addItem(text);
    lstBg->clear();
    for (const QString& text : state.background) {
        if (text.startsWith(holeMark())) {
            addHole(static_cast<uint32_t>(text.mid(holeMark().size()).toInt()));
        } else {
            addBackground(static_cast<uint32_t>(text.toInt()));
        }
    }
    spnTolerance->setValue(state.tolerance);
    spnDespeckle->setValue(state.despeckle);
    settingsChanged();
}

void MatchPanel::settingsChanged() {
    overlay_.setSettings(settings());
    if (overlay_.enabled()) view_->update();
}

void MatchPanel::addBackground(uint32_t color) {
    if (color == kInvalidColor) return;
    const QString text = QString::fromStdString(IntToStr(static_cast<int32_t>(color)));
    if (lstBg->entries().contains(text, Qt::CaseSensitive)) return;
    auto* item = new QListWidgetItem(chipIcon(color), text);
    lstBg->addItem(item);
}

void MatchPanel::addHole(uint32_t color) {
    if (color == kInvalidColor) return;
    const QString text = holeMark() + QString::fromStdString(IntToStr(static_cast<int32_t>(color)));
    if (lstBg->entries().contains(text, Qt::CaseSensitive)) return;
    lstBg->addItem(new QListWidgetItem(ringIcon(color), text));
}

void MatchPanel::setDpi(int dpi) {
    if (dpi <= 0 || dpi == dpi_) return;
    dpi_ = dpi;
    if (chkBoard->isChecked()) settingsChanged();
}

// The same rules as the colour list: a left press shows the entry in the
// swatch, Ctrl and the right button delete the selected entry.
void MatchPanel::backgroundPressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    const QList<QListWidgetItem*> selected = lstBg->selectedItems();
    if (selected.isEmpty()) return;
    QListWidgetItem* item = selected.first();
    int32_t value = 0;
    if (button == Qt::LeftButton) {
        QString text = item->text();
        if (text.startsWith(holeMark())) text = text.mid(holeMark().size());
        if (TryStrToInt(text.toStdString(), value)) swatch_->setColor(static_cast<uint32_t>(value));
    } else if (button == Qt::RightButton && (modifiers & Qt::ControlModifier)) {
        delete lstBg->takeItem(lstBg->row(item));
        lstBg->clearSelection();
        lstBg->setCurrentItem(nullptr);
    }
}

void MatchPanel::pictureChanged() {
    Panel3->setEnabled(view_->shownRaster() != nullptr);
    overlay_.invalidate();
    view_->update();
}

double MatchPanel::zoom() const { return view_->zoom(); }

void MatchPanel::setZoom(double zoom) {
    const QSize viewport = scroll_->viewport()->size();
    // The view's centre, in the view's own coordinates.
    const QPoint centre(scroll_->horizontalScrollBar()->value() + viewport.width() / 2,
                        scroll_->verticalScrollBar()->value() + viewport.height() / 2);
    zoomAround(ClampZoom(zoom), centre);
}

void MatchPanel::zoomToFit() {
    const Raster* raster = view_->shownRaster();
    if (raster == nullptr || raster->Empty()) return;
    setZoom(FitZoom(QSize(raster->Width(), raster->Height()), scroll_->viewport()->size()));
}

// Zooms so that the picture point under widgetAnchor stays where it is on
// the screen.
void MatchPanel::zoomAround(double zoom, QPoint widgetAnchor) {
    const double old = view_->zoom();
    if (zoom == old) return;
    QScrollBar* h = scroll_->horizontalScrollBar();
    QScrollBar* v = scroll_->verticalScrollBar();
    const QPoint onScreen(widgetAnchor.x() - h->value(), widgetAnchor.y() - v->value());
    const double px = (widgetAnchor.x() + 0.5) / old;
    const double py = (widgetAnchor.y() + 0.5) / old;
    // The scroll area follows the view's new size at once (it watches the
    // view's resize), so the scroll ranges below are already the new ones.
    view_->setZoom(zoom);
    h->setValue(static_cast<int>(px * zoom) - onScreen.x());
    v->setValue(static_cast<int>(py * zoom) - onScreen.y());
}

}  // namespace rastrace::ui
