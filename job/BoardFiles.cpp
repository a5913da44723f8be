// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/BoardFiles.h"

#include "common/Error.h"
#include "formats/GerberSet.h"
#include "formats/KiCadBoard.h"
#include "job/OutputFile.h"

#include <cctype>

namespace rastrace {

namespace {

bool EndsWithIgnoringCase(std::string_view text, std::string_view ending) {
    if (text.size() < ending.size()) return false;
    const std::string_view tail = text.substr(text.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) != ending[i]) return false;
    }
    return true;
}

constexpr GerberSetFile kSetFiles[] = {GerberSetFile::FrontCopper, GerberSetFile::BackCopper,
                                       GerberSetFile::Edge,        GerberSetFile::PlatedDrill,
                                       GerberSetFile::UnplatedDrill, GerberSetFile::Job};

}  // namespace

std::optional<BoardFileKind> BoardFileKindFor(std::string_view path) {
    if (EndsWithIgnoringCase(path, ".kicad_pcb")) return BoardFileKind::KiCad;
    if (EndsWithIgnoringCase(path, ".gbrjob")) return BoardFileKind::GerberJob;
    return std::nullopt;
}

std::vector<std::string> BoardFilePaths(BoardFileKind kind, const std::string& path) {
    if (kind == BoardFileKind::KiCad) return {path};
    const GerberSetNames names = GerberSetNamesFor(path);
    return {names.frontCopper, names.backCopper, names.edge, names.platedDrill, names.unplatedDrill, names.job};
}

void WriteBoardFileText(const BoardModel& model, BoardFileKind kind, const std::string& path, size_t index,
                        std::string_view generatorVersion, const std::function<void(std::string_view)>& sink) {
    if (kind == BoardFileKind::KiCad) {
        WriteKiCadBoard(model, generatorVersion, sink);
    } else {
        WriteGerberSetFile(model, kSetFiles[index], GerberSetNamesFor(path), generatorVersion, sink);
    }
}

void WriteBoardFiles(const BoardModel& model, BoardFileKind kind, const std::string& path,
                     std::string_view generatorVersion, const std::function<bool()>& stop) {
    const std::vector<std::string> paths = BoardFilePaths(kind, path);
    std::vector<OutputFile> files;
    files.reserve(paths.size());
    try {
        for (size_t i = 0; i < paths.size(); ++i) {
            if (stop && stop()) throw Error("Stopped");
            files.push_back(OutputFile::Create(paths[i]));
            OutputFile& file = files.back();
            WriteBoardFileText(model, kind, path, i, generatorVersion,
                               [&file](std::string_view text) { file.Write(text); });
        }
        if (stop && stop()) throw Error("Stopped");
        for (OutputFile& file : files) file.Close();
    } catch (...) {
        for (OutputFile& file : files) file.Abandon();  // a closed one is left in place
        throw;
    }
}

}  // namespace rastrace
