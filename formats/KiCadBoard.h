// SPDX-License-Identifier: GPL-3.0-or-later
// A whole board as a KiCad 6 board file (.kicad_pcb): every copper region
// a zone of its net on F.Cu or B.Cu whose filled polygon is the region's
// exact outline, every plated hole a via (drill below 0.8 mm) or a one-pad
// through-hole footprint, every unplated hole an NPTH footprint, and the
// board's outline on Edge.Cuts.
//
// The one fact a caller must know: zones are written so that KiCad's refill
// keeps the traced copper (the outline carries the region's holes as KiCad
// saves a zone's cutouts, no clearance, solid pad connections, islands
// kept), and coordinates are the model's, millimetres with Y down.
#pragma once

#include "board/Board.h"

#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace rastrace {

// A region's contour taken apart at its cuts (the pairs of edges that run
// both ways between the same two points): the outline first, then its holes,
// each closed with the first point not repeated; the holes run the other way
// round. A contour that does not come apart into one outline around holes
// comes back whole, as the only loop.
std::vector<std::vector<BoardPoint>> RegionLoops(std::span<const BoardPoint> contour);

// Writes the file to sink in pieces of about a megabyte. Throws Error for a
// coordinate beyond what KiCad holds (kKiCadMostNm), before writing.
void WriteKiCadBoard(const BoardModel& model, std::string_view generatorVersion,
                     const std::function<void(std::string_view)>& sink);

}  // namespace rastrace
