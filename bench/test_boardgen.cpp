// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the board generator, its run counter and the BMP writer.
#include "bench/BmpWriter.h"
#include "bench/BoardGenerator.h"
#include "common/Error.h"
#include "raster/BmpReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace rastrace::bench {
namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void PutPixel(Raster& r, int32_t x, int32_t y, uint32_t color) {
    uint8_t* p = r.RowBytes(y).data() + static_cast<size_t>(x) * 3;
    p[0] = static_cast<uint8_t>(color >> 16);
    p[1] = static_cast<uint8_t>(color >> 8);
    p[2] = static_cast<uint8_t>(color);
}

// A raster from rows of letters; each letter is a colour ('a' = 0x000001, ...).
Raster FromRows(const std::vector<std::string>& rows, Raster::RowOrder order = Raster::RowOrder::BottomUp) {
    Raster r(static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()), order);
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            PutPixel(r, static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<uint32_t>(rows[y][x] - 'a' + 1));
        }
    }
    return r;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<uint32_t, ColorRuns> ByColor(const Raster& r) {
    std::map<uint32_t, ColorRuns> out;
    for (const ColorRuns& c : CountRuns(r)) out[c.color] = c;
    return out;
}

// --- CountRuns ------------------------------------------------------------

struct RunCase {
    const char* name;
    std::vector<std::string> rows;
    std::map<char, uint64_t> runs;  // expected runs per letter
};

class CountRunsTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(CountRunsTest, CountsMaximalSequencesPerRow) {
    const RunCase& c = GetParam();
    const auto found = ByColor(FromRows(c.rows));
    ASSERT_EQ(found.size(), c.runs.size());
    uint64_t pixels = 0;
    for (const auto& [letter, runs] : c.runs) {
        const auto it = found.find(static_cast<uint32_t>(letter - 'a' + 1));
        ASSERT_NE(it, found.end()) << letter;
        EXPECT_EQ(it->second.runs, runs) << letter;
        pixels += it->second.pixels;
    }
    EXPECT_EQ(pixels, c.rows.size() * c.rows[0].size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CountRunsTest,
    ::testing::Values(RunCase{"single", {"a"}, {{'a', 1}}},
                      RunCase{"uniformRow", {"aaaaaaa"}, {{'a', 1}}},
                      RunCase{"alternating", {"ababa"}, {{'a', 3}, {'b', 2}}},
                      RunCase{"runEndsInLastColumn", {"abbb"}, {{'a', 1}, {'b', 1}}},
                      RunCase{"lonePixelInLastColumn", {"aaab"}, {{'a', 1}, {'b', 1}}},
                      // A run never continues into the next row.
                      RunCase{"rowsDoNotJoin", {"aab", "baa"}, {{'a', 2}, {'b', 2}}},
                      RunCase{"threeColours", {"abcabc", "cccaaa"}, {{'a', 3}, {'b', 2}, {'c', 3}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CountRuns, OrdersByRunsThenColour) {
    // c: 3 runs; a and b: 2 runs each (a is the lower value); d: 1 run.
    const auto runs = CountRuns(FromRows({"cacbcbad"}));
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].color, 3u);
    EXPECT_EQ(runs[1].color, 1u);
    EXPECT_EQ(runs[2].color, 2u);
    EXPECT_EQ(runs[3].color, 4u);
}

// --- BMP writer -------------------------------------------------------------

struct HeaderCase {
    int32_t width, height;
    uint32_t stride;
};

class BitmapHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(BitmapHeaderTest, DescribesA24BitBottomUpPicture) {
    const auto [w, h, stride] = GetParam();
    const std::vector<uint8_t> b = BitmapHeader(w, h, 47244);
    ASSERT_EQ(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Le32(b, 2), 54 + stride * static_cast<uint32_t>(h));
    EXPECT_EQ(Le32(b, 10), 54u);
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(static_cast<int32_t>(Le32(b, 18)), w);
    EXPECT_EQ(static_cast<int32_t>(Le32(b, 22)), h);  // positive height: bottom-up
    EXPECT_EQ(b[26] | b[27] << 8, 1);
    EXPECT_EQ(b[28] | b[29] << 8, 24);
    EXPECT_EQ(Le32(b, 30), 0u);
    EXPECT_EQ(Le32(b, 34), stride * static_cast<uint32_t>(h));
    EXPECT_EQ(Le32(b, 38), 47244u);
    EXPECT_EQ(Le32(b, 42), 47244u);
}

INSTANTIATE_TEST_SUITE_P(Widths, BitmapHeaderTest,
                         ::testing::Values(HeaderCase{1, 1, 4}, HeaderCase{2, 3, 8}, HeaderCase{3, 2, 12},
                                           HeaderCase{4, 5, 12}, HeaderCase{5, 1, 16}, HeaderCase{2362, 2, 7088},
                                           HeaderCase{10200, 1, 30600}));

// A test writing one BMP file, removed afterwards.
class BmpFileTest : public ::testing::Test {
protected:
    void TearDown() override { std::remove(path_.c_str()); }
    std::string path_ = ::testing::TempDir() + "boardgen_" + std::to_string(getpid()) + ".bmp";
};

class WriteBitmapFileTest : public BmpFileTest, public ::testing::WithParamInterface<Raster::RowOrder> {};

TEST_P(WriteBitmapFileTest, WritesRowsBottomUpWithZeroPadding) {
    // Width 5: 15 pixel bytes and 1 padding byte per row.
    Raster r = FromRows({"abcde", "fghij", "klmno"}, GetParam());
    // Dirty the raster's own padding: the writer must not copy it.
    for (int32_t s = 0; s < r.Height(); ++s) r.StorageRow(s)[15] = 0xEE;
    WriteBitmapFile(r, path_);
    const std::vector<uint8_t> b = ReadAll(path_);
    ASSERT_EQ(b.size(), 54u + 3 * 16);
    for (int32_t y = 0; y < 3; ++y) {
        const size_t row = 54 + static_cast<size_t>(2 - y) * 16;  // the file's first row is the bottom one
        for (int32_t x = 0; x < 5; ++x) {
            const uint8_t* p = b.data() + row + static_cast<size_t>(x) * 3;
            EXPECT_EQ(PackColor(p), r.PixelColor(x, y)) << x << "," << y;
        }
        EXPECT_EQ(b[row + 15], 0) << "padding of row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, WriteBitmapFileTest,
                         ::testing::Values(Raster::RowOrder::BottomUp, Raster::RowOrder::TopDown));

// What the converter's own reader makes of a written board is the board.
TEST_F(BmpFileTest, BoardReadsBackThroughTheBmpReader) {
    const Raster board = GenerateBoard({301, 203, 4, true, 200});  // odd width: padded rows
    WriteBitmapFile(board, path_, 7874);
    const Raster back = ReadBitmapFile(path_);
    ASSERT_EQ(back.Width(), 301);
    ASSERT_EQ(back.Height(), 203);
    for (int32_t y = 0; y < board.Height(); ++y) {
        ASSERT_EQ(std::memcmp(back.RowBytes(y).data(), board.RowBytes(y).data(), board.RowBytes(y).size()), 0)
            << "row " << y;
    }
}

TEST(WriteBitmapFile, FailsWithTheSystemTextWhenTheFileCannotBeCreated) {
    const Raster r = FromRows({"a"});
    const std::string path = "/nonexistent-dir-rastrace/x.bmp";
    try {
        WriteBitmapFile(r, path);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file \"" + path + "\". No such file or directory").c_str());
    }
}

// --- The board ----------------------------------------------------------------

bool SamePixels(const Raster& a, const Raster& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int32_t y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.RowBytes(y).data(), b.RowBytes(y).data(), a.RowBytes(y).size()) != 0) return false;
    }
    return true;
}

class BoardTest : public ::testing::TestWithParam<bool> {};

TEST_P(BoardTest, IsAFunctionOfItsOptions) {
    const BoardOptions options{900, 700, 7, GetParam(), 300};
    EXPECT_TRUE(SamePixels(GenerateBoard(options), GenerateBoard(options)));
    BoardOptions other = options;
    other.seed = 8;
    EXPECT_FALSE(SamePixels(GenerateBoard(options), GenerateBoard(other)));
}

INSTANTIATE_TEST_SUITE_P(Noise, BoardTest, ::testing::Bool());

TEST(Board, CleanBoardHoldsTheWholePaletteAndNothingElse) {
    const auto colours = ByColor(GenerateBoard({1200, 900, 3, false, 300}));
    for (const auto& [color, runs] : colours) EXPECT_FALSE(PaletteName(color).empty()) << std::hex << color;
    for (uint32_t c : {kSubstrateColor, kCopperColor, kCopper2Color, kHoleColor, kSilkWhiteColor, kSilkYellowColor}) {
        EXPECT_TRUE(colours.count(c)) << PaletteName(c);
    }
}

TEST(Board, NoiseAddsAboutAFifthMoreCopperRunsAndManyColours) {
    BoardOptions options{3000, 2400, 5, false, 1200};
    const auto clean = ByColor(GenerateBoard(options));
    options.noise = true;
    const auto noisy = ByColor(GenerateBoard(options));
    const double ratio =
        static_cast<double>(noisy.at(kCopperColor).runs) / static_cast<double>(clean.at(kCopperColor).runs);
    EXPECT_GT(ratio, 1.10);
    EXPECT_LT(ratio, 1.35);
    EXPECT_GT(noisy.size(), 1000u);
}

TEST(Board, A4At1200DpiHasAboutHalfAMillionCopperRuns) {
    const BoardOptions options{10200, 14040, 1, false, 0};
    EXPECT_DOUBLE_EQ(EffectiveDpi(options), 1200.0);
    const auto colours = ByColor(GenerateBoard(options));
    EXPECT_GT(colours.at(kCopperColor).runs, 400000u);
    EXPECT_LT(colours.at(kCopperColor).runs, 650000u);
}

// Pictures smaller than one feature: every shape is clipped, nothing else.
class TinyBoardTest : public ::testing::TestWithParam<std::pair<int32_t, int32_t>> {};

TEST_P(TinyBoardTest, ClipsEveryShape) {
    const auto [w, h] = GetParam();
    for (const bool noise : {false, true}) {
        const Raster r = GenerateBoard({w, h, 1, noise, 0});
        EXPECT_EQ(r.Width(), w);
        EXPECT_EQ(r.Height(), h);
        uint64_t pixels = 0;
        for (const ColorRuns& c : CountRuns(r)) pixels += c.pixels;
        EXPECT_EQ(pixels, static_cast<uint64_t>(w) * static_cast<uint64_t>(h));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, TinyBoardTest,
                         ::testing::Values(std::pair{1, 1}, std::pair{2, 1}, std::pair{1, 2}, std::pair{7, 3},
                                           std::pair{1, 500}, std::pair{500, 1}));

}  // namespace
}  // namespace rastrace::bench
