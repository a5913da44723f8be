// SPDX-License-Identifier: GPL-3.0-or-later
// The board's nets: which copper region of a side lies under a point, and
// the assembly of both sides' regions, holes and alignment into the board
// model, every region in a net.
//
// The one fact a caller must know: a hole joins a region of the top to one
// of the bottom only where copper rings it on both sides (probes on a
// circle just outside the opening must find one region on each side);
// nets are then the connected groups of regions, named N1, N2, ... by the
// top-left-most point of each (top first, then left).
#pragma once

#include "board/Board.h"
#include "trace/Outline.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace rastrace {

// For each point (in the side's pixels), the region whose pixels hold it:
// an index into regions, or -1 where no region does. Where regions nest
// (an island in another's hole), the inner one. One sweep over every
// vertical edge of the contours, so the cost is the edges plus the points
// each edge passes, not points times vertices.
std::vector<int32_t> RegionsAt(std::span<const OutlineShape> regions, std::span<const Vec2> points);

// One traced side: its copper regions and holes in its own pixels.
struct SideTrace {
    int32_t width = 0, height = 0;
    int32_t xres = 600, yres = 600;
    std::vector<OutlineShape> regions;
    std::vector<Hole> holes;
    std::vector<Vec2> edge;  // pixel corners; empty: no lid seen
};

struct BoardFacts {
    int32_t holes = 0, plated = 0, vias = 0;
    int32_t regions = 0, nets = 0;
};

// The model of the board. bottom and bottomToTop together, or neither (a
// board of the top alone, whose holes are never plated). pairs names the
// holes the alignment matched (top index, bottom index); holes the
// alignment left unmatched are paired here when they lie within half a
// radius (and two pixels) of each other.
BoardModel AssembleBoard(const SideTrace& top, const SideTrace* bottom, const std::optional<Affine2>& bottomToTop,
                         std::span<const std::pair<int32_t, int32_t>> pairs, BoardFacts* facts = nullptr);

// The drill a measured diameter stands for: rounded to 0.05 mm, at least 0.05 mm.
int64_t DrillNmOf(double diameterMm);

}  // namespace rastrace
