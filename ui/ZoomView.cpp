// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ZoomView.h"

#include "ui/MatchOverlay.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace rastrace::ui {

namespace {

// Zoom steps are 2^(k/4) for k = -16..16.
constexpr int kStepsPerDoubling = 4;
constexpr int kLowestStep = -16;
constexpr int kHighestStep = 16;

double StepZoom(int k) { return std::exp2(static_cast<double>(k) / kStepsPerDoubling); }

// Overlay tints: traced pixels are pulled towards magenta, a colour boards
// seldom have; the others are darkened.
constexpr int kTraceR = 255, kTraceG = 40, kTraceB = 200;

void Tint(uint8_t* rgb, int cls) {
    if (cls < 0) return;  // not computed: shown as it is
    if (cls != kUntracedClass && cls != kBackgroundClass) {
        rgb[0] = static_cast<uint8_t>((rgb[0] * 3 + kTraceR * 7) / 10);
        rgb[1] = static_cast<uint8_t>((rgb[1] * 3 + kTraceG * 7) / 10);
        rgb[2] = static_cast<uint8_t>((rgb[2] * 3 + kTraceB * 7) / 10);
    } else {
        rgb[0] = static_cast<uint8_t>(rgb[0] * 2 / 5);
        rgb[1] = static_cast<uint8_t>(rgb[1] * 2 / 5);
        rgb[2] = static_cast<uint8_t>(rgb[2] * 2 / 5);
    }
}

// For each picture coordinate in pics, its index in grid (ascending), or -1.
std::vector<int> GridIndices(const std::vector<int32_t>& pics, const std::vector<int32_t>& grid) {
    std::vector<int> out(pics.size(), -1);
    for (size_t i = 0; i < pics.size(); ++i) {
        const auto it = std::lower_bound(grid.begin(), grid.end(), pics[i]);
        if (it != grid.end() && *it == pics[i]) out[i] = static_cast<int>(it - grid.begin());
    }
    return out;
}

}  // namespace

double ClampZoom(double zoom) {
    if (!(zoom > 0)) return 1.0;
    return std::clamp(zoom, kMinZoom, kMaxZoom);
}

double SteppedZoom(double zoom, int steps) {
    zoom = ClampZoom(zoom);
    // The step at or just below zoom (a tiny allowance absorbs rounding).
    const double exact = std::log2(zoom) * kStepsPerDoubling;
    int k = static_cast<int>(std::floor(exact + 1e-9));
    const bool onStep = std::abs(exact - k) < 1e-9;
    if (steps > 0) {
        k += steps;
    } else if (steps < 0) {
        k += onStep ? steps : steps + 1;
    }
    return StepZoom(std::clamp(k, kLowestStep, kHighestStep));
}

double FitZoom(QSize pictureSize, QSize area) {
    if (pictureSize.isEmpty() || area.isEmpty()) return 1.0;
    return ClampZoom(std::min(static_cast<double>(area.width()) / pictureSize.width(),
                              static_cast<double>(area.height()) / pictureSize.height()));
}

QSize ZoomedSize(QSize pictureSize, double zoom) {
    if (pictureSize.isEmpty()) return pictureSize;
    const auto side = [zoom](int n) { return std::max(1, static_cast<int>(std::ceil(n * zoom - 1e-9))); };
    return QSize(side(pictureSize.width()), side(pictureSize.height()));
}

int32_t WidgetToPicture(int widget, double zoom) {
    return static_cast<int32_t>(std::floor((widget + 0.5) / zoom));
}

QPoint WidgetToPicture(QPoint widget, double zoom) {
    return QPoint(WidgetToPicture(widget.x(), zoom), WidgetToPicture(widget.y(), zoom));
}

int PictureToWidget(int32_t p, double zoom) {
    // The smallest w with floor((w + 0.5) / zoom) >= p.
    int w = static_cast<int>(std::ceil(p * zoom - 0.5));
    while (WidgetToPicture(w, zoom) < p) ++w;
    while (WidgetToPicture(w - 1, zoom) >= p) --w;
    return w;
}

QRect PictureRectOf(const QRect& widgetRect, double zoom) {
    const QPoint topLeft = WidgetToPicture(widgetRect.topLeft(), zoom);
    const QPoint bottomRight = WidgetToPicture(widgetRect.bottomRight(), zoom);
    return QRect(topLeft, bottomRight);
}

void PaintZoomed(QPainter& painter, const Raster& raster, const QRect& exposed, double zoom,
                 const MatchOverlay* overlay) {
    if (raster.Empty()) return;
    const QRect area = exposed & QRect(QPoint(0, 0), ZoomedSize(QSize(raster.Width(), raster.Height()), zoom));
    if (area.isEmpty()) return;

    std::vector<int32_t> columns(static_cast<size_t>(area.width()));
    for (int i = 0; i < area.width(); ++i) {
        columns[static_cast<size_t>(i)] = std::min(raster.Width() - 1, WidgetToPicture(area.left() + i, zoom));
    }
    const bool tinted = overlay != nullptr && overlay->enabled();
    std::vector<int> gridColumns;
    if (tinted) gridColumns = GridIndices(columns, overlay->columns());

    QImage image(area.size(), QImage::Format_RGB888);
    int32_t previousRow = -1;
    for (int j = 0; j < area.height(); ++j) {
        uchar* out = image.scanLine(j);
        const int32_t y = std::min(raster.Height() - 1, WidgetToPicture(area.top() + j, zoom));
        if (y == previousRow) {  // zoomed in: the same picture row again
            std::copy_n(image.constScanLine(j - 1), static_cast<size_t>(area.width()) * 3, out);
            continue;
        }
        previousRow = y;
        const uint8_t* row = raster.RowBytes(y).data();
        int gridRow = -1;
        if (tinted) {
            const auto& rows = overlay->rows();
            const auto it = std::lower_bound(rows.begin(), rows.end(), y);
            if (it != rows.end() && *it == y) gridRow = static_cast<int>(it - rows.begin());
        }
        const uint8_t* classes =
            gridRow >= 0 ? overlay->classes().data() + static_cast<size_t>(gridRow) * overlay->columns().size() : nullptr;
        for (int i = 0; i < area.width(); ++i) {
            const uint8_t* p = row + static_cast<size_t>(columns[static_cast<size_t>(i)]) * 3;
            uint8_t* rgb = out + static_cast<size_t>(i) * 3;
            rgb[0] = p[2];
            rgb[1] = p[1];
            rgb[2] = p[0];
            if (tinted) {
                const int g = gridColumns[static_cast<size_t>(i)];
                Tint(rgb, classes != nullptr && g >= 0 ? classes[g] : -1);
            }
        }
    }
    painter.drawImage(area.topLeft(), image);
}

}  // namespace rastrace::ui
