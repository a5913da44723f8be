// SPDX-License-Identifier: GPL-3.0-or-later
// A whole board as a Gerber job: the job file (JSON) and beside it the
// front and back copper (regions carrying their net as an X2 attribute),
// the board's profile and the plated and unplated drill files (Excellon
// with X2 file attributes), all named after the job file.
//
// The one fact a caller must know: every file uses the Gerber convention
// of the single-layer Gerber, millimetres with the origin at the top
// scan's bottom-left corner and Y up, so the layers and drills line up in
// any viewer.
#pragma once

#include "board/Board.h"

#include <functional>
#include <string>
#include <string_view>

namespace rastrace {

// For "out/board.gbrjob": "out/board-F_Cu.gbr", "out/board-B_Cu.gbr",
// "out/board-Edge_Cuts.gbr", "out/board-PTH.drl", "out/board-NPTH.drl".
struct GerberSetNames {
    std::string job, frontCopper, backCopper, edge, platedDrill, unplatedDrill;
};
GerberSetNames GerberSetNamesFor(std::string_view jobPath);

enum class GerberSetFile { FrontCopper, BackCopper, Edge, PlatedDrill, UnplatedDrill, Job };

// One file's text to sink; the job file names the others without their folders.
void WriteGerberSetFile(const BoardModel& model, GerberSetFile which, const GerberSetNames& names,
                        std::string_view generatorVersion, const std::function<void(std::string_view)>& sink);

}  // namespace rastrace
