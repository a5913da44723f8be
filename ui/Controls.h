// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own control kinds: the raster view (Image1), the colour
// swatch (pColor), the colour list (lstCl), the band bar and the bevelled
// panel. Each reports its mouse presses as signals carrying the button, the
// Shift/Ctrl/Alt state and the position, so the window's handlers see one
// event shape whatever the control.
//
// The one fact a caller must know: PictureView does not own the raster it
// shows; the owner keeps it alive while it is set and calls setRaster again
// (or setRaster(nullptr)) before letting it go.
#pragma once

#include <QFrame>
#include <QListWidget>
#include <QWidget>

#include <functional>

#include <cstdint>

#include "raster/Raster.h"

class QPainter;

namespace rastrace::ui {

class MatchOverlay;

// Shows a raster at one screen pixel per raster pixel, top-left at the
// widget's origin. Paints only the exposed part, straight from the raster's
// rows, so even a huge scan is never copied for display.
// At another zoom (setZoom) the widget is the zoomed picture's size, and
// mouse positions are reported in picture pixels (ZoomView.h).
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    // Shows raster (nullptr: nothing). The widget takes the raster's size
    // when both its width and height are above 0 and otherwise keeps the
    // size it has. raster must outlive its use here.
    void setRaster(const Raster* raster);
    const Raster* shownRaster() const { return raster_; }

    // Zoom 1 is one screen pixel per picture pixel; kept within 1/16..16.
    void setZoom(double zoom);
    double zoom() const { return zoom_; }
    // Painted over the picture while it is switched on; not owned. The
    // paint brings its answers up to date for the visible part first.
    void setOverlay(MatchOverlay* overlay);
    // The picture pixel under a widget position.
    QPoint pictureAt(QPointF widgetPosition) const;
    // Painted last, over the picture and the overlay: painter is the
    // widget's, exposed the widget rectangle to paint, zoom the view's.
    // An empty function paints nothing.
    using Decoration = std::function<void(QPainter& painter, const QRect& exposed, double zoom)>;
    void setDecoration(Decoration decoration);

signals:
    // Ctrl and the wheel over the picture: steps > 0 zooms in.
    void zoomWheel(int steps, QPoint widgetPosition);
    // Positions are picture pixels (the widget position at zoom 1).
    void mouseMoved(Qt::KeyboardModifiers modifiers, int x, int y);
    // A double-click is reported as a second press of the same button.
    void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void fitToRaster();

    const Raster* raster_ = nullptr;
    double zoom_ = 1.0;
    MatchOverlay* overlay_ = nullptr;
    Decoration decoration_;
    int wheelAngle_ = 0;  // eighths of a degree not yet turned into steps
};

// A filled rounded rectangle without outline in one packed colour
// (0x00BBGGRR). The value 0xFFFFFFFF (a point outside the picture) is drawn
// as white with a light hatch, so the user sees that no colour is held.
class ColorSwatch : public QWidget {
    Q_OBJECT
public:
    explicit ColorSwatch(QWidget* parent = nullptr);

    void setColor(uint32_t packed);
    uint32_t color() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    uint32_t color_ = 0x00FFFFFFu;
};

// The colour list: single selection, unsorted. A left press selects the
// entry under the pointer; other buttons leave the selection as it is.
// After the list has handled the press itself, mousePressed is emitted.
class ColorListBox : public QListWidget {
    Q_OBJECT
public:
    explicit ColorListBox(QWidget* parent = nullptr);

    // The entries' texts in list order.
    QStringList entries() const;

signals:
    void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The band bar: a raised strip with a band grip at its left edge.
class BandBar : public QFrame {
    Q_OBJECT
public:
    explicit BandBar(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A panel with a raised inner bevel inside a lowered outer bevel.
class BevelPanel : public QFrame {
    Q_OBJECT
public:
    explicit BevelPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace rastrace::ui
