// SPDX-License-Identifier: GPL-3.0-or-later
// The colour rule on small hand-made pictures: nearest colour within the
// tolerance, ties, background colours, the class-map scan kernel, and
// speckle removal at and around its size.
#include "common/Error.h"
#include "support/Pixels.h"
#include "trace/ColorMatch.h"
#include "trace/Scanner.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using namespace rastrace;

namespace {

constexpr uint32_t Rgb(int r, int g, int b) {
    return static_cast<uint32_t>(b) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(r);
}

using test::SetPixel;

MatchOptions Options(int32_t tolerance, std::vector<uint32_t> background = {}, int32_t despeckle = 0) {
    MatchOptions o;
    o.tolerance = tolerance;
    o.backgroundColors = std::move(background);
    o.despeckle = despeckle;
    return o;
}

// --- The rule -----------------------------------------------------------------

// Runs check once with each row kernel the machine has: the plain one,
// AVX2, AVX-512, AVX-512 VBMI.
template <class Check>
void WithEachKernel(Check&& check) {
    for (const int kernels : {1, 2, 3, 4}) {
        SCOPED_TRACE("kernels " + std::to_string(kernels));
        detail::matchKernels = kernels;
        check();
    }
    detail::matchKernels = detail::kAllMatchKernels;
}

struct RuleCase {
    const char* name;
    std::vector<uint32_t> copper;
    std::vector<uint32_t> background;
    int32_t tolerance;
    uint32_t pixel;
    uint8_t expected;  // copper index + 1, or 0
};

class Rule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(Rule, GivesEachPixelItsNearestColourWithinTheTolerance) {
    const RuleCase& c = GetParam();
    const ColorMatcher matcher(c.copper, Options(c.tolerance, c.background));
    EXPECT_EQ(matcher.Classify(c.pixel), c.expected);
    // The row kernel agrees, alone and in the last column of a longer row.
    uint8_t pixels[3 * 3];
    for (int i = 0; i < 3; ++i) {
        pixels[3 * i] = static_cast<uint8_t>(c.pixel >> 16);
        pixels[3 * i + 1] = static_cast<uint8_t>(c.pixel >> 8);
        pixels[3 * i + 2] = static_cast<uint8_t>(c.pixel);
    }
    WithEachKernel([&] {
        uint8_t out[3] = {99, 99, 99};
        matcher.ClassifyRow(pixels, 1, out);
        EXPECT_EQ(out[0], c.expected);
        EXPECT_EQ(out[1], 99) << "wrote past the row";
        matcher.ClassifyRow(pixels, 3, out);
        EXPECT_EQ(out[2], c.expected);
    });
}

const uint32_t kBlack = Rgb(0, 0, 0);
const uint32_t kRed = Rgb(200, 0, 0);
const uint32_t kBlue = Rgb(0, 0, 200);

INSTANTIATE_TEST_SUITE_P(
    Cases, Rule,
    ::testing::Values(
        RuleCase{"exactAtZero", {kRed}, {}, 0, kRed, 1},
        RuleCase{"offByOneAtZero", {kRed}, {}, 0, Rgb(201, 0, 0), 0},
        RuleCase{"backgroundAtZeroChangesNothing", {kRed}, {kRed}, 0, kRed, 1},
        // (3, 4, 0) is exactly 5 from black.
        RuleCase{"distanceEqualToTolerance", {kBlack}, {}, 5, Rgb(3, 4, 0), 1},
        RuleCase{"distanceOneAboveTolerance", {kBlack}, {}, 4, Rgb(3, 4, 0), 0},
        RuleCase{"justInsideOnEveryChannel", {kBlack}, {}, 3, Rgb(1, 1, 1), 1},
        RuleCase{"justOutsideOnEveryChannel", {kBlack}, {}, 3, Rgb(2, 2, 2), 0},
        RuleCase{"secondCopperNearer", {kRed, kBlue}, {}, 300, Rgb(10, 0, 150), 2},
        RuleCase{"tieGoesToTheEarlierCopper", {kRed, kBlue}, {}, 300, Rgb(100, 0, 100), 1},
        RuleCase{"tieGoesToTheEarlierCopperReversed", {kBlue, kRed}, {}, 300, Rgb(100, 0, 100), 1},
        RuleCase{"tieGoesToCopperOverBackground", {kRed}, {kBlue}, 300, Rgb(100, 0, 100), 1},
        RuleCase{"backgroundNearerTakesThePixel", {kRed}, {kBlue}, 300, Rgb(99, 0, 101), 0},
        RuleCase{"backgroundOutsideTheToleranceStillWins", {kRed}, {kBlue}, 150, Rgb(90, 0, 110), 0},
        RuleCase{"secondBackgroundNearer", {kRed}, {kBlack, kBlue}, 300, Rgb(60, 0, 150), 0},
        RuleCase{"fullToleranceSplitsByNearest", {kBlack}, {Rgb(255, 255, 255)}, 442, Rgb(127, 127, 127), 1},
        RuleCase{"fullToleranceSplitsByNearestOtherSide", {kBlack}, {Rgb(255, 255, 255)}, 442, Rgb(128, 128, 127), 0},
        RuleCase{"fullToleranceReachesTheFarCorner", {kBlack}, {}, 442, Rgb(255, 255, 255), 1},
        RuleCase{"repeatedCopperNeverWins", {kRed, kRed}, {}, 10, Rgb(201, 0, 0), 1},
        RuleCase{"noPixelHasATopByte", {0xFF000000u | kRed, kBlue}, {}, 442, kRed, 2},
        RuleCase{"topByteBackgroundIgnored", {kRed}, {0xFF000000u | kRed}, 10, kRed, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The vector kernel against the plain one and a floating-point reference,
// on random colours around several references and at awkward widths.
TEST(Rule, RowKernelMatchesTheReferenceDistance) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> byte(0, 255), jitter(-40, 40);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint32_t> copper, background;
        for (int k = 0; k < 1 + trial % 4; ++k) copper.push_back(Rgb(byte(random), byte(random), byte(random)));
        for (int k = 0; k < trial % 3; ++k) background.push_back(Rgb(byte(random), byte(random), byte(random)));
        const int32_t tolerance = trial == 0 ? 442 : std::uniform_int_distribution<int>(1, 120)(random);
        const ColorMatcher matcher(copper, Options(tolerance, background));
        const int32_t width = trial == 1 ? 1 : 255 + trial * 7;
        std::vector<uint8_t> pixels(3 * static_cast<size_t>(width));
        std::vector<uint32_t> colors(static_cast<size_t>(width));
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t base = x % 2 ? copper[static_cast<size_t>(x) % copper.size()] : Rgb(byte(random), 0, 0);
            auto channel = [&](int shift) { return std::clamp(static_cast<int>(base >> shift & 0xFF) + jitter(random), 0, 255); };
            colors[static_cast<size_t>(x)] = Rgb(channel(0), channel(8), channel(16));
            std::memcpy(&pixels[3 * static_cast<size_t>(x)], &colors[static_cast<size_t>(x)], 3);
            std::swap(pixels[3 * static_cast<size_t>(x)], pixels[3 * static_cast<size_t>(x) + 2]);
        }
        WithEachKernel([&] {
        std::vector<uint8_t> out(static_cast<size_t>(width));
        matcher.ClassifyRow(pixels.data(), width, out.data());
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = colors[static_cast<size_t>(x)];
            auto distance = [&](uint32_t ref) {
                double sum = 0;
                for (int shift = 0; shift < 24; shift += 8) {
                    const double d = static_cast<double>(c >> shift & 0xFF) - static_cast<double>(ref >> shift & 0xFF);
                    sum += d * d;
                }
                return std::sqrt(sum);
            };
            double best = 1e9;
            uint8_t expected = 0;
            for (size_t k = 0; k < copper.size(); ++k) {
                if (distance(copper[k]) < best) best = distance(copper[k]), expected = static_cast<uint8_t>(k + 1);
            }
            for (uint32_t b : background) {
                if (distance(b) < best) best = distance(b), expected = 0;
            }
            if (best > tolerance) expected = 0;
            ASSERT_EQ(out[static_cast<size_t>(x)], expected) << "trial " << trial << " column " << x;
            ASSERT_EQ(matcher.Classify(c), expected);
        }
        });
    }
}

// The row kernels (16-bit lanes up to tolerance 255, 32-bit beyond)
// against the rule in plain integers, on pixels where the rule is easy to
// get wrong: exactly equidistant from two colours, exactly at the
// tolerance, and far enough for 16-bit sums to saturate.
TEST(Rule, RowKernelsAgreeWithThePlainRuleAtTiesAndTheToleranceEdge) {
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> byte(0, 255);
    auto channel = [](uint32_t c, int shift) { return static_cast<int>(c >> shift & 0xFF); };
    auto squared = [&](uint32_t a, uint32_t b) {
        int sum = 0;
        for (int shift = 0; shift < 24; shift += 8) sum += (channel(a, shift) - channel(b, shift)) * (channel(a, shift) - channel(b, shift));
        return sum;
    };
    for (int trial = 0; trial < 90; ++trial) {
        std::vector<uint32_t> copper, background;
        // Now and then more colours than the kernels keep in registers.
        const int copperCount = trial % 7 == 6 ? 11 : 1 + trial % 3;
        for (int k = 0; k < copperCount; ++k) copper.push_back(Rgb(byte(random), byte(random), byte(random)));
        for (int k = 0; k < 1 + trial % 2; ++k) background.push_back(Rgb(byte(random), byte(random), byte(random)));
        std::vector<uint32_t> refs = copper;
        refs.insert(refs.end(), background.begin(), background.end());
        // Every sixth trial matches exactly (tolerance 0), which has kernels of its own.
        const int32_t tolerance = trial < 4        ? std::array{255, 256, 254, 442}[trial]
                                  : trial % 6 == 5 ? 0
                                                   : std::uniform_int_distribution<int>(1, 442)(random);
        const int32_t width = 16 * (trial % 5) + trial % 17 + 1;  // whole blocks and tails
        std::vector<uint32_t> colors(static_cast<size_t>(width));
        for (uint32_t& c : colors) {
            const uint32_t a = refs[random() % refs.size()], b = refs[random() % refs.size()];
            switch (random() % 4) {
            case 0: {  // halfway between two colours: a tie wherever the sums are even
                uint32_t mid = 0;
                for (int shift = 0; shift < 24; shift += 8) mid |= static_cast<uint32_t>((channel(a, shift) + channel(b, shift) + static_cast<int>(random() % 2)) / 2) << shift;
                c = mid;
                break;
            }
            case 1: {  // around the tolerance on one channel
                const int d = std::clamp(tolerance + static_cast<int>(random() % 3) - 1, 0, 255);
                const int shift = 8 * static_cast<int>(random() % 3);
                const int v = channel(a, shift) + d <= 255 ? channel(a, shift) + d : channel(a, shift) - d;
                c = (a & ~(0xFFu << shift)) | static_cast<uint32_t>(std::clamp(v, 0, 255)) << shift;
                break;
            }
            case 2:  // an opposite corner: distances beyond 16 bits
                c = Rgb(channel(a, 0) < 128 ? 255 : 0, channel(a, 8) < 128 ? 255 : 0, channel(a, 16) < 128 ? 255 : 0);
                break;
            default:
                c = Rgb(byte(random), byte(random), byte(random));
            }
        }
        std::vector<uint8_t> pixels(3 * static_cast<size_t>(width));
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = colors[static_cast<size_t>(x)];
            pixels[3 * static_cast<size_t>(x)] = static_cast<uint8_t>(c >> 16);
            pixels[3 * static_cast<size_t>(x) + 1] = static_cast<uint8_t>(c >> 8);
            pixels[3 * static_cast<size_t>(x) + 2] = static_cast<uint8_t>(c);
        }
        const ColorMatcher matcher(copper, Options(tolerance, background));
        WithEachKernel([&] {
        std::vector<uint8_t> out(static_cast<size_t>(width) + 1, 99);
        matcher.ClassifyRow(pixels.data(), width, out.data());
        ASSERT_EQ(out[static_cast<size_t>(width)], 99) << "wrote past the row";
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = colors[static_cast<size_t>(x)];
            int best = tolerance * tolerance + 1;
            uint8_t expected = 0;
            for (size_t k = 0; k < refs.size(); ++k) {
                const int d = squared(c, refs[k]);
                if (d < best) best = d, expected = k < copper.size() ? static_cast<uint8_t>(k + 1) : 0;
            }
            ASSERT_EQ(out[static_cast<size_t>(x)], expected) << "trial " << trial << " tolerance " << tolerance << " column " << x;
        }
        });
    }
}

TEST(MatchOptions, RangesAreChecked) {
    auto message = [](const MatchOptions& o, size_t copper) -> std::string {
        try {
            CheckMatchOptions(o, copper);
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(message(Options(0), 1000), "");  // exact matching has no colour limit
    EXPECT_EQ(message(Options(442), 255), "");
    EXPECT_EQ(message(Options(443), 1), "Tolerance must be between 0 and 442");
    EXPECT_EQ(message(Options(-1), 1), "Tolerance must be between 0 and 442");
    EXPECT_EQ(message(Options(0, {}, -1), 1), "Speckle size must not be negative");
    EXPECT_EQ(message(Options(1), 256), "At most 255 colours can be traced with a tolerance or speckle removal");
    EXPECT_EQ(message(Options(0, {}, 2), 256),
              "At most 255 colours can be traced with a tolerance or speckle removal");
    EXPECT_FALSE(Options(0, {kRed}).NeedsClassMap());
    EXPECT_TRUE(Options(1).NeedsClassMap());
    EXPECT_TRUE(Options(0, {}, 1).NeedsClassMap());
}

// The matches of one class as bits are ClassifyRow's, with every kernel,
// at widths around the 32-pixel steps and words, tolerances the bit kernel
// takes and one it leaves to the plain rule; no word past the row changes.
TEST(Rule, MatchBitsGivesTheClassesOfOneValue) {
    std::mt19937 random(17);
    for (const int32_t width : {1, 31, 32, 33, 63, 64, 65, 96, 200, 257}) {
        for (const int32_t tolerance : {1, 40, 255, 300}) {
            const std::vector<uint32_t> copper = {Rgb(200, 120, 60), Rgb(90, 160, 90)};
            const ColorMatcher matcher(copper, Options(tolerance, {Rgb(30, 80, 40)}));
            std::vector<uint8_t> pixels(3 * static_cast<size_t>(width));
            for (uint8_t& b : pixels) b = static_cast<uint8_t>(random() % 256);
            for (int32_t x = 0; x < width; x += 3) std::memcpy(&pixels[3 * static_cast<size_t>(x)], "\x3c\x78\xc8", 3);  // copper 0 itself
            WithEachKernel([&] {
                std::vector<uint8_t> classes(static_cast<size_t>(width));
                matcher.ClassifyRow(pixels.data(), width, classes.data());
                for (const uint8_t value : {uint8_t{0}, uint8_t{1}, uint8_t{2}}) {
                    const size_t words = static_cast<size_t>(width + 63) / 64;
                    std::vector<uint64_t> bits(words + 1, 0x5555);
                    matcher.MatchBits(pixels.data(), width, value, bits.data());
                    EXPECT_EQ(bits[words], 0x5555u) << "wrote past the row";
                    for (int32_t x = 0; x < width; ++x) {
                        ASSERT_EQ(bits[static_cast<size_t>(x) / 64] >> (x % 64) & 1, classes[static_cast<size_t>(x)] == value ? 1u : 0u)
                            << "width " << width << " tolerance " << tolerance << " value " << int{value} << " x " << x;
                    }
                }
            });
        }
    }
}

// --- The class-map scan kernel --------------------------------------------------

// Runs of the byte kernel and of the bit-row kernel equal those of the
// pixel kernel on the same pattern, at every width around the 16-byte
// blocks, the 64-bit words and the right edge.
TEST(ByteRowKernel, GivesThePixelKernelsRuns) {
    std::mt19937 random(7);
    const uint32_t c = Rgb(1, 2, 3), d = Rgb(3, 2, 1);
    for (int32_t width = 1; width <= 140; ++width) {
        for (int trial = 0; trial < 30; ++trial) {
            Raster raster(width, 1);
            ClassMap map(width, 1);
            const int density = trial % 5;  // from all-other to all-matching
            for (int32_t x = 0; x < width; ++x) {
                const bool match = static_cast<int>(random() % 4) < density;
                SetPixel(raster, x, 0, match ? c : d);
                map.Row(0)[x] = match ? 3 : static_cast<uint8_t>(random() % 3);
            }
            // Bits past the width set, which the kernel must not look at.
            std::vector<uint64_t> bits(static_cast<size_t>(width + 63) / 64, 0);
            bits.back() = width % 64 ? ~uint64_t{0} << (width % 64) : 0;
            for (int32_t x = 0; x < width; ++x) {
                if (map.Row(0)[x] == 3) bits[static_cast<size_t>(x) / 64] |= uint64_t{1} << (x % 64);
            }
            std::vector<std::pair<int32_t, int32_t>> pixelRuns, byteRuns, bitRuns;
            detail::ScanRow(raster.RowBytes(0).data(), width, c, [&](int32_t s, int32_t e) { pixelRuns.emplace_back(s, e); });
            detail::ScanByteRow(map.Row(0), width, 3, [&](int32_t s, int32_t e) { byteRuns.emplace_back(s, e); });
            detail::ScanBitRow(bits.data(), width, [&](int32_t s, int32_t e) { bitRuns.emplace_back(s, e); });
            ASSERT_EQ(byteRuns, pixelRuns) << "width " << width << " trial " << trial;
            ASSERT_EQ(bitRuns, pixelRuns) << "width " << width << " trial " << trial;
        }
    }
}

TEST(ByteRowKernel, StepsEveryRowAndNamesRowsFromTheTop) {
    ClassMap map(3, 4);
    map.Row(1)[2] = 1;
    map.Row(3)[0] = 1;
    map.Row(3)[1] = 1;
    std::vector<int32_t> rows;
    std::vector<std::vector<int32_t>> runs;
    ScanClassRuns(map, 1, [&](int32_t r) { rows.push_back(r); },
                  [&](const rastrace::Run& run) { runs.push_back({run.startCol, run.endCol, run.row}); });
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 1, 2, 3}));
    // A lone match in the last column: a run of length zero there; a run
    // ending inside the row ends at the first column not matching.
    EXPECT_EQ(runs, (std::vector<std::vector<int32_t>>{{2, 2, 1}, {0, 2, 3}}));
}

// --- Speckle removal -----------------------------------------------------------

// A class map from rows of characters: '.' is no class, 'a' is 1, 'b' is 2.
ClassMap MapOf(const std::vector<std::string>& rows) {
    ClassMap map(static_cast<int32_t>(rows.at(0).size()), static_cast<int32_t>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            map.Row(static_cast<int32_t>(y))[x] = rows[y][x] == '.' ? 0 : static_cast<uint8_t>(rows[y][x] - 'a' + 1);
        }
    }
    return map;
}

std::vector<std::string> RowsOf(const ClassMap& map) {
    std::vector<std::string> rows;
    for (int32_t y = 0; y < map.Height(); ++y) {
        std::string row;
        for (int32_t x = 0; x < map.Width(); ++x) row += map.Row(y)[x] == 0 ? '.' : static_cast<char>('a' + map.Row(y)[x] - 1);
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> Despeckled(const std::vector<std::string>& rows, int32_t n) {
    ClassMap map = MapOf(rows);
    Despeckle(map, n);
    return RowsOf(map);
}

struct SpeckleCase {
    const char* name;
    int32_t n;
    std::vector<std::string> before, after;
};

class Speckles : public ::testing::TestWithParam<SpeckleCase> {};

TEST_P(Speckles, Despeckle) { EXPECT_EQ(Despeckled(GetParam().before, GetParam().n), GetParam().after); }

// A speck of 4 pixels (an L) and a hole of 4 pixels, at N = 3, 4, 5.
const std::vector<std::string> kSpeck = {"......", ".a....", ".aaa..", "......"};
const std::vector<std::string> kHole = {"aaaaaa", "a.aaaa", "a...aa", "aaaaaa"};
const std::vector<std::string> kEmpty = {"......", "......", "......", "......"};
// Four arms of 3 pixels around a one-pixel hole, meeting only at corners.
const std::vector<std::string> kCross = {"...a...", "...a...", "...a...", "aaa.aaa", "...a...", "...a...", "...a..."};
const std::vector<std::string> kFull = {"aaaaaa", "aaaaaa", "aaaaaa", "aaaaaa"};

INSTANTIATE_TEST_SUITE_P(
    Cases, Speckles,
    ::testing::Values(
        SpeckleCase{"speckBelowN", 5, kSpeck, kEmpty}, SpeckleCase{"speckOfN", 4, kSpeck, kSpeck},
        SpeckleCase{"speckAboveN", 3, kSpeck, kSpeck}, SpeckleCase{"holeBelowN", 5, kHole, kFull},
        SpeckleCase{"holeOfN", 4, kHole, kHole}, SpeckleCase{"holeAboveN", 3, kHole, kHole},
        SpeckleCase{"zeroIsOff", 0, {".a", ".."}, {".a", ".."}},
        SpeckleCase{"oneIsOff", 1, {".a", ".."}, {".a", ".."}},
        // Pixels joined by a corner only are separate regions.
        SpeckleCase{"cornersDoNotJoin", 2, {"a.", ".a"}, {"..", ".."}},
        SpeckleCase{"eachColourIsItsOwnRegion", 2, {"aab", "...", "..."}, {"aa.", "...", "..."}},
        // A region reaching the right edge or the last row is still measured whole.
        SpeckleCase{"regionAtTheRightEdge", 3, {"...a", "...a", "...."}, {"....", "....", "...."}},
        SpeckleCase{"regionAtTheRightEdgeKept", 2, {"...a", "...a", "...."}, {"...a", "...a", "...."}},
        // A hole touching the picture's edge is no hole.
        SpeckleCase{"openToTheEdge", 3, {"aaa", "a..", "aaa"}, {"aaa", "a..", "aaa"}},
        // Enclosed by two colours: not one region, not filled.
        SpeckleCase{"twoColoursAround", 2, {"aaabbb", "aa.bbb", "aaabbb"}, {"aaabbb", "aa.bbb", "aaabbb"}},
        // Enclosed by four regions of one colour, joined only at corners:
        // filling it would join them.
        SpeckleCase{"fourRegionsAround", 2, kCross, kCross},
        SpeckleCase{"ringIsOneRegion", 2, {"aaaaa", "aaaaa", "aa.aa", "aaaaa", "aaaaa"},
                    {"aaaaa", "aaaaa", "aaaaa", "aaaaa", "aaaaa"}},
        // A speck of another colour inside a pad is dropped first; what it
        // leaves is a hole, then filled with the pad's colour.
        SpeckleCase{"speckInAPadBecomesPad", 4, {"aaaaa", "a.b.a", "aaaaa"}, {"aaaaa", "aaaaa", "aaaaa"}},
        // A large hole stays, and the small region inside it is dropped.
        SpeckleCase{"islandInALargeHole", 3, {"aaaaaaa", "a.....a", "a..a..a", "a.....a", "aaaaaaa"},
                    {"aaaaaaa", "a.....a", "a.....a", "a.....a", "aaaaaaa"}},
        // The one-pixel picture: a region touching every edge, no hole.
        SpeckleCase{"onePixelCopperDropped", 2, {"a"}, {"."}},
        SpeckleCase{"onePixelCopperKept", 1, {"a"}, {"a"}},
        SpeckleCase{"onePixelNothing", 9, {"."}, {"."}},
        SpeckleCase{"oneRow", 3, {"aa.aaa.a"}, {"...aaa.."}}),
    [](const auto& info) { return std::string(info.param.name); });

// A 4-connected region winding across many rows is counted whole, however
// its runs are met (a U joined only at the bottom).
TEST(Despeckle, CountsAWindingRegionWhole) {
    const std::vector<std::string> u = {"a.a.a.", "a.a.a.", "a.a.a.", "aaaaa.", "......"};
    EXPECT_EQ(Despeckled(u, 14), u);  // 14 pixels
    EXPECT_EQ(Despeckled(u, 15), std::vector<std::string>(5, "......"));
}

// Bands labelled on several threads and joined give what one band gives:
// regions and holes crossing the bands' borders included.
TEST(Despeckle, BandsOnSeveralThreadsGiveTheSameMap) {
    std::mt19937 random(11);
    ClassMap original(61, 1100);
    for (int32_t y = 0; y < original.Height(); ++y) {
        for (int32_t x = 0; x < original.Width(); ++x) {
            // Mostly class 1 with holes and specks of 0 and 2.
            const unsigned r = random() % 10;
            original.Row(y)[x] = r < 6 ? 1 : r < 9 ? 0 : 2;
        }
    }
    for (const int32_t n : {2, 5, 40}) {
        std::vector<std::vector<std::string>> results;
        for (const int threads : {1, 2, 3}) {
            ClassMap map(61, 1100);
            for (int32_t y = 0; y < map.Height(); ++y) std::memcpy(map.Row(y), original.Row(y), 61);
            Despeckle(map, n, {}, threads);
            results.push_back(RowsOf(map));
        }
        EXPECT_NE(results[0], RowsOf(original)) << n;
        EXPECT_EQ(results[1], results[0]) << n;
        EXPECT_EQ(results[2], results[0]) << n;
    }
}

// The rule pixel by pixel, by flood fill: the reference speckle removal is
// checked against.
std::vector<std::string> PlainDespeckle(std::vector<std::string> rows, int32_t n) {
    const int h = static_cast<int>(rows.size()), w = static_cast<int>(rows[0].size());
    // The regions of the map as it is: a label per pixel, and each region's pixels.
    auto label = [&](std::vector<int>& id, std::vector<std::vector<std::pair<int, int>>>& regions) {
        id.assign(static_cast<size_t>(w * h), -1);
        regions.clear();
        for (int y0 = 0; y0 < h; ++y0) {
            for (int x0 = 0; x0 < w; ++x0) {
                if (id[static_cast<size_t>(y0 * w + x0)] >= 0) continue;
                std::vector<std::pair<int, int>> region{{x0, y0}};
                id[static_cast<size_t>(y0 * w + x0)] = static_cast<int>(regions.size());
                for (size_t k = 0; k < region.size(); ++k) {
                    const auto [x, y] = region[k];
                    for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || rows[ny][nx] != rows[y][x] ||
                            id[static_cast<size_t>(ny * w + nx)] >= 0) {
                            continue;
                        }
                        id[static_cast<size_t>(ny * w + nx)] = static_cast<int>(regions.size());
                        region.emplace_back(nx, ny);
                    }
                }
                regions.push_back(std::move(region));
            }
        }
    };
    std::vector<int> id;
    std::vector<std::vector<std::pair<int, int>>> regions;
    label(id, regions);
    for (const auto& region : regions) {
        const auto [x0, y0] = region[0];
        if (rows[y0][x0] != '.' && static_cast<int32_t>(region.size()) < n) {
            for (const auto& [x, y] : region) rows[y][x] = '.';
        }
    }
    label(id, regions);
    const std::vector<std::string> before = rows;
    for (const auto& region : regions) {
        const auto [x0, y0] = region[0];
        if (before[y0][x0] != '.' || static_cast<int32_t>(region.size()) >= n) continue;
        std::set<int> around;
        bool edge = false;
        for (const auto& [x, y] : region) {
            edge = edge || x == 0 || y == 0 || x == w - 1 || y == h - 1;
            for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                const int nx = x + dx, ny = y + dy;
                if (nx >= 0 && ny >= 0 && nx < w && ny < h && before[ny][nx] != '.') around.insert(id[static_cast<size_t>(ny * w + nx)]);
            }
        }
        if (edge || around.size() != 1) continue;
        const auto [ax, ay] = regions[static_cast<size_t>(*around.begin())][0];
        for (const auto& [x, y] : region) rows[y][x] = before[ay][ax];
    }
    return rows;
}

// A w x h map of count blobs of the classes in palette ('.' unmatched)
// painted over each other, each up to maxW x maxH pixels, with about one
// pixel in sparse left as it was.
std::vector<std::string> RandomBlobs(std::mt19937& random, int w, int h, int count, std::string_view palette, int maxW,
                                     int maxH, unsigned sparse) {
    std::vector<std::string> rows(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
    for (int blob = 0; blob < count; ++blob) {
        const char c = palette[random() % palette.size()];
        const int bx = static_cast<int>(random() % static_cast<unsigned>(w)), by = static_cast<int>(random() % static_cast<unsigned>(h));
        const int bw = 1 + static_cast<int>(random() % static_cast<unsigned>(maxW));
        const int bh = 1 + static_cast<int>(random() % static_cast<unsigned>(maxH));
        for (int y = by; y < std::min(h, by + bh); ++y) {
            for (int x = bx; x < std::min(w, bx + bw); ++x) {
                if (random() % sparse) rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = c;
            }
        }
    }
    return rows;
}

// Appends the classes of a map's rows ('.' unmatched, 'a' class 1, ...) to
// runs, as the next rows.
void AppendRunsOf(const std::vector<std::string>& rows, size_t first, size_t end, ClassRuns& runs) {
    for (size_t y = first; y < end; ++y) {
        std::vector<uint8_t> bytes;
        for (char c : rows[y]) bytes.push_back(c == '.' ? 0 : static_cast<uint8_t>(c - 'a' + 1));
        detail::AppendRowRuns(bytes.data(), static_cast<int32_t>(bytes.size()), runs);
    }
}

ClassRuns RunsOf(const std::vector<std::string>& rows) {
    ClassRuns runs;
    runs.width = static_cast<int32_t>(rows[0].size());
    AppendRunsOf(rows, 0, rows.size(), runs);
    return runs;
}

// Speckle removal on the map and on its runs against the flood fill, on
// random maps of specks, holes, specks in holes and holes in specks.
TEST(Despeckle, MapAndRunsFollowThePlainRule) {
    std::mt19937 random(19);
    for (int trial = 0; trial < 200; ++trial) {
        const int w = 1 + static_cast<int>(random() % 24), h = 1 + static_cast<int>(random() % 24);
        const std::vector<std::string> rows = RandomBlobs(random, w, h, 3 + trial % 12, "aab.", 6, 6, 5);
        const int32_t n = 2 + static_cast<int32_t>(random() % 12);
        const std::vector<std::string> expected = PlainDespeckle(rows, n);
        ASSERT_EQ(Despeckled(rows, n), expected) << "trial " << trial << " n " << n;
        ClassRuns runs = RunsOf(rows);
        Despeckle(runs, n);
        ASSERT_EQ(RowsOf(MapOfRuns(runs, 1 << 20)), expected) << "trial " << trial << " n " << n;
    }
}

// Speckle removal on rows handed over a few at a time (1 to maxBand), as
// a picture read by rows comes, labelled by the despeckler or band by band
// on their own. Gives the classes at the end, and checks that the rows
// handed on as final were already so. With discard, the rows handed on
// are let go of at once, and the result is made of them.
std::vector<std::string> DespeckledAsRowsCome(const std::vector<std::string>& rows, int32_t n, bool byBands,
                                              std::mt19937& random, int maxBand = 7, bool discard = false) {
    const auto h = static_cast<int32_t>(rows.size()), w = static_cast<int32_t>(rows[0].size());
    ClassRuns runs;
    runs.width = w;
    RowDespeckler despeckler(n, h);
    std::vector<std::string> handedOn;  // the final rows as they were when handed on
    auto handOn = [&] {
        for (auto y = static_cast<int32_t>(handedOn.size()); y < despeckler.FinalRows(); ++y) {
            std::string row;
            for (const ClassRun& r : runs.Row(y)) {
                row.append(static_cast<size_t>(r.end - r.start), r.cls == 0 ? '.' : static_cast<char>('a' + r.cls - 1));
            }
            handedOn.push_back(row);
        }
    };
    for (int32_t y = 0; y < h;) {
        const int32_t count = std::min<int32_t>(h - y, 1 + static_cast<int32_t>(random() % static_cast<unsigned>(maxBand)));
        ClassRuns part;
        part.width = w;
        AppendRunsOf(rows, static_cast<size_t>(y), static_cast<size_t>(y + count), part);
        detail::RegionTable labels;
        if (byBands) detail::LabelBand(part, y, h, labels);
        detail::AppendRuns(runs, part);
        y += count;
        if (byBands) {
            despeckler.AddBand(runs, y, labels);
        } else {
            despeckler.AddRows(runs, y);
        }
        EXPECT_LE(despeckler.FinalRows(), y);
        handOn();
        if (discard) despeckler.Discard(runs, static_cast<int32_t>(handedOn.size()));
    }
    despeckler.Finish(runs);
    EXPECT_EQ(despeckler.FinalRows(), h);
    handOn();
    if (discard) return handedOn;
    const std::vector<std::string> result = RowsOf(MapOfRuns(runs, 1 << 20));
    EXPECT_EQ(handedOn, result) << "a row changed after it was handed on";
    return result;
}

// Random maps tall enough for decisions long before the last row: specks,
// holes, long winding regions, runs at the right edge; against the plain
// rule.
TEST(Despeckle, RowsDecidedAsTheyComeFollowThePlainRule) {
    std::mt19937 random(23);
    for (int trial = 0; trial < 300; ++trial) {
        const int w = 1 + static_cast<int>(random() % 20), h = 1 + static_cast<int>(random() % 90);
        const std::vector<std::string> rows = RandomBlobs(random, w, h, 4 + trial % 30, "aab.", 6, trial % 3 == 0 ? 40 : 6, 5);
        const int32_t n = 2 + static_cast<int32_t>(random() % 12);
        ASSERT_EQ(DespeckledAsRowsCome(rows, n, trial % 2 == 1, random, 7, trial % 4 >= 2), PlainDespeckle(rows, n))
            << "trial " << trial << " n " << n << "\n" << ::testing::PrintToString(rows);
    }
}

// Larger maps like a noisy scan (blobs, specks and holes of two classes at
// every size up to past n) against the whole map's speckle removal.
TEST(Despeckle, RowsDecidedAsTheyComeMatchTheWholeMapOnNoisyMaps) {
    std::mt19937 random(31);
    for (int trial = 0; trial < 40; ++trial) {
        const int w = 8 + static_cast<int>(random() % 60), h = 50 + static_cast<int>(random() % 350);
        const std::vector<std::string> rows = RandomBlobs(random, w, h, w * h / 40, "aaab..", 12, 12, 8);
        const int32_t n = 2 + static_cast<int32_t>(random() % 40);
        ClassRuns whole = RunsOf(rows);
        Despeckle(whole, n);
        ASSERT_EQ(DespeckledAsRowsCome(rows, n, trial % 2 == 1, random, 1 + trial % 20, trial % 4 >= 2),
                  RowsOf(MapOfRuns(whole, 1 << 20)))
            << "trial " << trial << " n " << n;
    }
}

// A hole whose four sides are four regions of one class that become one
// only far below: it waits for them, and is filled once they meet (not
// when they never do, or when one of them ends first).
TEST(Despeckle, RowsDecidedAsTheyComeWaitForRegionsThatMeetLater) {
    std::vector<std::string> rows(60, ".........");
    rows[1] = "....aaaaa";
    rows[2] = "....a...a";
    rows[3] = "..aa.aa.a";
    for (int y = 4; y < 50; ++y) rows[static_cast<size_t>(y)] = "..a.a.a.a";
    rows[50] = "..aaaaaaa";
    std::vector<std::string> filled = rows;
    filled[3][4] = 'a';
    std::vector<std::string> apart = rows;
    apart[50] = "..a.a.a.a";
    std::vector<std::string> oneEnds = rows;
    for (int y = 20; y <= 50; ++y) oneEnds[static_cast<size_t>(y)][2] = '.';
    std::mt19937 random(5);
    EXPECT_EQ(PlainDespeckle(rows, 3), filled);
    EXPECT_EQ(PlainDespeckle(apart, 3), apart);
    for (const bool byBands : {false, true}) {
        for (const int maxBand : {1, 4, 30}) {
            for (const bool discard : {false, true}) {
                EXPECT_EQ(DespeckledAsRowsCome(rows, 3, byBands, random, maxBand, discard), filled);
                EXPECT_EQ(DespeckledAsRowsCome(apart, 3, byBands, random, maxBand, discard), apart);
                EXPECT_EQ(DespeckledAsRowsCome(oneEnds, 3, byBands, random, maxBand, discard), PlainDespeckle(oneEnds, 3));
            }
        }
    }
}

// Letting go of the rows handed on keeps a tall noisy picture's runs to a
// few times the speckle size in rows. (A hole between two regions of one
// class that both go on must wait for them, and holds its rows meanwhile.)
TEST(Despeckle, RowsLetGoOfKeepTheRunsHeldFew) {
    std::mt19937 random(29);
    const int32_t w = 40, h = 3000, n = 5;
    std::vector<std::string> rows(h, std::string(w, '.'));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const unsigned r = random() % 8;
            if (r < 3) rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = r == 0 ? 'b' : 'a';  // specks, holes, blobs
        }
    }
    ClassRuns runs;
    runs.width = w;
    RowDespeckler despeckler(n, h);
    size_t mostHeld = 0;
    for (int32_t y = 0; y < h; y += 10) {
        for (int32_t k = y; k < y + 10; ++k) {
            std::vector<uint8_t> bytes;
            for (char c : rows[static_cast<size_t>(k)]) bytes.push_back(c == '.' ? 0 : 1);
            detail::AppendRowRuns(bytes.data(), w, runs);
        }
        despeckler.AddRows(runs, y + 10);
        mostHeld = std::max(mostHeld, runs.rowStart.size() - 1);
        despeckler.Discard(runs, despeckler.FinalRows());
    }
    despeckler.Finish(runs);
    EXPECT_EQ(runs.Height(), h);
    EXPECT_LE(mostHeld, static_cast<size_t>(5 * n + 10));
    EXPECT_THROW(despeckler.Discard(runs, h + 1), std::logic_error);
}

// A window of a larger map: a region at a cut side may go on beyond it
// and stays; at a side that is the picture's own edge it is a speck; a
// hole at any side is not enclosed.
TEST(Despeckle, AWindowKeepsWhatReachesItsCutSides) {
    auto window = [](const std::vector<std::string>& rows, int32_t n, unsigned cuts) {
        const ClassMap map = MapOf(rows);
        ClassRuns runs;
        runs.width = map.Width();
        for (int32_t y = 0; y < map.Height(); ++y) detail::AppendRowRuns(map.Row(y), map.Width(), runs);
        DespeckleWindow(runs, n, cuts);
        return RowsOf(MapOfRuns(runs, 1 << 20));
    };
    const std::vector<std::string> rows = {"a....", ".....", "..a..", ".....", "a...a"};
    EXPECT_EQ(window(rows, 2, 0), std::vector<std::string>(5, "....."));
    EXPECT_EQ(window(rows, 2, kCutLeft), (std::vector<std::string>{"a....", ".....", ".....", ".....", "a...."}));
    EXPECT_EQ(window(rows, 2, kCutTop | kCutRight), (std::vector<std::string>{"a....", ".....", ".....", ".....", "....a"}));
    EXPECT_EQ(window(rows, 2, kCutBottom), (std::vector<std::string>{".....", ".....", ".....", ".....", "a...a"}));
    EXPECT_EQ(window(kHole, 5, kCutLeft | kCutTop | kCutRight | kCutBottom), kFull);  // the hole is off every side
    EXPECT_EQ(window({"aaa", "a..", "aaa"}, 3, kCutRight), (std::vector<std::string>{"aaa", "a..", "aaa"}));
}

// A matcher that marks background pixels gives them their own class and
// keeps every copper class below it.
TEST(Rule, BackgroundClassMarksWhatBackgroundColoursTake) {
    const ColorMatcher matcher(std::vector<uint32_t>{kRed, kBlue}, Options(300, {kBlack}), 255);
    EXPECT_EQ(matcher.Classify(Rgb(190, 0, 0)), 1);
    EXPECT_EQ(matcher.Classify(Rgb(0, 0, 190)), 2);
    EXPECT_EQ(matcher.Classify(Rgb(10, 0, 10)), 255);
    EXPECT_EQ(matcher.Classify(Rgb(255, 255, 255)), 0);  // beyond the tolerance of all
    // Exact matching of many colours: those past class 254 share it.
    std::vector<uint32_t> many;
    for (uint32_t k = 0; k < 300; ++k) many.push_back(k);
    const ColorMatcher exact(many, Options(0), 255);
    EXPECT_EQ(exact.Classify(253), 254);
    EXPECT_EQ(exact.Classify(299), 254);
    EXPECT_EQ(exact.Classify(300), 0);
    EXPECT_EQ(ColorMatcher(many, Options(0)).Classify(299), 255);  // not 300 wrapped to 44
}

// --- Building the map ---------------------------------------------------------

TEST(BuildClassMap, BandsOnSeveralThreadsGiveTheSameMap) {
    std::mt19937 random(3);
    Raster raster(97, 300);
    for (int32_t y = 0; y < raster.Height(); ++y) {
        for (int32_t x = 0; x < raster.Width(); ++x) {
            SetPixel(raster, x, y, Rgb(static_cast<int>(random() % 256), 100, static_cast<int>(random() % 256)));
        }
    }
    const std::vector<uint32_t> copper = {Rgb(50, 100, 50), Rgb(200, 100, 200)};
    const MatchOptions options = Options(90, {Rgb(128, 100, 128)}, 3);
    const ClassMap one = BuildClassMap(raster, copper, options, 1);
    const ClassMap three = BuildClassMap(raster, copper, options, 3);
    EXPECT_EQ(RowsOf(one), RowsOf(three));
    // And the map is the rule, then speckle removal.
    ClassMap plain = BuildClassMap(raster, copper, Options(90, {Rgb(128, 100, 128)}));
    const ColorMatcher matcher(copper, Options(90, {Rgb(128, 100, 128)}));
    EXPECT_EQ(plain.Row(5)[7], matcher.Classify(raster.PixelColor(7, 5)));
    Despeckle(plain, 3);
    EXPECT_EQ(RowsOf(plain), RowsOf(one));
}

// Matching row by row gives the class map's runs and row steps.
TEST(ScanMatchedRuns, GivesTheClassMapsRuns) {
    std::mt19937 random(5);
    Raster raster(37, 23);
    for (int32_t y = 0; y < raster.Height(); ++y) {
        for (int32_t x = 0; x < raster.Width(); ++x) {
            SetPixel(raster, x, y, Rgb(static_cast<int>(random() % 256), 90, static_cast<int>(random() % 256)));
        }
    }
    const std::vector<uint32_t> copper = {Rgb(60, 90, 60), Rgb(190, 90, 190)};
    const MatchOptions options = Options(100, {Rgb(128, 90, 128)});
    const ClassMap map = BuildClassMap(raster, copper, options);
    const ColorMatcher matcher(copper, options);
    for (const uint8_t value : {1, 2}) {
        std::vector<std::vector<int32_t>> fromMap, fromRows;
        ScanClassRuns(map, value, [&](int32_t r) { fromMap.push_back({r}); },
                      [&](const rastrace::Run& run) { fromMap.push_back({run.startCol, run.endCol, run.row}); });
        ScanMatchedRuns(raster, matcher, value, [&](int32_t r) { fromRows.push_back({r}); },
                        [&](const rastrace::Run& run) { fromRows.push_back({run.startCol, run.endCol, run.row}); });
        EXPECT_GT(fromMap.size(), 40u);
        EXPECT_EQ(fromRows, fromMap);
    }
}

// With speckle removal the map is made as runs: the runs, the map painted
// from them, the shared map's scan and its Get all give BuildClassMap's.
TEST(BuildClassRuns, GiveTheClassMapsClassesAndRuns) {
    std::mt19937 random(8);
    auto raster = std::make_shared<Raster>(131, 700);
    for (int32_t y = 0; y < raster->Height(); ++y) {
        for (int32_t x = 0; x < raster->Width(); ++x) {
            SetPixel(*raster, x, y, Rgb(static_cast<int>(random() % 256), 70, static_cast<int>(random() % 256)));
        }
    }
    const std::vector<uint32_t> copper = {Rgb(40, 70, 40), Rgb(210, 70, 210)};
    for (const int32_t n : {0, 6}) {
        const MatchOptions options = Options(110, {Rgb(128, 70, 128)}, n);
        const ClassMap map = BuildClassMap(*raster, copper, options, 1);
        const ClassRuns runs = BuildClassRuns(*raster, copper, options, 2);
        EXPECT_EQ(RowsOf(MapOfRuns(runs, 1 << 30)), RowsOf(map)) << n;
        SharedClassMap shared(raster, copper, options);
        for (const uint8_t value : {1, 2}) {
            std::vector<std::vector<int32_t>> fromMap, fromRuns, fromShared;
            auto collect = [](std::vector<std::vector<int32_t>>& into) {
                return std::pair{[&into](int32_t r) { into.push_back({r}); },
                                 [&into](const rastrace::Run& run) { into.push_back({run.startCol, run.endCol, run.row}); }};
            };
            auto [mapRow, mapRun] = collect(fromMap);
            ScanClassRuns(map, value, mapRow, mapRun);
            auto [runsRow, runsRun] = collect(fromRuns);
            ScanClassRuns(runs, value, runsRow, runsRun);
            auto [sharedRow, sharedRun] = collect(fromShared);
            shared.Scan(value, {}, sharedRow, sharedRun);
            EXPECT_GT(fromMap.size(), 800u);
            EXPECT_EQ(fromRuns, fromMap) << n;
            EXPECT_EQ(fromShared, fromMap) << n;
        }
        EXPECT_EQ(RowsOf(shared.Get({})), RowsOf(map)) << n;
    }
}

// The runs are held to the memory limit like the map.
TEST(BuildClassRuns, MoreRunsThanTheMemoryLimitIsOutOfMemory) {
    Raster raster(100, 100);
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 100; ++x) SetPixel(raster, x, y, (x + y) % 2 ? Rgb(0, 0, 0) : Rgb(255, 255, 255));
    }
    MatchOptions options = Options(5, {}, 3);
    options.memoryLimit = 10000 * 21 - 1;  // the map fits, its 10 000 runs do not
    try {
        BuildClassRuns(raster, std::vector<uint32_t>{0}, options, 2);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
    options.memoryLimit = 10000 * 21;
    EXPECT_EQ(BuildClassRuns(raster, std::vector<uint32_t>{0}, options, 2).spans.size(), 10000u);
}

TEST(BuildClassMap, AStopEndsTheBuildWithItsException) {
    Raster raster(10, 1000);
    // Alone, the caller looks before every band of rows; with a helper, at
    // least before its first.
    for (const auto& [threads, stopAt] : {std::pair{1, 3}, std::pair{2, 1}}) {
        int calls = 0;
        EXPECT_THROW(BuildClassMap(raster, std::vector<uint32_t>{0}, Options(5), threads,
                                   [&] {
                                       if (++calls == stopAt) throw std::runtime_error("stop");
                                   }),
                     std::runtime_error);
    }
    // Speckle removal looks too.
    int calls = 0;
    EXPECT_THROW(BuildClassMap(raster, std::vector<uint32_t>{0}, Options(5, {}, 4), 1,
                               [&] {
                                   if (++calls == 18) throw std::runtime_error("stop");  // after 17 in matching
                               }),
                 std::runtime_error);
}

TEST(BuildClassMap, EmptyPictureGivesAnEmptyMap) {
    const ClassMap map = BuildClassMap(Raster(), std::vector<uint32_t>{0}, Options(5, {}, 4), 2);
    EXPECT_EQ(map.Width(), 0);
    EXPECT_EQ(map.Height(), 0);
}

TEST(BuildClassMap, TooLargeForTheMemoryLimitIsOutOfMemory) {
    Raster raster(100, 100);
    MatchOptions options = Options(5);
    options.memoryLimit = 9999;
    try {
        BuildClassMap(raster, std::vector<uint32_t>{0}, options);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
}

}  // namespace
