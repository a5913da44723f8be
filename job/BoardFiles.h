// SPDX-License-Identifier: GPL-3.0-or-later
// A board model written to its files: a KiCad board (one file) or a Gerber
// job with its five layer and drill files beside it.
//
// The one fact a caller must know: the files are replaced all or none.
// Every file is written to its temporary first; only when all are complete
// are they renamed into place, so a failure or a stop (stop() true between
// files) leaves every file that was there as it was.
#pragma once

#include "board/Board.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rastrace {

enum class BoardFileKind { KiCad, GerberJob };

// KiCad for a name ending in ".kicad_pcb", GerberJob for ".gbrjob" (any
// case); nothing for any other.
std::optional<BoardFileKind> BoardFileKindFor(std::string_view path);

// The files kind writes for path, the one named path last.
std::vector<std::string> BoardFilePaths(BoardFileKind kind, const std::string& path);

// The text of file index of BoardFilePaths(kind, path), to sink.
void WriteBoardFileText(const BoardModel& model, BoardFileKind kind, const std::string& path, size_t index,
                        std::string_view generatorVersion, const std::function<void(std::string_view)>& sink);

// Writes model as kind to path (and its companions). Throws Error with the
// I/O error text; Error("Stopped") when stop says so.
void WriteBoardFiles(const BoardModel& model, BoardFileKind kind, const std::string& path,
                     std::string_view generatorVersion, const std::function<bool()>& stop = {});

}  // namespace rastrace
