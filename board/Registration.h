// SPDX-License-Identifier: GPL-3.0-or-later
// Registration of the two sides: the map from the bottom scan's pixels to the
// top scan's pixels, found from the holes both sides show, or fitted to point
// pairs the user gives.
//
// The one fact a caller must know: the bottom scan is the mirror image of the
// board, so the map always mirrors (its determinant is negative), and a map
// that cannot be trusted is never returned: AlignSides throws Error instead.
//
// How AlignSides works: both sides' holes are put in millimetres (each with
// its own resolution), the bottom mirrored. Triangles of far-apart top holes
// are matched against bottom holes at the same distances (diameters
// compatible); each match proposes a rotation, scale and shift, which is
// checked on a sample of holes and then scored on all of them. The best few
// are refined by least-squares affine fits (Eigen) on holes matched one to
// one, with a shrinking match radius, and the one that matches the most holes
// wins (near-ties go to the smaller residual). Scoring every hole is what
// keeps a shift by one pitch of a header or DIP row from winning: it fits the
// grid but not the rest of the board.
//
// Thresholds (why these: two passes of one scanner differ in scale by a few
// tenths of a percent, hole centres are found to a fraction of a pixel):
// - each side needs at least kMinAlignHoles (6) holes;
// - at least kMinAlignHoles holes must match one to one, and at least
//   half of the side with fewer holes (a board matched to its own mirror
//   image fits its symmetric holes, seldom most of them);
// - two holes match when their centres are within 0.15 mm after the fit
//   (then 5 x RMS, between 0.06 and 0.15 mm) and their diameters differ by at
//   most 0.15 mm + 20 %;
// - the residual of the matched holes must not exceed 0.1 mm RMS;
// - the fitted map may scale the bottom (in millimetres) by 3 % at most, and
//   the matched holes must not lie on one line.
// Deterministic: a fixed seed, no time-dependence. Each side may hold at most
// kMaxAlignHoles holes (more is an error, not a long wait).
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "board/Board.h"

namespace rastrace {

inline constexpr int32_t kMinAlignHoles = 6;
inline constexpr int32_t kMaxAlignHoles = 200000;

struct SideHoles {
    std::vector<Hole> holes;
    double xres = 600, yres = 600;  // the side's dots per inch, to compare diameters and distances in millimetres
};

struct Alignment {
    Affine2 bottomToTop;            // bottom pixel -> top pixel; its determinant is negative (a mirror)
    int32_t matched = 0;            // holes (or point pairs) the fit rests on
    double rmsPx = 0, worstPx = 0;  // residuals of those, in top pixels
    std::vector<std::pair<int32_t, int32_t>> pairs;  // (top index, bottom index) of the matched holes
};

// Automatic alignment on the holes. Throws Error with a full-sentence message
// when it cannot be trusted (too few holes on a side, too few matched, a
// residual too large), e.g. "The two sides could not be aligned: only 3 holes
// match (at least 6 are needed)." Holes whose centre is not a finite number
// are ignored. The pairs are sorted by top index.
Alignment AlignSides(const SideHoles& top, const SideHoles& bottom);

// From point pairs clicked or typed by the user: (point on the top scan, the
// same point on the bottom scan), in pixels. Least-squares affine map, exact
// for three pairs. Throws Error for fewer than three pairs, for points that
// are not finite, and for pairs whose points lie on one line (on either
// scan: within a pixel of one line). The residual is that of the pairs (0
// for three). The map is what the points say: it is not forced to mirror.
Alignment AlignOnPoints(std::span<const std::pair<Vec2, Vec2>> topBottomPairs);

}  // namespace rastrace
