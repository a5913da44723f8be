// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Controls.h"

#include "ui/MatchOverlay.h"
#include "ui/ZoomView.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QWheelEvent>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>

namespace rastrace::ui {

// ---- PictureView ----------------------------------------------------------

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setFixedSize(121, 105);
    setMouseTracking(true);  // moves without a button held feed the swatch
}

void PictureView::setRaster(const Raster* raster) {
    raster_ = raster;
    fitToRaster();
    update();
}

void PictureView::fitToRaster() {
    if (raster_ != nullptr && raster_->Width() > 0 && raster_->Height() > 0) {
        setFixedSize(ZoomedSize(QSize(raster_->Width(), raster_->Height()), zoom_));
    }
}

void PictureView::setZoom(double zoom) {
    zoom = ClampZoom(zoom);
    if (zoom == zoom_) return;
    zoom_ = zoom;
    fitToRaster();
    update();
}

void PictureView::setOverlay(MatchOverlay* overlay) {
    overlay_ = overlay;
    update();
}

QPoint PictureView::pictureAt(QPointF widgetPosition) const {
    const QPoint w(static_cast<int>(std::floor(widgetPosition.x())), static_cast<int>(std::floor(widgetPosition.y())));
    if (zoom_ == 1.0) return w;
    QPoint p = WidgetToPicture(w, zoom_);
    // The widget's last pixels may have their centre just past the
    // picture's edge below 1:1; they show (and pick) the edge pixel.
    if (raster_ != nullptr && !raster_->Empty() && rect().contains(w)) {
        p.setX(std::min(p.x(), raster_->Width() - 1));
        p.setY(std::min(p.y(), raster_->Height() - 1));
    }
    return p;
}

void PictureView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        event->ignore();  // the scrolling area scrolls
        return;
    }
    wheelAngle_ += event->angleDelta().y();
    const int steps = wheelAngle_ / 120;
    wheelAngle_ -= steps * 120;
    if (steps != 0) emit zoomWheel(steps, event->position().toPoint());
    event->accept();
}

void PictureView::paintEvent(QPaintEvent* event) {
    if (raster_ == nullptr || raster_->Empty()) return;
    if (zoom_ != 1.0 || (overlay_ != nullptr && overlay_->enabled())) {
        if (overlay_ != nullptr && overlay_->enabled()) {
            overlay_->ensure(*raster_, zoom_, visibleRegion().boundingRect() | event->rect());
        }
        QPainter painter(this);
        PaintZoomed(painter, *raster_, event->rect(), zoom_, overlay_);
        if (decoration_) decoration_(painter, event->rect(), zoom_);
        return;
    }
    const QRect area = event->rect() & QRect(0, 0, raster_->Width(), raster_->Height());
    if (area.isEmpty()) return;

    // Each exposed row is wrapped in place as a one-line image; only the
    // visible columns are touched. The first column is rounded down to a
    // multiple of 4 so the wrapped data starts on a 4-byte boundary (rows
    // themselves are 4-byte aligned).
    const int x0 = area.left() & ~3;
    const int width = area.right() + 1 - x0;
    const qsizetype lineBytes = static_cast<qsizetype>(width) * 3;
    QPainter painter(this);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto row = raster_->RowBytes(y);
        const QImage line(row.data() + static_cast<size_t>(x0) * 3, width, 1, lineBytes, QImage::Format_BGR888);
        painter.drawImage(QPoint(x0, y), line);
    }
    if (decoration_) decoration_(painter, event->rect(), zoom_);
}

void PictureView::setDecoration(Decoration decoration) {
    decoration_ = std::move(decoration);
    update();
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = zoom_ == 1.0 ? event->position().toPoint() : pictureAt(event->position());
    emit mouseMoved(event->modifiers(), p.x(), p.y());
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = zoom_ == 1.0 ? event->position().toPoint() : pictureAt(event->position());
    emit mousePressed(event->button(), event->modifiers(), p.x(), p.y());
}

void PictureView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

// ---- ColorSwatch ----------------------------------------------------------

ColorSwatch::ColorSwatch(QWidget* parent) : QWidget(parent) {}

void ColorSwatch::setColor(uint32_t packed) {
    if (packed == color_) return;
    color_ = packed;
    update();
}

void ColorSwatch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // Corner ellipses a quarter of the shorter side across, as the classic
    // rounded-rectangle shape draws them.
    const qreal radius = std::min(width(), height()) / 8.0;
    const QRectF box = QRectF(rect());
    if (color_ == kInvalidColor) {
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(box, radius, radius);
        painter.setBrush(QBrush(QColor(200, 200, 200), Qt::BDiagPattern));
        painter.drawRoundedRect(box, radius, radius);
        return;
    }
    painter.setBrush(QColor(color_ & 0xFF, (color_ >> 8) & 0xFF, (color_ >> 16) & 0xFF));
    painter.drawRoundedRect(box, radius, radius);
}

// ---- ColorListBox ---------------------------------------------------------

ColorListBox::ColorListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setDragEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

QStringList ColorListBox::entries() const {
    QStringList entries;
    entries.reserve(count());
    for (int i = 0; i < count(); ++i) entries.append(item(i)->text());
    return entries;
}

namespace {

// event without its Shift/Ctrl/Alt state: in a single-selection list a left
// press always selects the entry under the pointer, where Qt's own
// handling would let Ctrl toggle the selection off.
QMouseEvent withoutModifiers(const QMouseEvent& event) {
    return QMouseEvent(event.type(), event.position(), event.scenePosition(), event.globalPosition(), event.button(),
                       event.buttons(), Qt::NoModifier, event.pointingDevice());
}

}  // namespace

void ColorListBox::mousePressEvent(QMouseEvent* event) {
    // Only the left button selects; a right or middle press keeps the
    // selection, so Ctrl+right acts on the entry selected before.
    if (event->button() == Qt::LeftButton) {
        QMouseEvent plain = withoutModifiers(*event);
        QListWidget::mousePressEvent(&plain);
    }
    event->accept();
    const QPoint p = event->position().toPoint();
    emit mousePressed(event->button(), event->modifiers(), p.x(), p.y());
}

void ColorListBox::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void ColorListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QMouseEvent plain = withoutModifiers(*event);
        QListWidget::mouseReleaseEvent(&plain);
    }
    event->accept();
}

// ---- BandBar --------------------------------------------------------------

BandBar::BandBar(QWidget* parent) : QFrame(parent) { setFrameStyle(QFrame::Panel | QFrame::Raised); }

void BandBar::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    // The band's grip: two raised vertical lines at the left edge.
    QPainter painter(this);
    const QPalette& pal = palette();
    for (int x : {3, 6}) {
        qDrawShadeLine(&painter, x, 4, x, height() - 5, pal, false, 1, 0);
    }
}

// ---- BevelPanel -----------------------------------------------------------

BevelPanel::BevelPanel(QWidget* parent) : QFrame(parent) {}

void BevelPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    qDrawShadePanel(&painter, rect(), pal, true, 1);                       // lowered outer
    qDrawShadePanel(&painter, rect().adjusted(1, 1, -1, -1), pal, false, 1);  // raised inner
}

}  // namespace rastrace::ui
