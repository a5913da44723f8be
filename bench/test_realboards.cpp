// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the real-looking boards (layers of material under a scanner) and
// of the harness that measures the converter on them through its command line.
#include "bench/RealBoard.h"
#include "bench/RealBoardBench.h"
#include "raster/PictureReader.h"
#include "trace/ColorMatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace rastrace::bench {
namespace {

// Small boards keep the tests fast: 1.6 x 1.2 inches at 300 dpi.
RealBoardOptions Small(BoardStyle style, uint64_t seed = 1) { return {480, 360, seed, 300, style}; }

bool SamePixels(const Raster& a, const Raster& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int32_t y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.RowBytes(y).data(), b.RowBytes(y).data(), a.RowBytes(y).size()) != 0) return false;
    }
    return true;
}

bool IsMasked(BoardStyle s) { return s != BoardStyle::NoMaskTinned && s != BoardStyle::NoMaskBare; }

class Styles : public ::testing::TestWithParam<BoardStyle> {};

TEST_P(Styles, AreAFunctionOfTheSeed) {
    const RealBoard a = DrawRealBoard(Small(GetParam(), 3)), b = DrawRealBoard(Small(GetParam(), 3));
    const RealBoard c = DrawRealBoard(Small(GetParam(), 4));
    EXPECT_TRUE(SamePixels(a.picture, b.picture));
    EXPECT_EQ(a.surface, b.surface);
    EXPECT_EQ(a.copper, b.copper);
    EXPECT_FALSE(SamePixels(a.picture, c.picture));
    EXPECT_NE(a.copper, c.copper);
}

// The truth agrees with what shows: copper surfaces are copper, holes and
// the lid never are, print may hide copper, and the lid lies only around
// the board (on every row a run from each end, nothing inside).
TEST_P(Styles, TruthAgreesWithTheSurfaces) {
    const BoardStyle style = GetParam();
    for (uint64_t seed = 1; seed <= 3; ++seed) {
        const RealBoard board = DrawRealBoard(Small(style, seed));
        const int32_t w = board.picture.Width(), h = board.picture.Height();
        std::set<Surface> seen;
        int64_t hiddenCopper = 0;
        for (int32_t y = 0; y < h; ++y) {
            int32_t x = 0;
            while (x < w && board.surface[static_cast<size_t>(y * w + x)] == static_cast<uint8_t>(Surface::Lid)) ++x;
            int32_t end = w;
            while (end > x && board.surface[static_cast<size_t>(y * w + end - 1)] == static_cast<uint8_t>(Surface::Lid)) --end;
            for (int32_t i = 0; i < w; ++i) {
                const auto s = static_cast<Surface>(board.surface[static_cast<size_t>(y * w + i)]);
                const bool copper = board.copper[static_cast<size_t>(y * w + i)] != 0;
                seen.insert(s);
                if (i >= x && i < end) { ASSERT_NE(s, Surface::Lid) << "lid inside the board at " << i << ", " << y; }
                if (ShowsCopper(s)) { ASSERT_TRUE(copper) << SurfaceName(s) << " at " << i << ", " << y; }
                if (s == Surface::Print) hiddenCopper += copper;
                if (!ShowsCopper(s) && s != Surface::Print) { ASSERT_FALSE(copper) << SurfaceName(s) << " at " << i << ", " << y; }
            }
        }
        EXPECT_EQ(board.surface[0], static_cast<uint8_t>(Surface::Lid));
        EXPECT_TRUE(seen.count(Surface::Hole));
        EXPECT_TRUE(seen.count(Surface::Fr4));
        if (IsMasked(style)) {
            EXPECT_GT(hiddenCopper, 0) << "seed " << seed << ": no track runs under the print";
            EXPECT_TRUE(seen.count(Surface::MaskedCopper) && seen.count(Surface::Mask) && seen.count(Surface::Print));
            EXPECT_TRUE(seen.count(Surface::Tinned) || seen.count(Surface::Gold));
        } else {
            EXPECT_FALSE(seen.count(Surface::Mask) || seen.count(Surface::MaskedCopper));
            EXPECT_TRUE(seen.count(style == BoardStyle::NoMaskTinned ? Surface::Tinned : Surface::BareCopper));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, Styles, ::testing::ValuesIn(AllBoardStyles()),
                         [](const auto& info) {
                             std::string name(BoardStyleName(info.param));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Pictures too small for any part still draw: clipped shapes, the truth the same size.
TEST(RealBoard, TinyPicturesDraw) {
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{40, 7}}) {
        const RealBoard board = DrawRealBoard({w, h, 1, 600, BoardStyle::Red});
        EXPECT_EQ(board.picture.Width(), w);
        EXPECT_EQ(board.surface.size(), static_cast<size_t>(w * h));
        EXPECT_EQ(board.copper.size(), static_cast<size_t>(w * h));
    }
}

TEST(RealBoard, NamesRoundTripAndUnknownNamesAreRefused) {
    for (const BoardStyle s : AllBoardStyles()) EXPECT_EQ(BoardStyleNamed(BoardStyleName(s)), s);
    EXPECT_FALSE(BoardStyleNamed("purple"));
}

// A masked board carries both finishes, and the lid is open on some boards.
TEST(RealBoard, BothFinishesOnOneBoardAndBothLids) {
    bool bothFinishes = false, open = false, closed = false;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        const RealBoard board = DrawRealBoard(Small(BoardStyle::Blue, seed));
        const auto has = [&](Surface s) {
            return std::find(board.surface.begin(), board.surface.end(), static_cast<uint8_t>(s)) != board.surface.end();
        };
        bothFinishes |= has(Surface::Tinned) && has(Surface::Gold);
        (board.lidOpen ? open : closed) = true;
    }
    EXPECT_TRUE(bothFinishes);
    EXPECT_TRUE(open && closed);
}

// The model is not easy for a colour rule: copper under mask is the mask a
// little lighter; tinned copper is lumpy (its grey spread wider than gold's);
// on a black mask the blurred edges of print pass through the colour of the
// copper under the mask, on pixels that are no copper at all.
double Brightness(uint32_t c) { return (c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16 & 0xFF); }

double Distance(uint32_t a, uint32_t b) {
    double sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double d = static_cast<double>(a >> shift & 0xFF) - static_cast<double>(b >> shift & 0xFF);
        sum += d * d;
    }
    return std::sqrt(sum);
}

class MaskedStyles : public ::testing::TestWithParam<BoardStyle> {};

TEST_P(MaskedStyles, CopperUnderMaskIsTheMaskALittleLighter) {
    const ScannedRealBoard board = ScanRealBoard(Small(GetParam(), 1));
    uint32_t mask = 0, copper = 0;
    for (const Click& c : UserClicks(board)) {
        if (c.surface == Surface::Mask) mask = c.color;
        if (c.surface == Surface::MaskedCopper) copper = c.color;
    }
    EXPECT_GT(Brightness(copper), Brightness(mask) + 20);
    EXPECT_LT(Distance(copper, mask), 110);
}

INSTANTIATE_TEST_SUITE_P(All, MaskedStyles,
                         ::testing::Values(BoardStyle::GreenWhite, BoardStyle::Blue, BoardStyle::Red,
                                           BoardStyle::BlackWhite, BoardStyle::GreenYellow),
                         [](const auto& info) {
                             std::string name(BoardStyleName(info.param));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// The standard deviation of the brightness of pixels two or more pixels
// inside surface s (away from the blur of its edges); 0 for too few.
double Spread(const ScannedRealBoard& board, Surface s) {
    double sum = 0, squares = 0;
    int64_t n = 0;
    const int32_t w = board.scan.Width(), h = board.scan.Height();
    const auto is = [&](int32_t x, int32_t y) {
        return x >= 0 && y >= 0 && x < w && y < h && board.surface[static_cast<size_t>(y * w + x)] == static_cast<uint8_t>(s);
    };
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (!is(x, y) || !is(x - 2, y) || !is(x + 2, y) || !is(x, y - 2) || !is(x, y + 2)) continue;
        const double v = Brightness(board.scan.PixelColor(x, y));
        sum += v;
        squares += v * v;
        ++n;
        }
    }
    return n < 100 ? 0 : std::sqrt(squares / static_cast<double>(n) - (sum / static_cast<double>(n)) * (sum / static_cast<double>(n)));
}

TEST(RealBoard, TinnedCopperIsLumpierThanGold) {
    double tinned = 0, gold = 0;
    for (uint64_t seed = 1; seed <= 4 && (tinned == 0 || gold == 0); ++seed) {
        const ScannedRealBoard board = ScanRealBoard({960, 720, seed, 600, BoardStyle::Red});
        if (tinned == 0) tinned = Spread(board, Surface::Tinned);
        if (gold == 0) gold = Spread(board, Surface::Gold);
    }
    ASSERT_GT(gold, 0);
    EXPECT_GT(tinned, 1.4 * gold);
}

TEST(RealBoard, PrintEdgesOnBlackMaskPassThroughTheCopperColour) {
    const ScannedRealBoard board = ScanRealBoard({960, 720, 1, 600, BoardStyle::BlackWhite});
    uint32_t copper = 0;
    for (const Click& c : UserClicks(board)) {
        if (c.surface == Surface::MaskedCopper) copper = c.color;
    }
    const int32_t w = board.scan.Width(), h = board.scan.Height();
    int64_t lookalikes = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            if (board.copper[i] || board.surface[i] != static_cast<uint8_t>(Surface::Mask)) continue;
            bool besidePrint = false;  // within two pixels of the print, along the row or the column
            for (const int32_t d : {-2, -1, 1, 2}) {
                if (x + d < 0 || x + d >= w || y + d < 0 || y + d >= h) continue;
                besidePrint |= board.surface[i + static_cast<size_t>(d)] == static_cast<uint8_t>(Surface::Print) ||
                               board.surface[static_cast<size_t>((y + d) * w + x)] == static_cast<uint8_t>(Surface::Print);
            }
            if (besidePrint && Distance(board.scan.PixelColor(x, y), copper) < 24) ++lookalikes;
        }
    }
    EXPECT_GT(lookalikes, 500);
}

// --- The harness --------------------------------------------------------------

class HarnessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "rastrace-realboards-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string Path(const char* name) const { return (folder_ / name).string(); }

    std::filesystem::path folder_;
};

// Every click is the colour of one scanned pixel well inside its surface,
// one click per surface shown.
TEST(UserClicks, OneScannedPixelInsideEachSurface) {
    const ScannedRealBoard board = ScanRealBoard(Small(BoardStyle::GreenWhite, 2));
    const std::vector<Click> clicks = UserClicks(board);
    std::set<Surface> clicked;
    for (const Click& c : clicks) {
        EXPECT_TRUE(clicked.insert(c.surface).second);
        EXPECT_EQ(board.scan.PixelColor(c.x, c.y), c.color);
        const int32_t w = board.scan.Width();
        for (int32_t dy = -1; dy <= 1; ++dy) {
            for (int32_t dx = -1; dx <= 1; ++dx) {
                EXPECT_EQ(board.surface[static_cast<size_t>((c.y + dy) * w + c.x + dx)], static_cast<uint8_t>(c.surface))
                    << SurfaceName(c.surface);
            }
        }
    }
    for (const Surface s : {Surface::Lid, Surface::Hole, Surface::Mask, Surface::MaskedCopper, Surface::Print}) {
        EXPECT_TRUE(clicked.count(s)) << SurfaceName(s);
    }
}

// A preview that paints exactly the true copper measures 1 on both counts,
// through the PNG writer and the picture reader.
TEST_F(HarnessTest, PerfectPreviewMeasuresOne) {
    const ScannedRealBoard board = ScanRealBoard(Small(BoardStyle::BlackWhite, 1));
    const int32_t w = board.scan.Width(), h = board.scan.Height();
    Raster preview(w, h, Raster::RowOrder::TopDown);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = preview.RowBytes(y).data();
        for (int32_t x = 0; x < w; ++x, p += 3) {
            const bool copper = board.copper[static_cast<size_t>(y * w + x)] != 0;
            p[0] = copper ? 0x40 : 0xFF;
            p[1] = copper ? 0x88 : 0xFF;
            p[2] = copper ? 0xFE : 0xFF;  // a copper colour next to white
        }
    }
    WritePng(preview, Path("perfect.png"), 300);
    const std::vector<uint8_t> traced = ReadPreviewMask(Path("perfect.png"), w, h);
    EXPECT_EQ(traced, board.copper);
    const Recovery r = MeasureRecovery(board.copper, traced, w, h);
    EXPECT_DOUBLE_EQ(r.iou, 1.0);
    EXPECT_DOUBLE_EQ(r.connectivity, 1.0);
    EXPECT_GT(r.countedRegions, 5);
    EXPECT_THROW(ReadPreviewMask(Path("perfect.png"), w + 1, h), std::exception);
}

TEST_F(HarnessTest, ScanPngReadsBackPixelForPixel) {
    const ScannedRealBoard board = ScanRealBoard(Small(BoardStyle::NoMaskBare, 1));
    WritePng(board.scan, Path("scan.png"), 300);
    const Picture back = ReadPictureFile(Path("scan.png"));
    EXPECT_TRUE(SamePixels(back.raster, board.scan));
    EXPECT_EQ(back.dpiX, 300);
}

TEST(PreviewArguments, TheResolutionIsTheFilesAndHolesGoToTheBackgroundForTodaysRuleAndToHForTheBoardRule) {
    const std::vector<Click> clicks = {{Surface::Tinned, 0x0000FF, 0, 0}, {Surface::Mask, 0x00FF00, 0, 0},
                                       {Surface::Hole, 0xFFFFFF, 0, 0}};
    using Args = std::vector<std::string>;
    EXPECT_EQ(PreviewArguments(clicks, false, 40, 16, "in.png", "out.png"),
              (Args{"-q", "--preview", "out.png", "-x", "auto", "-y", "auto", "-c", "#FF0000", "-b", "#00FF00", "-b", "#FFFFFF",
                    "-t40", "-s16", "in.png"}));
    EXPECT_EQ(PreviewArguments(clicks, true, -1, 0, "in.png", "out.png"),
              (Args{"-q", "--preview", "out.png", "-x", "auto", "-y", "auto", "-r", "board", "-c", "#FF0000", "-b", "#00FF00",
                    "-H", "#FFFFFF", "in.png"}));
}

// The whole measurement against the real converter: the preview read back
// is exactly the conversion's own class map for the same clicks (today's
// rule); the board rule either is not there yet (exit status 2) or is
// measured the same way.
TEST_F(HarnessTest, MeasuresTheRealConverter) {
    const ScannedRealBoard board = ScanRealBoard({960, 720, 1, 600, BoardStyle::GreenWhite});
    WritePng(board.scan, Path("scan.png"), 600);
    const std::vector<Click> clicks = UserClicks(board);
    const int32_t w = board.scan.Width(), h = board.scan.Height();
    ASSERT_EQ(RunProgram(RASTRACE_CLI_PATH, PreviewArguments(clicks, false, 48, 16, Path("scan.png"), Path("today.png"))), 0);
    const std::vector<uint8_t> traced = ReadPreviewMask(Path("today.png"), w, h);

    MatchOptions options;
    options.tolerance = 48;
    options.despeckle = 16;
    std::vector<uint32_t> copper;
    for (const Click& c : clicks) (ShowsCopper(c.surface) ? copper : options.backgroundColors).push_back(c.color);
    const ClassMap map = BuildClassMap(board.scan, copper, options);
    std::vector<uint8_t> expected(traced.size());
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) expected[static_cast<size_t>(y * w + x)] = map.Row(y)[x] != kNoClass;
    }
    EXPECT_EQ(traced, expected);
    const Recovery today = MeasureRecovery(board.copper, traced, w, h);
    EXPECT_GT(today.iou, 0.2);
    EXPECT_LT(today.iou, 1.0);

    const int status = RunProgram(RASTRACE_CLI_PATH, PreviewArguments(clicks, true, -1, 0, Path("scan.png"), Path("board.png")));
    if (status != 2) {
        ASSERT_EQ(status, 0);
        EXPECT_GT(MeasureRecovery(board.copper, ReadPreviewMask(Path("board.png"), w, h), w, h).iou, 0.5);
    }
    EXPECT_EQ(RunProgram((folder_ / "no-such-program").string(), {}), -1);
}

}  // namespace
}  // namespace rastrace::bench
