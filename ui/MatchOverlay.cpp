// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MatchOverlay.h"

#include "ui/ZoomView.h"

#include <algorithm>
#include <cmath>

namespace rastrace::ui {

namespace {

// Widget pixels computed beyond the visible part on each side, so a small
// scroll finds its answers ready.
constexpr int kScrollSlack = 64;

// The picture coordinates a widget span [from, to] shows at zoom, grown by
// margin grid entries each way and kept inside 0..limit-1, ascending, each
// once.
std::vector<int32_t> GridOf(int from, int to, double zoom, int margin, int32_t limit) {
    std::vector<int32_t> out;
    if (limit <= 0) return out;
    if (zoom >= 1.0) {
        const int32_t first = std::max<int32_t>(0, WidgetToPicture(from, zoom) - margin);
        const int32_t last = std::min<int32_t>(limit - 1, WidgetToPicture(to, zoom) + margin);
        for (int32_t p = first; p <= last; ++p) out.push_back(p);
        return out;
    }
    for (int w = from - margin; w <= to + margin; ++w) {
        const int32_t p = WidgetToPicture(w, zoom);
        if (p < 0 || p >= limit) continue;
        if (out.empty() || p > out.back()) out.push_back(p);
    }
    return out;
}

}  // namespace

void MatchOverlay::setSettings(const MatchSettings& settings) {
    settings_ = settings;
    valid_ = false;
}

void MatchOverlay::ensure(const Raster& raster, double zoom, const QRect& visible) {
    if (valid_ && raster_ == &raster && zoom_ == zoom && covered_.contains(visible)) return;
    raster_ = &raster;
    zoom_ = zoom;
    covered_ = visible.adjusted(-kScrollSlack, -kScrollSlack, kScrollSlack, kScrollSlack);
    valid_ = true;
    ++computations_;

    // Below 1:1 a grid entry stands for 1 / zoom² picture pixels, so the
    // speckle size is scaled to the grid; sizes below one entry vanish.
    int despeckle = settings_.despeckle;
    if (zoom < 1.0 && despeckle > 0) despeckle = static_cast<int>(std::lround(despeckle * zoom * zoom));
    const int margin = DespeckleMargin(despeckle);
    xs_ = GridOf(covered_.left(), covered_.right(), zoom, margin, raster.Width());
    ys_ = GridOf(covered_.top(), covered_.bottom(), zoom, margin, raster.Height());
    ClassifyGrid(raster, xs_, ys_, settings_, despeckle, classes_);
}

int MatchOverlay::classAt(int32_t x, int32_t y) const {
    const auto col = std::lower_bound(xs_.begin(), xs_.end(), x);
    const auto row = std::lower_bound(ys_.begin(), ys_.end(), y);
    if (col == xs_.end() || *col != x || row == ys_.end() || *row != y) return -1;
    return classes_[static_cast<size_t>(row - ys_.begin()) * xs_.size() + static_cast<size_t>(col - xs_.begin())];
}

}  // namespace rastrace::ui
