// SPDX-License-Identifier: GPL-3.0-or-later
// The whole-board pipeline on the two-sided scanner model: both sides
// traced, aligned on their holes and put together into nets, scored
// against the model's truth.
#include "TwoSidedBoard.h"

#include "board/Nets.h"
#include "board/Registration.h"
#include "board/SideTrace.h"
#include "formats/GerberSet.h"
#include "raster/PictureRows.h"
#include "support/PngReader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
    const std::string checked = Shell("QT_QPA_PLATFORM=offscreen /usr/bin/python3 " RASTRACE_SOURCE_DIR
                                      "/tests/kicad_board_check.py " +
                                          dir + "/board.kicad_pcb " + std::to_string(regions) + " " +
                                          std::to_string(nets) + " --refill",
                                      status);
    EXPECT_EQ(status, 0) << checked;
    Shell("rm -rf '" + dir + "'", status);
}

std::string MakeTempDir(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name + "-XXXXXX";
    return ::mkdtemp(dir.data()) != nullptr ? dir : std::string();
}

// KiCad on boards the command line makes of the model's scans, seed after
// seed: its connectivity finds every net in one piece and no item joined to
// another net's, a refill keeps every zone's copper and holes, and its DRC
// finds nothing unconnected and no short or clearance between nets.
TEST(WholeBoard, KiCadRefillsAndChecksScannedBoards) {
    int status = 0;
    if (Shell("/usr/bin/python3 -c 'import pcbnew'", status), status != 0) {
        GTEST_SKIP() << "KiCad's pcbnew module is not installed (Debian package kicad): no board was checked";
    }
    for (uint64_t seed : {11, 12, 13}) {
        TwoSidedOptions options;
        options.widthMm = 60;
        options.heightMm = 40;
        options.seed = seed;
        const TwoSidedBoard board = MakeTwoSidedBoard(options);
        const std::string dir = MakeTempDir("rastrace-kicad");
        ASSERT_FALSE(dir.empty());
        WriteTwoSidedBoard(board, options, dir);
        const std::string said = Shell(std::string(RASTRACE_CLI_PATH) + " -c '" + Hex(board.copperColor) + "' -b '" +
                                           Hex(board.boardColor) + "' -H '" + Hex(board.lidColor) + "' -t 60 " + dir +
                                           "/top.bmp --bottom " + dir + "/bottom.bmp " + dir + "/board.kicad_pcb",
                                       status);
        ASSERT_EQ(status, 0) << said;
        int regions = 0, nets = 0;
        const size_t at = said.find("\nrastrace-cli: ");
        ASSERT_NE(at, std::string::npos) << said;
        ASSERT_EQ(std::sscanf(said.c_str() + at, "\nrastrace-cli: %d regions in %d nets", &regions, &nets), 2) << said;
        const std::string checked = Shell("QT_QPA_PLATFORM=offscreen /usr/bin/python3 " RASTRACE_SOURCE_DIR
                                          "/tests/kicad_board_check.py " +
                                              dir + "/board.kicad_pcb " + std::to_string(regions) + " " +
                                              std::to_string(nets) + " --refill --drc " + dir + "/drc.rpt",
                                          status);
        EXPECT_EQ(status, 0) << "seed " << seed << ":\n" << checked;
        std::printf("seed %llu: %s", static_cast<unsigned long long>(seed), checked.c_str());
        Shell("rm -rf '" + dir + "'", status);
    }
}

// Which pixel centres of a width x height grid the closed polygons cover,
// even-odd, points in pixels (x right, y down). A cut of zero width crosses
// a row twice at one place and changes nothing.
std::vector<uint8_t> Rasterize(const std::vector<std::vector<Vec2>>& polygons, int32_t width, int32_t height) {
    std::vector<uint8_t> mask(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    std::vector<std::vector<double>> crossings(static_cast<size_t>(height));
    for (const std::vector<Vec2>& polygon : polygons) {
        for (size_t i = 0; i < polygon.size(); ++i) {
            const Vec2 a = polygon[i], b = polygon[(i + 1) % polygon.size()];
            const double top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
            for (int32_t r = std::max(0, static_cast<int32_t>(std::ceil(top - 0.5)));
                 r < height && r + 0.5 < bottom; ++r) {
                const double y = r + 0.5;
                if (y < top) continue;
                crossings[static_cast<size_t>(r)].push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
            }
        }
    }
    for (int32_t r = 0; r < height; ++r) {
        std::vector<double>& xs = crossings[static_cast<size_t>(r)];
        std::sort(xs.begin(), xs.end());
        for (size_t k = 0; k + 1 < xs.size(); k += 2) {
            for (int32_t c = std::max(0, static_cast<int32_t>(std::ceil(xs[k] - 0.5)));
                 c < width && c + 0.5 < xs[k + 1]; ++c) {
                mask[static_cast<size_t>(r) * static_cast<size_t>(width) + static_cast<size_t>(c)] = 1;
            }
        }
    }
    return mask;
}

// gerbv's rendering of a Gerber file on the top scan's pixel grid: origin
// at the scan's bottom-left corner, one image pixel per scan pixel.
std::vector<uint8_t> RenderWithGerbv(const std::string& gerber, int32_t width, int32_t height, int32_t dpi) {
    int status = 0;
    const std::string png = gerber + ".png";
    const std::string said = Shell("gerbv -x png -D " + std::to_string(dpi) + " -O 0x0 -w " + std::to_string(width) +
                                       "x" + std::to_string(height) + " -B 0 -b '#000000' -f '#FFFFFFFF' -o '" + png +
                                       "' '" + gerber + "'",
                                   status);
    if (status != 0) {
        ADD_FAILURE() << said;
        return {};
    }
    const test::PngImage image = test::ReadPng(png);
    if (image.width != width || image.height != height) {
        ADD_FAILURE() << "gerbv gave " << image.width << " x " << image.height;
        return {};
    }
    std::vector<uint8_t> mask(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                image.Pixel(x, y)[0] >= 128 ? 1 : 0;
        }
    }
    return mask;
}

// gerbv draws the Gerber set's copper as traced. The front copper lies on
// the top scan's pixel grid: gerbv's rendering at the scan's resolution
// must be the top's traced pixels, every one. The back copper is the
// bottom's traced pixels carried through the found map, so its edges cross
// the top's pixels at any angle and a pixel they cross is drawn by its
// share of copper, which its centre need not tell. What is exact is
// checked: the written contours enclose the bottom's traced pixel area
// times the map's scale, and every pixel they do not cross is drawn as
// they say.
TEST(WholeBoard, GerbvRendersTheGerberSetsCopperAsTraced) {
    int status = 0;
    if (Shell("gerbv --version", status), status != 0) GTEST_SKIP() << "gerbv is not installed";
    for (uint64_t seed : {21, 22}) {
        TwoSidedOptions options;
        options.widthMm = 50;
        options.heightMm = 36;
        options.seed = seed;
        TwoSidedBoard board = MakeTwoSidedBoard(options);
        const int32_t dpi = static_cast<int32_t>(options.dpi);
        const SideTrace top = Trace(std::move(board.top), board, dpi);
        const SideTrace bottom = Trace(std::move(board.bottom), board, dpi);
        const Alignment alignment =
            AlignSides({top.holes, options.dpi, options.dpi}, {bottom.holes, options.dpi, options.dpi});
        const BoardModel model = AssembleBoard(top, &bottom, alignment.bottomToTop, alignment.pairs);

        const std::string dir = MakeTempDir("rastrace-gerbv");
        ASSERT_FALSE(dir.empty());
        const GerberSetNames names = GerberSetNamesFor(dir + "/board.gbrjob");
        for (auto [file, path] : {std::pair{GerberSetFile::FrontCopper, names.frontCopper},
                                  std::pair{GerberSetFile::BackCopper, names.backCopper}}) {
            std::ofstream out(path, std::ios::binary);
            WriteGerberSetFile(model, file, names, "test", [&out](std::string_view text) { out << text; });
        }

        // The front: the traced pixels themselves, from the tracer's outlines.
        std::vector<std::vector<Vec2>> traced;
        for (const OutlineShape& shape : top.regions) {
            std::vector<Vec2>& polygon = traced.emplace_back();
            for (const OutlinePoint& p : shape.points) polygon.push_back({p.x2 / 2.0, p.y2 / 2.0});
        }
        const std::vector<uint8_t> front = Rasterize(traced, top.width, top.height);
        const std::vector<uint8_t> frontDrawn = RenderWithGerbv(names.frontCopper, top.width, top.height, dpi);
        ASSERT_EQ(frontDrawn.size(), front.size());
        int64_t frontWrong = 0, frontPixels = 0;
        for (size_t i = 0; i < front.size(); ++i) {
            frontWrong += front[i] != frontDrawn[i];
            frontPixels += front[i];
        }
        EXPECT_EQ(frontWrong, 0) << "seed " << seed << ": front pixels gerbv draws otherwise";
        EXPECT_GT(frontPixels, 10000);

        // The back: the written contours, in top pixels.
        const double pxPerNmX = top.xres / 25.4e6, pxPerNmY = top.yres / 25.4e6;
        std::vector<std::vector<Vec2>> written;
        double writtenArea = 0, writtenLength = 0;
        int64_t bottomPixels = 0;
        for (const OutlineShape& shape : bottom.regions) bottomPixels += shape.pixels;
        for (const BoardRegion& region : model.regions) {
            if (region.layer != BoardLayer::Back) continue;
            std::vector<Vec2>& polygon = written.emplace_back();
            for (const BoardPoint& p : region.contour) {
                polygon.push_back({p.x * pxPerNmX, p.y * pxPerNmY});
            }
            double twice = 0;
            for (size_t i = 0; i < polygon.size(); ++i) {
                const Vec2 a = polygon[i], b = polygon[(i + 1) % polygon.size()];
                twice += a.x * b.y - b.x * a.y;
                writtenLength += std::hypot(b.x - a.x, b.y - a.y);
            }
            writtenArea += std::abs(twice) / 2;
        }
        const double expectedArea = static_cast<double>(bottomPixels) * std::abs(alignment.bottomToTop.Determinant());
        EXPECT_NEAR(writtenArea, expectedArea, 1e-6 * expectedArea) << "seed " << seed;
        const std::vector<uint8_t> back = Rasterize(written, top.width, top.height);
        const std::vector<uint8_t> backDrawn = RenderWithGerbv(names.backCopper, top.width, top.height, dpi);
        ASSERT_EQ(backDrawn.size(), back.size());
        int64_t backWrong = 0, backDrawnPixels = 0;
        double farthest = 0;  // of the pixels drawn otherwise, from the contours
        for (size_t i = 0; i < back.size(); ++i) {
            backDrawnPixels += backDrawn[i];
            if (back[i] == backDrawn[i]) continue;
            ++backWrong;
            const Vec2 c{static_cast<double>(i % static_cast<size_t>(top.width)) + 0.5,
                         static_cast<double>(i / static_cast<size_t>(top.width)) + 0.5};
            double nearest = 1e9;
            for (const std::vector<Vec2>& polygon : written) {
                for (size_t k = 0; k < polygon.size(); ++k) {
                    const Vec2 a = polygon[k], b = polygon[(k + 1) % polygon.size()];
                    const double dx = b.x - a.x, dy = b.y - a.y, l = dx * dx + dy * dy;
                    const double s = l == 0 ? 0 : std::clamp(((c.x - a.x) * dx + (c.y - a.y) * dy) / l, 0.0, 1.0);
                    nearest = std::min(nearest, std::hypot(a.x + s * dx - c.x, a.y + s * dy - c.y));
                }
            }
            farthest = std::max(farthest, nearest);
        }
        std::printf("seed %llu: front %lld pixels, %lld drawn otherwise; back: contours of %.1f px (the bottom's "
                    "traced pixels scaled: %.1f px), gerbv draws %lld px, %lld pixels otherwise than sampled at "
                    "their centres, the farthest %.3f px from a contour\n",
                    static_cast<unsigned long long>(seed), static_cast<long long>(frontPixels),
                    static_cast<long long>(frontWrong), writtenArea, expectedArea,
                    static_cast<long long>(backDrawnPixels), static_cast<long long>(backWrong), farthest);
        // A pixel the contours do not cross lies wholly on one side of them.
        EXPECT_LT(farthest, std::sqrt(0.5)) << "seed " << seed;
        // gerbv draws a crossed pixel by its share of copper, a little
        // generously along slanted edges: its count stays within a band a
        // quarter pixel wide along the contours.
        EXPECT_NEAR(static_cast<double>(backDrawnPixels), writtenArea, 0.25 * writtenLength) << "seed " << seed;
        Shell("rm -rf '" + dir + "'", status);
    }
}

}  // namespace
}  // namespace rastrace::bench
