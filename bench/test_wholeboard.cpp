// SPDX-License-Identifier: GPL-3.0-or-later
// The whole-board pipeline on the two-sided scanner model: both sides
// traced, aligned on their holes and put together into nets, scored
// against the model's truth.
#include "TwoSidedBoard.h"

#include "board/Nets.h"
#include "board/Registration.h"
#include "board/SideTrace.h"
#include "raster/PictureRows.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace rastrace::bench {
namespace {

SideTrace Trace(Raster raster, const TwoSidedBoard& board, int32_t dpi) {
    Picture picture;
    picture.raster = std::move(raster);
    SideRequest side;
    side.colors.copper = {board.copperColor};
    side.colors.noncopper = {board.boardColor};
    side.colors.holes = {board.lidColor};
    side.tolerance = 60;
    side.xres = side.yres = dpi;
    return TraceSide(RasterRows(std::move(picture)), side);
}

struct Result {
    HoleScore holes;
    MapScore map;
    double nets = 0;
    int32_t matched = 0;
};

Result RunPipeline(const TwoSidedOptions& options) {
    TwoSidedBoard board = MakeTwoSidedBoard(options);
    const int32_t dpi = static_cast<int32_t>(options.dpi);
    const SideTrace top = Trace(std::move(board.top), board, dpi);
    const SideTrace bottom = Trace(std::move(board.bottom), board, dpi);
    const Alignment alignment = AlignSides({top.holes, options.dpi, options.dpi}, {bottom.holes, options.dpi, options.dpi});
    const BoardModel model = AssembleBoard(top, &bottom, alignment.bottomToTop, alignment.pairs);

    Result result;
    result.matched = alignment.matched;
    result.map = ScoreMap(board, alignment.bottomToTop);
    std::vector<Vec2> centres;
    std::vector<double> drills;
    for (const BoardHole& h : model.holes) {
        centres.push_back({h.centre.x * options.dpi / 25.4e6, h.centre.y * options.dpi / 25.4e6});
        drills.push_back(h.drillNm / 1e6);
    }
    result.holes = ScoreHoles(board.holes, centres, drills);
    std::vector<Vec2> topPoints, bottomPoints;
    for (const TruePad& pad : board.pads) (pad.front ? topPoints : bottomPoints).push_back(pad.front ? pad.top : pad.bottom);
    const std::vector<int32_t> onTop = RegionsAt(top.regions, topPoints);
    const std::vector<int32_t> onBottom = RegionsAt(bottom.regions, bottomPoints);
    std::vector<int32_t> ours;
    size_t t = 0, b = 0;
    for (const TruePad& pad : board.pads) {
        const int32_t region = pad.front ? onTop[t++] : onBottom[b++];
        const size_t index = pad.front ? static_cast<size_t>(region) : top.regions.size() + static_cast<size_t>(region);
        ours.push_back(region < 0 ? 0 : model.regions[index].net);
    }
    result.nets = ScoreNets(board.pads, ours);
    return result;
}

// Holes found and measured, nets exact, on boards of every shape the model
// draws, the bottom turned and scaled as a second scan leaves it.
TEST(WholeBoard, HolesAndNetsOfScannedBoards) {
    double worstRecall = 1, worstPrecision = 1, worstCentre = 0, worstDiameter = 0, worstNets = 1;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        TwoSidedOptions options;
        options.widthMm = 60;
        options.heightMm = 40;
        options.seed = seed;
        const Result r = RunPipeline(options);
        worstRecall = std::min(worstRecall, r.holes.recall);
        worstPrecision = std::min(worstPrecision, r.holes.precision);
        worstCentre = std::max(worstCentre, r.holes.worstCentrePx);
        worstDiameter = std::max(worstDiameter, r.holes.worstDiameterMm);
        worstNets = std::min(worstNets, r.nets);
    }
    std::printf("holes: recall %.4f precision %.4f, centre %.3f px, diameter %.3f mm; nets exact %.4f (worst of 6)\n",
                worstRecall, worstPrecision, worstCentre, worstDiameter, worstNets);
    EXPECT_GE(worstRecall, 0.99);
    EXPECT_GE(worstPrecision, 0.99);
    EXPECT_LE(worstCentre, 1.0);
    EXPECT_LE(worstDiameter, 0.1);
    EXPECT_GE(worstNets, 0.98);
}

// The found map carries the true hole centres within half a pixel RMS and
// a pixel and a half at worst, in each of 100 seeded trials: the bottom
// turned by a multiple of 90 degrees plus up to 5, scaled by up to 0.3%,
// 5% of the holes hidden on one side and 5% spurious.
TEST(WholeBoard, RegistrationOfScannedSidesInEveryTrial) {
    double worstRms = 0, worstPoint = 0;
    for (uint64_t seed = 1; seed <= 100; ++seed) {
        TwoSidedOptions options;
        options.widthMm = 60;
        options.heightMm = 40;
        options.seed = 1000 + seed;
        options.hiddenHoleShare = 0.05;
        options.spuriousHoleShare = 0.05;
        const Result r = RunPipeline(options);
        worstRms = std::max(worstRms, r.map.rmsPx);
        worstPoint = std::max(worstPoint, r.map.worstPx);
        EXPECT_LE(r.map.rmsPx, 0.5) << "seed " << options.seed;
        EXPECT_LE(r.map.worstPx, 1.5) << "seed " << options.seed;
    }
    std::printf("registration over 100 trials: worst RMS %.3f px, worst point %.3f px\n", worstRms, worstPoint);
}

}  // namespace
}  // namespace rastrace::bench

namespace rastrace::bench {
namespace {

std::string Shell(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    status = pipe != nullptr ? ::pclose(pipe) : -1;
    return out;
}

std::string Hex(uint32_t packed) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", packed & 0xFFu, packed >> 8 & 0xFFu, packed >> 16 & 0xFFu);
    return text;
}

// The command line makes a KiCad board and a Gerber job of two scans;
// KiCad loads the board and finds every item connected in our nets.
TEST(WholeBoard, CommandLineWritesBoardsKiCadLoads) {
    TwoSidedOptions options;
    options.widthMm = 50;
    options.heightMm = 36;
    options.seed = 5;
    const TwoSidedBoard board = MakeTwoSidedBoard(options);
    char pattern[] = "/tmp/rastrace-wholeboard-XXXXXX";
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr ? std::string(tmp) + "/rastrace-wholeboard-XXXXXX" : pattern;
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    WriteTwoSidedBoard(board, options, dir);
    const std::string colours = " -c '" + Hex(board.copperColor) + "' -b '" + Hex(board.boardColor) + "' -H '" +
                                Hex(board.lidColor) + "' -t 60 ";
    int status = 0;
    const std::string said = Shell(std::string(RASTRACE_CLI_PATH) + colours + dir + "/top.bmp --bottom " + dir +
                                     "/bottom.bmp " + dir + "/board.kicad_pcb",
                                 status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find("rastrace-cli: the bottom is aligned on "), std::string::npos) << said;
    EXPECT_NE(said.find(" px RMS\n"), std::string::npos) << said;
    // "rastrace-cli: R regions in N nets, ..."
    int regions = 0, nets = 0;
    const size_t at = said.find("\nrastrace-cli: ");
    ASSERT_NE(at, std::string::npos) << said;
    ASSERT_EQ(std::sscanf(said.c_str() + at, "\nrastrace-cli: %d regions in %d nets", &regions, &nets), 2) << said;
    EXPECT_GT(nets, 5);

    const std::string job = Shell(std::string(RASTRACE_CLI_PATH) + colours + " -q " + dir + "/top.bmp --bottom " + dir +
                                    "/bottom.bmp " + dir + "/board.gbrjob",
                                status);
    EXPECT_EQ(status, 0) << job;
    for (const char* name : {"board.gbrjob", "board-F_Cu.gbr", "board-B_Cu.gbr", "board-Edge_Cuts.gbr", "board-PTH.drl",
                             "board-NPTH.drl"}) {
        EXPECT_EQ(::access((dir + "/" + name).c_str(), R_OK), 0) << name;
    }
    // Too few holes to align: a clear error, and the old board stays.
    const std::string refused = Shell(std::string(RASTRACE_CLI_PATH) + colours + dir + "/top.bmp --bottom " + dir +
                                        "/top.bmp " + dir + "/board.kicad_pcb",
                                    status);
    EXPECT_NE(status, 0);
    EXPECT_NE(refused.find("could not be aligned"), std::string::npos) << refused;

    if (Shell("/usr/bin/python3 -c 'import pcbnew'", status), status != 0) {
        Shell("rm -rf '" + dir + "'", status);
        GTEST_SKIP() << "KiCad's pcbnew module is not installed (Debian package kicad): the board was not loaded";
    }
    const std::string checked = Shell("/usr/bin/python3 " RASTRACE_SOURCE_DIR "/tests/kicad_board_check.py " + dir +
                                        "/board.kicad_pcb " + std::to_string(regions) + " " + std::to_string(nets),
                                    status);
    EXPECT_EQ(status, 0) << checked;
    Shell("rm -rf '" + dir + "'", status);
}

}  // namespace
}  // namespace rastrace::bench
