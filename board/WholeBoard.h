// SPDX-License-Identifier: GPL-3.0-or-later
// The two traced sides put on each other: on the holes both show, or on
// point pairs a user gives where the holes are too few.
//
// The one fact a caller must know: an alignment that cannot be trusted is
// never returned. Point pairs are refused when they do not fit one map
// within kMostPointResidualPx; the holes' own thresholds are
// Registration's.
#pragma once

#include "board/Nets.h"
#include "board/Registration.h"

#include <span>
#include <utility>

namespace rastrace {

// The residual (px RMS) point pairs may leave and still be trusted: a
// click is good to a pixel or two.
inline constexpr double kMostPointResidualPx = 3.0;

// The bottom's map onto the top. points (top pixel, bottom pixel, both in
// pixel coordinates: a pixel's centre at +0.5) are used when there are
// any, the holes otherwise. Throws Error with a full sentence, such as
// "The point pairs do not fit one alignment: the residual is 4.20 px RMS
// (at most 3 px is trusted)".
Alignment AlignTracedSides(const SideTrace& top, const SideTrace& bottom,
                           std::span<const std::pair<Vec2, Vec2>> points);

}  // namespace rastrace
