// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MatchAdapter.h"

#include "common/Error.h"
#include "trace/BoardRule.h"
#include "trace/ColorMatch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace rastrace::ui {

namespace {

// The core's matcher for settings, writing kBackgroundClass where a
// background colour takes a pixel; none when a conversion would refuse the
// settings (then nothing is traced). With tolerance 0 background colours
// change nothing, as in a conversion.
std::optional<ColorMatcher> MatcherOf(const MatchSettings& settings) {
    MatchOptions options;
    options.tolerance = std::clamp(settings.tolerance, 0, static_cast<int>(kMaxTolerance));
    if (options.tolerance > 0) options.backgroundColors = settings.background;
    try {
        return ColorMatcher(settings.copper, options, kBackgroundClass);
    } catch (const Error&) {
        return std::nullopt;
    }
}

}  // namespace

uint8_t ClassifyColor(uint32_t packed, const MatchSettings& settings) {
    const std::optional<ColorMatcher> matcher = MatcherOf(settings);
    return matcher ? matcher->Classify(packed) : kUntracedClass;
}

// The board rule over the grid's pixels as a picture of their own: copper
// is class 1, everything else untraced. On a sampled grid (zoomed out) the
// rule's stroke width and blend radius count grid entries.
void ClassifyBoardGrid(const Raster& raster, const std::vector<int32_t>& xs, const std::vector<int32_t>& ys,
                       const MatchSettings& settings, std::vector<uint8_t>& classOut) {
    const double step = xs.size() > 1 ? static_cast<double>(xs.back() - xs.front()) / static_cast<double>(xs.size() - 1) : 1.0;
    BoardColors colors = BoardDefaultsFor(static_cast<int32_t>(std::lround(settings.dpi / std::max(step, 1.0))));
    colors.copper = settings.copper;
    colors.noncopper = settings.background;
    colors.holes = settings.holes;
    colors.tolerance = settings.tolerance;
    const auto width = static_cast<int32_t>(xs.size());
    const auto height = static_cast<int32_t>(ys.size());
    BoardClassifier rule(width, height, colors);
    std::vector<uint8_t> pixels(3 * xs.size());
    // The grid's row y: its columns of the picture's sampled row.
    auto gridRow = [&](int32_t y) {
        const uint8_t* row = raster.RowBytes(ys[static_cast<size_t>(y)]).data();
        for (size_t i = 0; i < xs.size(); ++i) std::memcpy(&pixels[3 * i], row + 3 * static_cast<size_t>(xs[i]), 3);
        return static_cast<const uint8_t*>(pixels.data());
    };
    for (int32_t r = 0; r < height; ++r) rule.PopPulling(gridRow, classOut.data() + static_cast<size_t>(r) * xs.size());
}

void ClassifyGrid(const Raster& raster, const std::vector<int32_t>& xs, const std::vector<int32_t>& ys,
                  const MatchSettings& settings, int despeckle, std::vector<uint8_t>& classOut) {
    classOut.assign(xs.size() * ys.size(), kUntracedClass);
    if (settings.copper.empty() || xs.empty() || ys.empty()) return;
    const std::optional<ColorMatcher> matcher = MatcherOf(settings);
    if (!matcher) return;
    const auto width = static_cast<int32_t>(xs.size());
    // The grid's columns of a row side by side (the row itself when they
    // are one stretch of it), matched by the core's row kernel.
    const bool stretch = xs.back() - xs.front() + 1 == width;
    std::vector<uint8_t> pixels(stretch ? 0 : 3 * xs.size());
    if (settings.board) ClassifyBoardGrid(raster, xs, ys, settings, classOut);
    for (size_t r = 0; !settings.board && r < ys.size(); ++r) {
        const uint8_t* row = raster.RowBytes(ys[r]).data();
        const uint8_t* from = row + 3 * static_cast<size_t>(xs.front());
        if (!stretch) {
            for (size_t i = 0; i < xs.size(); ++i) std::memcpy(&pixels[3 * i], row + 3 * static_cast<size_t>(xs[i]), 3);
            from = pixels.data();
        }
        matcher->ClassifyRow(from, width, classOut.data() + r * xs.size());
    }
    if (despeckle <= 1) return;

    // The core's speckle removal on the grid, where a background pixel is
    // as untraced as any other. A side is a cut unless the grid reaches
    // the picture's edge there.
    unsigned cuts = 0;
    if (xs.front() > 0) cuts |= kCutLeft;
    if (ys.front() > 0) cuts |= kCutTop;
    if (xs.back() < raster.Width() - 1) cuts |= kCutRight;
    if (ys.back() < raster.Height() - 1) cuts |= kCutBottom;
    ClassRuns runs;
    runs.width = width;
    std::vector<uint8_t> traced(xs.size());
    for (size_t r = 0; r < ys.size(); ++r) {
        const uint8_t* cls = classOut.data() + r * xs.size();
        for (size_t i = 0; i < xs.size(); ++i) traced[i] = cls[i] == kBackgroundClass ? kUntracedClass : cls[i];
        rastrace::detail::AppendRowRuns(traced.data(), width, runs);
    }
    DespeckleWindow(runs, despeckle, cuts);
    for (size_t r = 0; r < ys.size(); ++r) {
        uint8_t* cls = classOut.data() + r * xs.size();
        for (const ClassRun& run : runs.Row(static_cast<int32_t>(r))) {
            for (int32_t i = run.start; i < run.end; ++i) {
                // Untraced stays as it was (background or not); the rest is the run's.
                if (run.cls != kUntracedClass || cls[i] != kBackgroundClass) cls[i] = run.cls;
            }
        }
    }
}

int DespeckleMargin(int despeckle) {
    if (despeckle <= 0) return 0;
    return static_cast<int>(std::min<int64_t>(static_cast<int64_t>(despeckle) * 2, kMaxDespeckleMargin));
}

QRect ClassifyRows(const Raster& raster, QRect visible, const MatchSettings& settings,
                   std::vector<uint8_t>& classOut) {
    const QRect picture(0, 0, raster.Width(), raster.Height());
    visible &= picture;
    classOut.clear();
    if (visible.isEmpty()) return visible;
    const int margin = DespeckleMargin(settings.despeckle);
    const QRect grown = visible.adjusted(-margin, -margin, margin, margin) & picture;

    std::vector<int32_t> xs(static_cast<size_t>(grown.width()));
    std::vector<int32_t> ys(static_cast<size_t>(grown.height()));
    for (size_t i = 0; i < xs.size(); ++i) xs[i] = grown.left() + static_cast<int32_t>(i);
    for (size_t i = 0; i < ys.size(); ++i) ys[i] = grown.top() + static_cast<int32_t>(i);
    std::vector<uint8_t> all;
    ClassifyGrid(raster, xs, ys, settings, settings.despeckle, all);
    classOut.resize(static_cast<size_t>(visible.width()) * static_cast<size_t>(visible.height()));
    const size_t gw = static_cast<size_t>(grown.width());
    for (int y = 0; y < visible.height(); ++y) {
        const size_t from = static_cast<size_t>(y + visible.top() - grown.top()) * gw +
                            static_cast<size_t>(visible.left() - grown.left());
        std::copy_n(all.begin() + static_cast<std::ptrdiff_t>(from), visible.width(),
                    classOut.begin() + static_cast<std::ptrdiff_t>(y) * visible.width());
    }
    return visible;
}

}  // namespace rastrace::ui
