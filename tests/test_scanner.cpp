// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Error.h"
#include "support/Pixels.h"
#include "trace/ColorCount.h"
#include "trace/Scanner.h"
#include "support/TrackText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace rastrace;
using rastrace::test::Scan;

namespace {

constexpr uint32_t C = 0x00123456;  // the target colour
constexpr uint32_t D = 0x00654321;  // any other colour

using test::SetPixel;

// A raster from rows of 'C' and 'D' characters, row 0 first.
Raster FromPattern(const std::vector<std::string>& rows) {
    Raster r(static_cast<int32_t>(rows.at(0).size()), static_cast<int32_t>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            SetPixel(r, static_cast<int32_t>(x), static_cast<int32_t>(y), rows[y][x] == 'C' ? C : D);
        }
    }
    return r;
}

std::vector<Run> RunsOf(const Raster& r, uint32_t color = C) {
    std::vector<Run> runs;
    ScanRuns(r, color, [](int32_t) {}, [&](const Run& run) { runs.push_back(run); });
    return runs;
}

std::vector<Track> TracksOf(const Raster& r, int32_t xres = 600, int32_t yres = 600) {
    std::vector<Track> tracks;
    Scan(r, static_cast<int32_t>(C), xres, yres, [](int32_t) {}, [&](const Track& t) { tracks.push_back(t); });
    return tracks;
}

// The same mapping in extended precision: the exact product, rounded to
// nearest-even by the floating-point unit.
int64_t ReferenceMap(int64_t v, float scale) {
    return std::llrint(static_cast<long double>(v) * static_cast<long double>(scale));
}

}  // namespace

TEST(Scale, IsTheSingleRoundingOfTheExtendedQuotient) {
    EXPECT_EQ(static_cast<double>(ScaleFor(600)), 1.6666666269302368);
    EXPECT_EQ(ScaleFor(400), 2.5f);
    EXPECT_EQ(ScaleFor(1000), 1.0f);
    EXPECT_EQ(ScaleFor(-1000), -1.0f);
    try {
        ScaleFor(0);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
}

struct MapCase {
    int32_t resolution;
    int64_t column;
    int64_t mils;
};

class Mapping : public ::testing::TestWithParam<MapCase> {};

TEST_P(Mapping, RoundsTheExactProductTiesToEven) {
    const MapCase& c = GetParam();
    EXPECT_EQ(MapToMils(c.column, ScaleFor(c.resolution)), c.mils)
        << "resolution " << c.resolution << " column " << c.column;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Mapping,
    ::testing::Values(MapCase{600, 0, 0}, MapCase{600, 1, 2}, MapCase{600, 2, 3}, MapCase{600, 3, 5},
                      MapCase{600, 4, 7}, MapCase{600, 5, 8}, MapCase{600, 6, 10}, MapCase{600, 7, 12},
                      MapCase{400, 1, 2}, MapCase{400, 3, 8}, MapCase{400, 5, 12}, MapCase{400, 7, 18},
                      MapCase{48, 3, 63}, MapCase{240, 9, 37}, MapCase{1000, 123, 123}, MapCase{-1000, 5, -5},
                      MapCase{-400, 1, -2}, MapCase{-400, 3, -8}, MapCase{1, 2147483647, 2147483647000}),
    [](const ::testing::TestParamInfo<MapCase>& info) {
        const int32_t r = info.param.resolution;
        return "Resolution" + std::string(r < 0 ? "Minus" : "") + std::to_string(r < 0 ? -int64_t{r} : r) +
               "_Column" + std::to_string(info.param.column);
    });

TEST(Mapping, AgreesWithExtendedPrecisionEverywhere) {
    const int32_t resolutions[] = {1, 3, 7, 48, 72, 96, 150, 240, 300, 333, 400, 600, 1200, 2400, 4800, 9600,
                                   65535, 1000000, 2147483647, -600, -7, -2147483647 - 1};
    for (int32_t res : resolutions) {
        const float s = ScaleFor(res);
        for (int64_t v : {0LL, 1LL, 2LL, 3LL, 9LL, 599LL, 600LL, 10199LL, 14039LL, 65535LL, 1234567LL,
                          2147483647LL, -1LL, -14039LL}) {
            ASSERT_EQ(MapToMils(v, s), ReferenceMap(v, s)) << "res " << res << " v " << v;
        }
    }
}

TEST(Runs, EndAtTheFirstMismatchOrAtTheLastColumn) {
    const Raster r = FromPattern({"CCDCC"});
    const auto runs = RunsOf(r);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].startCol, 0);
    EXPECT_EQ(runs[0].endCol, 2);
    EXPECT_EQ(runs[1].startCol, 3);
    EXPECT_EQ(runs[1].endCol, 4);

    const auto single = RunsOf(FromPattern({"DCD"}));
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].startCol, 1);
    EXPECT_EQ(single[0].endCol, 2);

    const auto lastOnly = RunsOf(FromPattern({"DDC"}));
    ASSERT_EQ(lastOnly.size(), 1u);
    EXPECT_EQ(lastOnly[0].startCol, 2);
    EXPECT_EQ(lastOnly[0].endCol, 2) << "a lone match in the last column has length zero";
}

TEST(Runs, ComeInRowOrderTopFirstAndNeverSpanRows) {
    const auto runs = RunsOf(FromPattern({"DCC", "CCC", "DDD", "CDC"}));
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].row, 0);
    EXPECT_EQ(runs[1].row, 1);
    EXPECT_EQ(runs[1].startCol, 0);
    EXPECT_EQ(runs[1].endCol, 2);
    EXPECT_EQ(runs[2].row, 3);
    EXPECT_EQ(runs[2].endCol, 1);
    EXPECT_EQ(runs[3].row, 3);
    EXPECT_EQ(runs[3].startCol, 2);
}

TEST(Runs, MatchExactColoursOnly) {
    Raster r(4, 1);
    SetPixel(r, 0, 0, C);
    SetPixel(r, 1, 0, C + 1);
    SetPixel(r, 2, 0, C | 0x01000000);
    SetPixel(r, 3, 0, C);
    EXPECT_EQ(RunsOf(r).size(), 2u);
    EXPECT_TRUE(RunsOf(r, C | 0x01000000).empty()) << "a value with a top byte matches no pixel";
    EXPECT_TRUE(RunsOf(r, 0xFFFFFFFFu).empty());
}

TEST(Runs, ThePaddingIsNeverCompared) {
    // Width 1: three pixel bytes and one padding byte per row. A padding
    // byte equal to the next row's would make a 4-byte compare match.
    Raster r(1, 2);
    for (int y = 0; y < 2; ++y) {
        SetPixel(r, 0, y, C);
        r.RowBytes(y).data()[3] = 0xAB;
    }
    EXPECT_EQ(RunsOf(r).size(), 2u);
    SetPixel(r, 0, 1, D);
    EXPECT_EQ(RunsOf(r).size(), 1u);
}

TEST(Runs, EveryRowIsSteppedBeforeItIsRead) {
    const Raster r = FromPattern({"DDD", "DDD", "DDD"});
    std::vector<int32_t> rows;
    Scan(r, static_cast<int32_t>(C), 600, 600, [&](int32_t row) { rows.push_back(row); },
         [](const Track&) { FAIL() << "no track expected"; });
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 1, 2}));
}

TEST(Tracks, MapToMilsWithTheYAxisUp) {
    // The format's own example: columns 0..2 of the bottom row, then another colour.
    auto tracks = TracksOf(FromPattern({"DDDD", "CCCD"}));
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0], (Track{0, 0, 5, 0}));

    tracks = TracksOf(FromPattern({"C"}));
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0], (Track{0, 0, 0, 0}));

    tracks = TracksOf(FromPattern({"CCCCCCCCCC"}));
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0], (Track{0, 0, MapToMils(9, ScaleFor(600)), 0})) << "a full row spans W-1 pitches";

    tracks = TracksOf(FromPattern({"CD", "DD", "DC"}), 1000, 1000);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0], (Track{0, 2, 1, 2})) << "the top row has y = H-1";
    EXPECT_EQ(tracks[1], (Track{1, 0, 1, 0}));

    tracks = TracksOf(FromPattern({"DC", "DD"}), -1000, -1000);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0], (Track{-1, -1, -1, -1})) << "a negative resolution gives negative mils";
}

TEST(Tracks, ResolutionZeroFailsBeforeTheFirstRow) {
    const Raster r = FromPattern({"CCC"});
    int rows = 0;
    for (auto [x, y] : {std::pair{0, 600}, std::pair{600, 0}}) {
        try {
            Scan(r, static_cast<int32_t>(C), x, y, [&](int32_t) { ++rows; }, [](const Track&) {});
            FAIL() << "no error";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Floating point division by zero");
        }
    }
    EXPECT_EQ(rows, 0);
    const Raster empty;
    EXPECT_THROW(Scan(empty, 0, 0, 600, [](int32_t) {}, [](const Track&) {}), Error)
        << "the scale is computed even for a picture without rows";
}

TEST(Runs, AgreeWithAPixelByPixelScanOnRandomRows) {
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int trial = 0; trial < 2000; ++trial) {
        const int32_t w = 1 + static_cast<int32_t>(next() >> 16) % 70;
        Raster r(w, 2);
        // Long stretches of one kind, and near misses that differ from C in
        // a single byte, so block-wise comparisons meet every case.
        const uint32_t kinds[] = {C, D, C ^ 0x01u, C ^ 0x0100u, C ^ 0x010000u};
        for (int32_t y = 0; y < 2; ++y) {
            uint32_t current = C;
            for (int32_t x = 0; x < w; ++x) {
                if ((next() >> 20) % 4 == 0) current = kinds[(next() >> 16) % 5];
                SetPixel(r, x, y, current);
            }
        }
        std::vector<rastrace::Run> expected;
        for (int32_t y = 0; y < 2; ++y) {
            bool active = false;
            int32_t start = 0;
            for (int32_t i = 0; i < w; ++i) {
                const uint32_t d = r.PixelColor(i, y);
                if (d == C && !active) {
                    active = true;
                    start = i;
                }
                if (active && (d != C || i == w - 1)) {
                    active = false;
                    expected.push_back(rastrace::Run{start, i, y});
                }
            }
        }
        const auto runs = RunsOf(r);
        ASSERT_EQ(runs.size(), expected.size());
        for (size_t k = 0; k < runs.size(); ++k) {
            EXPECT_EQ(runs[k].startCol, expected[k].startCol);
            EXPECT_EQ(runs[k].endCol, expected[k].endCol);
            EXPECT_EQ(runs[k].row, expected[k].row);
        }
    }
}

TEST(ColorCensus, CountsEveryColourInOrderOfFirstAppearance) {
    // Thousands of colours, so the index has to grow several times.
    Raster r(1500, 4);
    std::vector<uint32_t> firstSeen, firstKeys;
    std::vector<uint64_t> expected(1u << 12, 0);
    std::vector<bool> seen(1u << 12, false);
    uint32_t seed = 7;
    for (int32_t y = 0; y < r.Height(); ++y) {
        for (int32_t x = 0; x < r.Width(); ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t color = ((seed >> 16) % 3000u) * 0x010101u % 0x1000000u;
            const uint32_t key = (seed >> 16) % 3000u;
            SetPixel(r, x, y, color);
            if (!seen[key]) {
                seen[key] = true;
                firstSeen.push_back(color);
                firstKeys.push_back(key);
            }
            ++expected[key];
        }
    }
    const auto counts = CountColors(r);
    ASSERT_EQ(counts.size(), firstSeen.size());
    uint64_t total = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        EXPECT_EQ(counts[i].color, firstSeen[i]);
        EXPECT_EQ(counts[i].pixels, expected[firstKeys[i]]);
        total += counts[i].pixels;
    }
    EXPECT_EQ(total, 1500u * 4u);
    EXPECT_TRUE(CountColors(Raster()).empty());
}
