// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BoardViews.h"

#include <QPainter>
#include <QTransform>

namespace rastrace::ui {

namespace {

// Zoomed out this far (screen pixels per picture pixel, against the small
// picture's scale), the small pictures are sharp enough.
constexpr double kSmallEnough = 1.5;

// Draws the paths of drawing (in its own frame, which toWidget maps onto
// the widget) that meet exposed, with brushOf(k) and penOf(k).
template <class Pick>
void DrawPaths(QPainter& painter, const SideDrawing& drawing, const QTransform& toWidget, const QRect& exposed,
               Pick pick) {
    const QRectF visible = toWidget.inverted().mapRect(QRectF(exposed));
    painter.save();
    painter.setTransform(toWidget, true);
    for (size_t k = 0; k < drawing.paths.size(); ++k) {
        if (!drawing.boxes[k].intersects(visible)) continue;
        if (!pick(k, painter)) continue;
        painter.drawPath(drawing.paths[k]);
    }
    painter.restore();
}

}  // namespace

int32_t BoardViews::netAt(QPointF point) const {
    if (result_ == nullptr) return 0;
    const SideDrawing& d = result_->drawings[static_cast<int>(side_)];
    // The innermost region holding the point: an island inside another's
    // hole lies in the other's box too.
    int32_t net = 0;
    double smallest = 0;
    for (size_t k = 0; k < d.paths.size(); ++k) {
        if (!d.boxes[k].contains(point) || !d.paths[k].contains(point)) continue;
        const double area = d.boxes[k].width() * d.boxes[k].height();
        if (net == 0 || area < smallest) {
            net = d.netOf[k];
            smallest = area;
        }
    }
    return net;
}

void BoardViews::paint(QPainter& painter, const QRect& exposed, double zoom) const {
    const int s = static_cast<int>(side_);
    painter.setClipRect(exposed);
    if (result_ != nullptr) {
        const SideDrawing& mine = result_->drawings[s];
        const SideDrawing& other = result_->drawings[1 - s];
        const QTransform toWidget = QTransform::fromScale(zoom, zoom);
        const Affine2 otherToMine = s == 0 ? result_->bottomShownToTop : result_->bottomShownToTop.Inverse();
        const QTransform otherToWidget = TransformOf(otherToMine) * toWidget;
        const bool small = zoom <= mine.scale * kSmallEnough;
        painter.setPen(Qt::NoPen);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        auto drawSmall = [&](const QImage& image) {
            // The exposed part, from the small picture scaled to the zoom.
            const double k = zoom / mine.scale;
            const QRectF source(exposed.left() / k, exposed.top() / k, exposed.width() / k, exposed.height() / k);
            painter.drawImage(QRectF(exposed), image, source);
        };
        if (nets_) {
            if (small) {
                drawSmall(mine.nets);
            } else {
                DrawPaths(painter, mine, toWidget, exposed, [&](size_t k, QPainter& p) {
                    QColor c = NetColor(mine.netOf[k]);
                    c.setAlpha(170);
                    p.setBrush(c);
                    return true;
                });
            }
        }
        if (align_) {
            if (small) {
                drawSmall(mine.copper);
            } else {
                DrawPaths(painter, other, otherToWidget, exposed, [](size_t, QPainter& p) {
                    p.setBrush(QColor(0, 190, 255, 150));
                    return true;
                });
            }
        }
        if (highlight_ > 0) {
            // The net picked: filled on this side, outlined where it runs on the other.
            DrawPaths(painter, mine, toWidget, exposed, [&](size_t k, QPainter& p) {
                if (mine.netOf[k] != highlight_) return false;
                p.setBrush(QColor(255, 255, 0, 200));
                p.setPen(QPen(QColor(255, 0, 0), 0));
                return true;
            });
            DrawPaths(painter, other, otherToWidget, exposed, [&](size_t k, QPainter& p) {
                if (other.netOf[k] != highlight_) return false;
                p.setBrush(Qt::NoBrush);
                p.setPen(QPen(QColor(255, 0, 0), 0, Qt::DashLine));
                return true;
            });
        }
        if (nets_ || highlight_ > 0) {
            painter.setBrush(Qt::NoBrush);
            for (const SideDrawing::Mark& h : mine.holes) {
                const QPointF c = toWidget.map(h.centre);
                const double r = std::max(2.0, h.radius * zoom);
                if (!QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r).intersects(QRectF(exposed))) continue;
                painter.setPen(QPen(h.plated ? QColor(255, 255, 255) : QColor(255, 120, 0), 1.5));
                painter.drawEllipse(c, r, r);
            }
        }
    }
    // The point pairs: numbered crosses where they were clicked.
    const std::vector<QPointF>& points = s == 0 ? topPoints_ : bottomPoints_;
    painter.setPen(QPen(QColor(255, 0, 255), 2));
    for (size_t i = 0; i < points.size(); ++i) {
        const QPointF c = points[i] * zoom;
        painter.drawLine(c + QPointF(-6, 0), c + QPointF(6, 0));
        painter.drawLine(c + QPointF(0, -6), c + QPointF(0, 6));
        painter.drawText(c + QPointF(5, -5), QString::number(i + 1));
    }
}

}  // namespace rastrace::ui
