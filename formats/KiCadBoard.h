// SPDX-License-Identifier: GPL-3.0-or-later
// A whole board as a KiCad 6 board file (.kicad_pcb): every copper region
// a zone of its net on F.Cu or B.Cu whose filled polygon is the region's
// exact outline, every plated hole a via (drill below 0.8 mm) or a one-pad
// through-hole footprint, every unplated hole an NPTH footprint, and the
// board's outline on Edge.Cuts.
//
// The one fact a caller must know: zones are written so that refilling
// changes nothing (no clearance, solid pad connections, islands kept), and
// coordinates are the model's, millimetres with Y down.
#pragma once

#include "board/Board.h"

#include <functional>
#include <string_view>

namespace rastrace {

// Writes the file to sink in pieces of about a megabyte. Throws Error for a
// coordinate beyond what KiCad holds (kKiCadMostNm), before writing.
void WriteKiCadBoard(const BoardModel& model, std::string_view generatorVersion,
                     const std::function<void(std::string_view)>& sink);

}  // namespace rastrace
