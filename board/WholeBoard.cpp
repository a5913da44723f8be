// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/WholeBoard.h"

#include "common/Error.h"
#include "common/IntText.h"

namespace rastrace {

Alignment AlignTracedSides(const SideTrace& top, const SideTrace& bottom,
                           std::span<const std::pair<Vec2, Vec2>> points) {
    if (points.empty()) {
        return AlignSides({top.holes, static_cast<double>(top.xres), static_cast<double>(top.yres)},
                          {bottom.holes, static_cast<double>(bottom.xres), static_cast<double>(bottom.yres)});
    }
    Alignment alignment = AlignOnPoints(points);
    if (!(alignment.rmsPx <= kMostPointResidualPx)) {
        throw Error("The point pairs do not fit one alignment: the residual is " + FixedText(alignment.rmsPx, 2) +
                    " px RMS (at most " + FixedText(kMostPointResidualPx, 0) + " px is trusted)");
    }
    alignment.pairs.clear();  // no holes were matched
    return alignment;
}

}  // namespace rastrace
