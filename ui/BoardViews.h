// SPDX-License-Identifier: GPL-3.0-or-later
// What the window draws over a side of a whole board: the other side's
// copper carried onto it (the alignment view), every net in its own colour
// (the net view), one net picked out on both sides, the holes, and the
// point pairs being clicked.
//
// The one fact a caller must know: painting never computes anything that
// grows with the board beyond what is on screen. Zoomed out, it draws the
// small pictures the task prepared; zoomed in, only the regions whose
// boxes meet the exposed part.
#pragma once

#include "ui/BoardTask.h"

#include <QPointF>
#include <QRect>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

namespace rastrace::ui {

class BoardViews {
public:
    void setResult(std::shared_ptr<const BoardResult> result) { result_ = std::move(result); }
    const std::shared_ptr<const BoardResult>& result() const { return result_; }

    void setSide(BoardSide side) { side_ = side; }
    void setAlignView(bool on) { align_ = on; }
    void setNetView(bool on) { nets_ = on; }
    bool netView() const { return nets_; }
    void setHighlight(int32_t net) { highlight_ = net; }
    int32_t highlight() const { return highlight_; }
    // The point pairs, as the window holds them: complete pairs and, last,
    // perhaps a top point still waiting for its bottom point.
    void setPoints(std::vector<QPointF> top, std::vector<QPointF> bottom) {
        topPoints_ = std::move(top);
        bottomPoints_ = std::move(bottom);
    }

    // The net of the copper under a point of the side shown (its pixels,
    // a pixel's centre at +0.5); 0 where no copper is.
    int32_t netAt(QPointF point) const;

    void paint(QPainter& painter, const QRect& exposed, double zoom) const;

private:
    std::shared_ptr<const BoardResult> result_;
    BoardSide side_ = BoardSide::Top;
    bool align_ = false, nets_ = false;
    int32_t highlight_ = 0;
    std::vector<QPointF> topPoints_, bottomPoints_;
};

}  // namespace rastrace::ui
