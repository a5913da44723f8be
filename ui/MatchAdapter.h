// SPDX-License-Identifier: GPL-3.0-or-later
// Which pixels a conversion will trace, for the window's match overlay: the
// copper colours, the background colours, the tolerance and the speckle
// size, applied to a part of the picture only (the part on screen), so the
// overlay can follow every change at once even on a 1200-dpi A4 scan.
//
// The one fact a caller must know: the rule is the core's (ColorMatcher and
// speckle removal on runs), applied to the grid of pixels asked for. Class
// 0 means "not traced"; class k + 1 means copper colour k; kBackgroundClass
// means a background colour took the pixel. Settings a conversion would
// refuse (more than 255 copper colours with a tolerance) trace nothing.
#pragma once

#include "raster/Raster.h"

#include <QRect>

#include <cstdint>
#include <vector>

namespace rastrace::ui {

struct MatchSettings {
    std::vector<uint32_t> copper;      // packed 0x00BBGGRR, list order
    std::vector<uint32_t> background;  // packed 0x00BBGGRR
    int tolerance = 0;                 // 0..442, Euclidean RGB distance
    int despeckle = 0;                 // regions and holes below this many pixels go; 0 is off
    // The board rule (trace/BoardRule.h) instead of the colour rule, with
    // its hole colours and the scan's resolution for its stroke width.
    bool board = false;
    std::vector<uint32_t> holes;       // packed 0x00BBGGRR
    int dpi = 600;
};

inline constexpr uint8_t kUntracedClass = 0;
inline constexpr uint8_t kBackgroundClass = 255;
// Copper colours past this many share the last class; the overlay only
// tells traced from untraced, so nothing shown depends on it.
inline constexpr int kMaxCopperClasses = 254;

// The class of one colour under the core's rule (ColorMatcher): the
// nearest among the copper and background colours within the tolerance;
// ties go to the earlier copper colour, and copper wins over background.
// With tolerance 0 only an exact copper colour counts.
uint8_t ClassifyColor(uint32_t packed, const MatchSettings& settings);

// The classes of the pixels at columns xs and rows ys (picture coordinates,
// each list ascending and inside the picture), row by row into classOut
// (xs.size() * ys.size() entries). The core's speckle removal runs on this
// grid with neighbours being neighbouring grid entries (DespeckleWindow):
// a region that reaches a side of the grid lying inside the picture (a
// cut) may go on beyond it and is kept; the caller adds a margin around
// the part it needs. A region at the picture's own edge is judged like any
// other; a hole reaching any side is not enclosed and stays.
void ClassifyGrid(const Raster& raster, const std::vector<int32_t>& xs, const std::vector<int32_t>& ys,
                  const MatchSettings& settings, int despeckle, std::vector<uint8_t>& classOut);

// The margin ClassifyRows adds around the visible part for speckle
// removal: twice the speckle size (a hole may hold dropped speckles), at
// most kMaxDespeckleMargin so a huge size cannot make the overlay slow.
inline constexpr int kMaxDespeckleMargin = 128;
int DespeckleMargin(int despeckle);

// The classes of the picture's pixels inside visible (clipped to the
// picture), row by row into classOut (visible.width() * visible.height()
// after clipping; the clipped rectangle is returned). Exact, speckle
// removal included, for every region smaller than the margin allows.
QRect ClassifyRows(const Raster& raster, QRect visible, const MatchSettings& settings,
                   std::vector<uint8_t>& classOut);

}  // namespace rastrace::ui
