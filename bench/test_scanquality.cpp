// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the scanner model, the recovery measures, and how well one
// copper click and one background click recover the true copper from the
// model's scans.
#include "bench/BoardGenerator.h"
#include "bench/Jpeg.h"
#include "bench/ScanQuality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace rastrace::bench {
namespace {

bool SamePixels(const Raster& a, const Raster& b) {
    for (int32_t y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.RowBytes(y).data(), b.RowBytes(y).data(), a.RowBytes(y).size()) != 0) return false;
    }
    return true;
}

double MeanAbsoluteDifference(const Raster& a, const Raster& b) {
    double sum = 0;
    for (int32_t y = 0; y < a.Height(); ++y) {
        for (size_t i = 0; i < a.RowBytes(y).size(); ++i) sum += std::abs(a.RowBytes(y)[i] - b.RowBytes(y)[i]);
    }
    return sum / (3.0 * a.Width() * a.Height());
}

// --- The scanner model ---------------------------------------------------------

const BoardOptions kBoard{600, 450, 3, false, 600};

TEST(ScannerModel, IsAFunctionOfTheSeed) {
    Raster a = GenerateBoard(kBoard), b = GenerateBoard(kBoard), c = GenerateBoard(kBoard);
    ApplyScanner(a, {}, 1, 600);
    ApplyScanner(b, {}, 1, 600);
    ApplyScanner(c, {}, 2, 600);
    EXPECT_TRUE(SamePixels(a, b));
    EXPECT_FALSE(SamePixels(a, c));
}

// Each fault alone changes the picture, and by about as much as it should.
struct FaultCase {
    const char* name;
    ScannerModel model;
    double minDifference, maxDifference;  // mean absolute change per channel
};

class Faults : public ::testing::TestWithParam<FaultCase> {};

ScannerModel Only(int blur, double noise, double light, double dust, int jpeg) {
    ScannerModel m;
    m.blurOrder = blur;
    m.noiseSigma = noise;
    m.lightVariation = light;
    m.dustPerSquareInch = dust;
    m.jpegQuality = jpeg;
    return m;
}

TEST_P(Faults, ChangeThePictureByTheirSize) {
    const Raster clean = GenerateBoard(kBoard);
    Raster scan = GenerateBoard(kBoard);
    ApplyScanner(scan, GetParam().model, 5, 600);
    const double d = MeanAbsoluteDifference(clean, scan);
    EXPECT_GE(d, GetParam().minDifference);
    EXPECT_LE(d, GetParam().maxDifference);
}

INSTANTIATE_TEST_SUITE_P(
    Each, Faults,
    ::testing::Values(FaultCase{"nothing", Only(0, 0, 0, 0, 0), 0, 0},
                      // Gaussian noise of sigma 6 has a mean absolute value of 4.8.
                      FaultCase{"noise", Only(0, 6, 0, 0, 0), 4.3, 5.1},
                      // A gain within 1 +- 0.1 on colours averaging about 70.
                      FaultCase{"light", Only(0, 0, 0.1, 0, 0), 0.5, 7},
                      FaultCase{"blur", Only(6, 0, 0, 0, 0), 0.5, 10},
                      FaultCase{"dust", Only(0, 0, 0, 2000, 0), 0.01, 5},
                      FaultCase{"jpeg", Only(0, 0, 0, 0, 90), 0.3, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// Like a real scan: a great many colours, none of them common.
TEST(ScannerModel, LeavesNoCommonColour) {
    Raster scan = GenerateBoard(kBoard);
    ApplyScanner(scan, {}, 1, 600);
    std::unordered_map<uint32_t, int64_t> counts;
    for (int32_t y = 0; y < scan.Height(); ++y) {
        for (int32_t x = 0; x < scan.Width(); ++x) ++counts[scan.PixelColor(x, y)];
    }
    int64_t most = 0;
    for (const auto& [color, n] : counts) most = std::max(most, n);
    EXPECT_GT(counts.size(), 5000u);
    EXPECT_LT(static_cast<double>(most) / (scan.Width() * scan.Height()), 0.01);
}

TEST(ScannerModel, EmptyAndTinyPicturesPass) {
    Raster empty;
    ApplyScanner(empty, {}, 1, 600);
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}}) {
        Raster r = GenerateBoard({w, h, 1, false, 600});
        ApplyScanner(r, {}, 1, 600);
        EXPECT_EQ(r.Width(), w);
    }
}

TEST(JpegRoundTrip, KeepsThePictureCloseAndHigherQualityCloser) {
    const Raster clean = GenerateBoard(kBoard);
    Raster q50 = GenerateBoard(kBoard), q95 = GenerateBoard(kBoard);
    JpegRoundTrip(q50, 50);
    JpegRoundTrip(q95, 95);
    EXPECT_LT(MeanAbsoluteDifference(clean, q95), MeanAbsoluteDifference(clean, q50));
    EXPECT_LT(MeanAbsoluteDifference(clean, q50), 6);
}

TEST(CopperMask, MarksBothCopperColoursOnly) {
    const Raster board = GenerateBoard(kBoard);
    const std::vector<uint8_t> mask = CopperMask(board);
    int64_t copper = 0;
    for (int32_t y = 0; y < board.Height(); ++y) {
        for (int32_t x = 0; x < board.Width(); ++x) {
            const uint32_t c = board.PixelColor(x, y);
            const bool isCopper = c == kCopperColor || c == kCopper2Color;
            ASSERT_EQ(mask[static_cast<size_t>(y) * 600 + static_cast<size_t>(x)], isCopper ? 1 : 0) << x << "," << y;
            copper += isCopper;
        }
    }
    EXPECT_GT(copper, 1000);
}

// --- The measures ----------------------------------------------------------------

std::vector<uint8_t> Mask(const std::vector<std::string>& rows) {
    std::vector<uint8_t> m;
    for (const std::string& row : rows) {
        for (char c : row) m.push_back(c == '#');
    }
    return m;
}

Recovery Measure(const std::vector<std::string>& truth, const std::vector<std::string>& traced, int64_t minRegion) {
    return MeasureRecovery(Mask(truth), Mask(traced), static_cast<int32_t>(truth[0].size()),
                           static_cast<int32_t>(truth.size()), minRegion);
}

TEST(Recovery, CountsShortsAndBreaksEvenWhenTheAreaBarelyChanges) {
    const std::vector<std::string> truth = {"###.###", "###.###", ".......", "#######"};
    // The same copper: everything whole.
    Recovery r = Measure(truth, truth, 3);
    EXPECT_DOUBLE_EQ(r.iou, 1.0);
    EXPECT_EQ(r.countedRegions, 3);
    EXPECT_EQ(r.wholeRegions, 3);
    EXPECT_TRUE(r.faults.empty());
    // A one-pixel short joins the two pads: both are lost, the track stays.
    r = Measure(truth, {"#######", "###.###", ".......", "#######"}, 3);
    EXPECT_DOUBLE_EQ(r.iou, 19.0 / 20.0);
    EXPECT_EQ(r.wholeRegions, 1);
    ASSERT_EQ(r.faults.size(), 2u);
    EXPECT_EQ(r.faults[1].left, 4);
    EXPECT_EQ(r.faults[1].right, 6);
    EXPECT_EQ(r.faults[1].bottom, 1);
    EXPECT_EQ(r.faults[1].pieces, 1);
    EXPECT_TRUE(r.faults[1].joined);
    // A one-pixel break cuts the track in two: it is lost.
    r = Measure(truth, {"###.###", "###.###", ".......", "###.###"}, 3);
    EXPECT_EQ(r.wholeRegions, 2);
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0].top, 3);
    EXPECT_EQ(r.faults[0].pieces, 2);
    EXPECT_FALSE(r.faults[0].joined);
    // Pixels joined by a corner only are apart.
    r = Measure({"#.", ".#"}, {"#.", ".#"}, 1);
    EXPECT_EQ(r.countedRegions, 2);
    EXPECT_EQ(r.wholeRegions, 2);
    // Regions below the size are not counted; a missed region is lost.
    r = Measure(truth, {"###....", "###....", ".......", "#######"}, 7);
    EXPECT_EQ(r.countedRegions, 1);
    EXPECT_DOUBLE_EQ(r.connectivity, 1.0);
    r = Measure(truth, {".......", ".......", ".......", "......."}, 1);
    EXPECT_DOUBLE_EQ(r.iou, 0.0);
    EXPECT_DOUBLE_EQ(r.connectivity, 0.0);
}

TEST(MedianColor, IsThePerChannelMedianOfTheMaskedPixels) {
    Raster r(3, 1);
    const uint8_t bytes[] = {10, 20, 30, 50, 0, 200, 11, 99, 31};  // blue, green, red per pixel
    std::memcpy(r.RowBytes(0).data(), bytes, sizeof bytes);
    EXPECT_EQ(MedianColor(r, {1, 1, 1}), 0x0B141Fu);  // blue 11, green 20, red 31
    EXPECT_EQ(MedianColor(r, {1, 0, 0}), 0x0A141Eu);
    EXPECT_EQ(MedianColor(r, {1, 0, 0}, false), 0x0B001Fu);  // of two values, the lower
    EXPECT_EQ(MedianColor(r, {0, 0, 0}), 0u);
}

// --- Recovery from the model's scans ---------------------------------------------

// One copper click and one substrate click at tolerance 80 with speckle
// removal 16, on four boards of 1200 x 900 pixels at 600 dpi with the full
// model (blur sigma 1.22 px, noise sigma 6, light +-10%, dust, JPEG q90).
//
// Connectivity reaches the 0.99 aimed at. The area does not: the yellow
// silkscreen's blurred edges on the green substrate are a colour nearer the
// copper than either click (a mix of two non-copper colours), so no
// tolerance keeps them out without cutting the copper's own edges; the
// best mean is about 0.83 (measured with rastrace-scanquality). With the
// silkscreen white, the same clicks reach about 0.986 (the second test).
// The mean recovery over boards of seeds 1..seeds, one copper and one
// substrate click at tolerance 80 and speckle size 16, each board printed.
Recovery MeanRecovery(int32_t width, int32_t height, double dpi, int seeds, bool whiteSilk) {
    Recovery mean;
    for (int seed = 1; seed <= seeds; ++seed) {
        const ScannedBoard board = ScanBoard({width, height, static_cast<uint64_t>(seed), false, dpi}, {}, whiteSilk);
        const Recovery r = TraceScannedBoard(board, 80, 16);
        std::printf("%s silkscreen, %d dpi, seed %d: IoU %.4f, connectivity %.4f (%lld of %lld)\n",
                    whiteSilk ? "white" : "yellow", static_cast<int>(dpi), seed, r.iou, r.connectivity,
                    static_cast<long long>(r.wholeRegions), static_cast<long long>(r.countedRegions));
        mean.iou += r.iou / seeds;
        mean.connectivity += r.connectivity / seeds;
    }
    return mean;
}

TEST(ScanRecovery, OneCopperAndOneBackgroundClick) {
    const Recovery r = MeanRecovery(1200, 900, 600, 4, false);
    EXPECT_GE(r.connectivity, 0.99);
    EXPECT_GE(r.iou, 0.80);  // a floor against regressions; see above for the 0.99 aimed at
}

TEST(ScanRecovery, WithWhiteSilkscreen) {
    const Recovery r = MeanRecovery(1200, 900, 600, 4, true);
    EXPECT_GE(r.connectivity, 0.99);
    EXPECT_GE(r.iou, 0.98);
}

// The same white-silkscreen board scanned at 1200 dpi, the resolution a
// board is copied at: each copper edge's blurred pixels (where all the
// error lies) weigh half as much against the area, and the two clicks
// reach both aims over ten boards (IoU about 0.992).
TEST(ScanRecovery, WithWhiteSilkscreenAt1200Dpi) {
    const Recovery r = MeanRecovery(2400, 1800, 1200, 10, true);
    EXPECT_GE(r.connectivity, 0.99);
    EXPECT_GE(r.iou, 0.99);
}

}  // namespace
}  // namespace rastrace::bench
