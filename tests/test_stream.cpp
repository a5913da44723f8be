// SPDX-License-Identifier: GPL-3.0-or-later
// The streaming conversion against the whole-picture job: for random
// pictures of every depth the bitmap reader reads, both row orders, every
// mirror, both formats and the tolerance rule, the text must be the same
// bytes. Also: a file that shrinks or changes while it is read.
#include "common/Error.h"
#include "formats/AreaOutput.h"
#include "job/ConversionJob.h"
#include "job/SimpleOwner.h"
#include "job/StreamConversion.h"
#include "raster/Mirror.h"
#include "raster/PictureReader.h"
#include "raster/PictureRows.h"
#include "trace/ColorCount.h"
#include "trace/RowTracer.h"
#include "support/BmpBuilder.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sstream>

namespace rastrace {
namespace {

using test::BmpBuilder;
using test::TempDir;

struct Depth {
    unsigned bits;
    bool bitFields;
};

// A random BMP of a few colours in long and short runs.
std::vector<uint8_t> RandomBmp(std::mt19937& rng, Depth depth, bool topDown, int32_t width, int32_t height) {
    BmpBuilder b;
    b.width = width;
    b.height = topDown ? -height : height;
    b.bitCount = static_cast<uint16_t>(depth.bits);
    std::vector<uint32_t> values;
    if (depth.bits <= 8) {
        const uint32_t entries = 1u << std::min(depth.bits, 3u);
        for (uint32_t i = 0; i < entries; ++i) b.palette.push_back(rng() & 0xFFFFFF);
        b.clrUsed = entries;
        b.palette[1] = b.palette[0] ^ 0x000001;  // a near miss of entry 0
        for (uint32_t i = 0; i < entries; ++i) values.push_back(i);
    } else {
        for (int i = 0; i < 5; ++i) values.push_back(rng() & (depth.bits == 16 ? 0xFFFF : 0xFFFFFF));
        values[1] = values[0] ^ 1;
    }
    if (depth.bitFields) {
        b.compression = 3;
        b.masks = depth.bits == 16 ? std::array<uint32_t, 4>{0xF800, 0x07E0, 0x001F, 0}
                                   : std::array<uint32_t, 4>{0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    }
    std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(height));
    for (auto& row : rows) {
        while (row.size() < static_cast<size_t>(width)) {
            const uint32_t v = values[rng() % values.size()];
            const size_t run = 1 + rng() % (rng() % 4 == 0 ? 20 : 3);
            for (size_t i = 0; i < run && row.size() < static_cast<size_t>(width); ++i) row.push_back(v);
        }
    }
    b.pixels = test::PackRows(rows, depth.bits);
    return b.Build();
}

// The picture read whole and mirrored in the order given.
Picture MirroredPicture(const std::filesystem::path& file, const std::string& mirrors) {
    auto picture = ReadPictureFile(file.string());
    for (char m : mirrors) {
        if (m == 'h') MirrorHorizontal(picture.raster);
        if (m == 'v') MirrorVertical(picture.raster);
    }
    return picture;
}

// The same picture read by rows: each kind of mirror turns it over when
// given an odd number of times.
std::unique_ptr<PictureRows> MirroredPictureRows(const std::filesystem::path& file, const std::string& mirrors) {
    const bool h = std::count(mirrors.begin(), mirrors.end(), 'h') % 2 == 1;
    const bool v = std::count(mirrors.begin(), mirrors.end(), 'v') % 2 == 1;
    return MirroredRows(OpenPictureRows(file.string(), {}, v), h, v);
}

// The whole-picture job's text, records grouped by colour.
std::string JobText(const std::filesystem::path& file, const std::string& mirrors, const StreamRequest& request,
                    const std::filesystem::path& out) {
    auto picture = MirroredPicture(file, mirrors);
    SimpleOwner owner;
    ConversionJob job(owner, std::make_shared<const Raster>(std::move(picture.raster)));
    ConversionRequest r;
    r.format = request.format;
    r.outputPath = out.string();
    for (uint32_t c : request.colors) r.colorTexts.push_back(std::to_string(c));
    r.xresText = std::to_string(request.xres);
    r.yresText = std::to_string(request.yres);
    r.widthText = request.widthText;
    r.layerNumber = std::stoi(request.layerText);
    r.groupByColor = true;
    r.match = request.match;
    job.Start(r);
    job.RunToCompletion();
    EXPECT_FALSE(owner.Failure()) << *owner.Failure();
    return test::ReadBytes(out);
}

std::string StreamText(const std::filesystem::path& file, const std::string& mirrors, const StreamRequest& request,
                       std::vector<int64_t>* tracks = nullptr, int64_t* steps = nullptr) {
    auto rows = MirroredPictureRows(file, mirrors);
    std::string text;
    int64_t stepped = 0;
    auto found = ConvertRows(*rows, request, [&](std::string_view t) { text += t; }, [&](int64_t s) { stepped += s; });
    if (tracks != nullptr) *tracks = found;
    if (steps != nullptr) *steps = stepped;
    return text;
}

// The colours at a few pixels of the picture: colours that are there.
std::vector<uint32_t> ColorsOf(const std::filesystem::path& file, size_t count, std::mt19937& rng) {
    const Raster raster = ReadPictureFile(file.string()).raster;
    std::vector<uint32_t> colors;
    for (int tries = 0; colors.size() < count && tries < 100; ++tries) {
        const uint32_t c = raster.PixelColor(static_cast<int32_t>(rng() % static_cast<uint32_t>(raster.Width())),
                                             static_cast<int32_t>(rng() % static_cast<uint32_t>(raster.Height())));
        if (std::find(colors.begin(), colors.end(), c) == colors.end()) colors.push_back(c);
    }
    return colors;
}

struct MatchCase {
    const char* name;
    int32_t tolerance;
    int32_t despeckle;
    bool background;
};

constexpr Depth kDepths[] = {{1, false}, {4, false}, {8, false}, {16, false},
                             {16, true}, {24, false}, {32, false}, {32, true}};
constexpr MatchCase kMatches[] = {{"exact", 0, 0, false}, {"tolerance", 40, 0, true}, {"speckles", 30, 3, true}};
const char* const kMirrors[] = {"", "h", "v", "hv", "vhv"};

// Every depth, row order, mirror, format, colour count and matching rule,
// with every row kernel the machine has (one exact colour is scanned in
// the pixels or classified first, whichever the kernels make faster).
class StreamKernels : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { detail::matchKernels = GetParam(); }
    void TearDown() override { detail::matchKernels = detail::kAllMatchKernels; }
};

INSTANTIATE_TEST_SUITE_P(Kernels, StreamKernels, ::testing::Values(1, 2, 3, 4),
                         [](const ::testing::TestParamInfo<int>& info) { return "Level" + std::to_string(info.param); });

TEST_P(StreamKernels, WritesTheJobsBytesForRandomPictures) {
    std::mt19937 rng(20261209);
    TempDir dir;
    int cases = 0;
    for (const Depth depth : kDepths) {
        for (const bool topDown : {false, true}) {
            const auto width = static_cast<int32_t>(1 + rng() % 45);
            const auto height = static_cast<int32_t>(1 + rng() % 40);
            const auto file = dir.Path() / "p.bmp";
            test::WriteFile(file, RandomBmp(rng, depth, topDown, width, height));
            for (const char* mirrors : kMirrors) {
                for (const MatchCase& match : kMatches) {
                    StreamRequest request;
                    request.format = rng() % 2 == 0 ? OutputFormat::Pcb : OutputFormat::Asc;
                    request.colors = ColorsOf(file, 1 + rng() % 3, rng);
                    request.xres = 150 + static_cast<int32_t>(rng() % 1200);
                    request.yres = 150 + static_cast<int32_t>(rng() % 1200);
                    request.widthText = "8";
                    request.layerText = "6";
                    request.match.tolerance = match.tolerance;
                    request.match.despeckle = match.despeckle;
                    if (match.background) request.match.backgroundColors = ColorsOf(file, 1, rng);
                    request.threads = 1 + static_cast<int>(rng() % 3);
                    request.bandRows = 1 + static_cast<int32_t>(rng() % 7);
                    const std::string expected = JobText(file, mirrors, request, dir.Path() / "job.out");
                    ASSERT_EQ(StreamText(file, mirrors, request), expected)
                        << depth.bits << " bits" << (depth.bitFields ? " (bit fields)" : "") << ", "
                        << (topDown ? "top-down" : "bottom-up") << ", mirrors '" << mirrors << "', " << match.name
                        << ", " << width << " x " << height << ", " << request.threads << " workers, bands of "
                        << request.bandRows;
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, 8 * 2 * 5 * 3);
}

TEST(StreamConversion, CountsTracksAndStepsEveryColoursRows) {
    std::mt19937 rng(7);
    TempDir dir;
    const auto file = dir.Path() / "p.bmp";
    test::WriteFile(file, RandomBmp(rng, {24, false}, false, 30, 25));
    StreamRequest request;
    request.colors = ColorsOf(file, 3, rng);
    request.bandRows = 4;
    std::vector<int64_t> tracks;
    int64_t steps = 0;
    const std::string text = StreamText(file, "", request, &tracks, &steps);
    ASSERT_EQ(tracks.size(), 3u);
    size_t records = 0;
    for (size_t at = text.find("FT\r\n"); at != std::string::npos; at = text.find("FT\r\n", at + 1)) ++records;
    EXPECT_EQ(static_cast<int64_t>(records), tracks[0] + tracks[1] + tracks[2]);
    EXPECT_GT(tracks[2], 0);
    EXPECT_EQ(steps, 25 * 3);
}

// Run-length and cut-short bitmaps, read by rows (the rows they leave
// unset or lack worked on once), give the same text.
TEST(StreamConversion, RunLengthAndTruncatedBitmapsGiveTheJobsBytes) {
    TempDir dir;
    std::mt19937 rng(3);
    std::vector<std::vector<uint8_t>> rows(12, std::vector<uint8_t>(17));
    for (auto& row : rows) {
        for (auto& p : row) p = static_cast<uint8_t>(rng() % 3);
    }
    BmpBuilder rle;
    rle.width = 17;
    rle.height = 12;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.palette = {0x102030, 0x405060, 0x708090};
    rle.clrUsed = 3;
    rle.pixels = test::EncodeRunLength(rows, false, true);
    const auto rleFile = dir.Path() / "rle.bmp";
    test::WriteFile(rleFile, rle.Build());
    EXPECT_FALSE(OpenPictureRows(rleFile.string())->HoldsWholePicture());

    std::vector<uint8_t> cut = RandomBmp(rng, {24, false}, false, 21, 30);
    cut.resize(cut.size() - 21 * 3 * 11);  // the top rows are missing
    const auto cutFile = dir.Path() / "cut.bmp";
    test::WriteFile(cutFile, cut);
    EXPECT_TRUE(OpenPictureRows(cutFile.string())->Facts().truncated);
    EXPECT_FALSE(OpenPictureRows(cutFile.string())->HoldsWholePicture());

    for (const auto& file : {rleFile, cutFile}) {
        StreamRequest request;
        request.format = OutputFormat::Asc;
        request.colors = ColorsOf(file, 2, rng);
        if (std::find(request.colors.begin(), request.colors.end(), 0u) == request.colors.end()) {
            request.colors.push_back(0);  // the filled-in rows
        }
        request.bandRows = 5;
        for (const char* mirrors : kMirrors) {
            EXPECT_EQ(StreamText(file, mirrors, request), JobText(file, mirrors, request, dir.Path() / "job.out"))
                << file << " mirrors '" << mirrors << "'";
        }
    }
}

// A picture whose file is cut short, or rewritten, while it is read gives
// "Stream read error", never a crash or a complete-looking text.
TEST(StreamConversion, AFileThatShrinksOrChangesWhileReadIsAStreamReadError) {
    std::mt19937 rng(11);
    TempDir dir;
    const auto file = dir.Path() / "p.bmp";
    for (const bool shrink : {true, false}) {
        for (const bool topDown : {false, true}) {
            test::WriteFile(file, RandomBmp(rng, {24, false}, topDown, 40, 60));
            auto rows = OpenPictureRows(file.string());
            StreamRequest request;
            request.colors = ColorsOf(file, 1, rng);
            request.bandRows = 4;
            request.threads = 1;
            bool changed = false;
            std::string text;
            try {
                ConvertRows(*rows, request, [&](std::string_view t) { text += t; },
                            [&](int64_t) {
                                if (changed) return;
                                changed = true;
                                if (shrink) {
                                    ASSERT_EQ(::truncate(file.c_str(), 200), 0);
                                } else {
                                    // The same size, other bytes, a later time.
                                    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
                                    f.seekp(100);
                                    f.put('\x7F');
                                    f.close();
                                    timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
                                    struct stat st {};
                                    ::stat(file.c_str(), &st);
                                    times[1].tv_sec = st.st_mtim.tv_sec + 5;
                                    times[1].tv_nsec = 0;
                                    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
                                }
                            });
                FAIL() << "no error; shrink " << shrink;
            } catch (const std::exception& e) {
                EXPECT_STREQ(e.what(), "Stream read error");
            }
            EXPECT_EQ(text.find("ENDPCB"), std::string::npos);
        }
    }
}

// Exact matching takes any number of colours, as the job does: more than
// a class byte can tell apart still trace each colour as itself.
TEST(StreamConversion, MoreColoursThanAClassByteHoldsTraceEachColour) {
    TempDir dir;
    const auto file = dir.Path() / "many.bmp";
    std::vector<std::vector<uint32_t>> rows(6, std::vector<uint32_t>(600));
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) rows[y][x] = static_cast<uint32_t>((x / 2 + y * 7) % 300) * 0x5501u;
    }
    test::WriteFile(file, test::Bmp24FromPacked(rows));
    StreamRequest request;
    request.format = OutputFormat::Asc;
    for (uint32_t c = 0; c < 300; ++c) request.colors.push_back(c * 0x5501u);
    request.bandRows = 4;
    for (const int kernels : {1, 3}) {
        detail::matchKernels = kernels;
        std::vector<int64_t> tracks;
        EXPECT_EQ(StreamText(file, "", request, &tracks), JobText(file, "", request, dir.Path() / "job.out"))
            << "kernels " << kernels;
        EXPECT_GT(tracks[299], 0);
    }
    detail::matchKernels = detail::kAllMatchKernels;
}

// A write that fails stops the conversion with its error, whichever piece
// it was, and nothing is written after it.
TEST(StreamConversion, AFailedWriteEndsTheConversionWithItsError) {
    TempDir dir;
    const auto file = dir.Path() / "stripes.bmp";
    std::vector<std::vector<uint32_t>> rows(400, std::vector<uint32_t>(400));
    for (auto& row : rows) {
        for (size_t x = 0; x < row.size(); ++x) row[x] = x % 2 == 0 ? 0x0000FF : 0xFFFFFF;
    }
    test::WriteFile(file, test::Bmp24FromPacked(rows));  // 80,000 tracks: a few megabytes of text
    for (const int failAt : {0, 1, 2}) {
        auto picture = OpenPictureRows(file.string());
        StreamRequest request;
        request.colors = {0x0000FF, 0xFFFFFF};
        int pieces = 0;
        bool wroteAfter = false;
        try {
            ConvertRows(*picture, request, [&](std::string_view) {
                if (pieces > failAt) wroteAfter = true;
                if (pieces++ == failAt) throw std::runtime_error("Disk full");
            });
            FAIL() << "no error at piece " << failAt;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Disk full");
        }
        EXPECT_FALSE(wroteAfter) << failAt;
    }
}

// A bitmap that ends before its pixel data: rows of random pixels where the
// file holds them, cut at a random place (for run-length files also rows
// the stream skips with a delta and rows it never reaches). kind: a depth,
// or 8 / 4 bits with compression 1 / 2.
struct ShortKind {
    const char* name;
    Depth depth;
    uint32_t runLength;  // 0, 1 (RLE8) or 2 (RLE4)
};

std::vector<uint8_t> ShortBmp(std::mt19937& rng, const ShortKind& kind, bool topDown, int32_t width, int32_t height) {
    if (kind.runLength == 0) {
        std::vector<uint8_t> bytes = RandomBmp(rng, kind.depth, topDown, width, height);
        const size_t stride = (static_cast<size_t>(width) * kind.depth.bits + 31) / 32 * 4;
        const size_t body = stride * static_cast<size_t>(height);
        // At least two rows missing, at most all of them.
        const size_t cut = 2 * stride + rng() % (body - 2 * stride + 1);
        bytes.resize(bytes.size() - cut);
        return bytes;
    }
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bitCount = kind.runLength == 1 ? 8 : 4;
    b.compression = kind.runLength;
    b.palette = {0x102030, 0x405060, 0x708090};
    b.clrUsed = 3;
    const int32_t filled = std::min<int32_t>(height - 8, 1 + static_cast<int32_t>(rng() % 20));
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(filled), std::vector<uint8_t>(static_cast<size_t>(width)));
    for (auto& row : rows) {
        const bool blank = rng() % 4 == 0;  // a row of entry 0: an end of line alone
        for (auto& p : row) p = blank ? 0 : static_cast<uint8_t>(rng() % 3);
    }
    b.pixels = test::EncodeRunLength(rows, kind.runLength == 2, true);
    b.pixels.resize(b.pixels.size() - 2);  // no end of bitmap yet
    // Up 5 rows and right 3, two pixels of entry 1, then the stream ends.
    b.pixels.insert(b.pixels.end(), {0, 2, 3, 5, 2, static_cast<uint8_t>(kind.runLength == 2 ? 0x11 : 1)});
    b.pixels.resize(b.pixels.size() - rng() % (b.pixels.size() / 2));
    b.sizeImage = static_cast<uint32_t>(b.pixels.size() + 100);
    return b.Build();
}

constexpr ShortKind kShortKinds[] = {
    {"Bits1", {1, false}, 0},  {"Bits4", {4, false}, 0},  {"Bits8", {8, false}, 0},
    {"Bits16", {16, false}, 0}, {"BitFields16", {16, true}, 0}, {"Bits24", {24, false}, 0},
    {"Bits32", {32, false}, 0}, {"BitFields32", {32, true}, 0}, {"Rle8", {8, false}, 1},
    {"Rle4", {4, false}, 2}};

class ShortBitmaps : public ::testing::TestWithParam<ShortKind> {};

INSTANTIATE_TEST_SUITE_P(Kinds, ShortBitmaps, ::testing::ValuesIn(kShortKinds),
                         [](const ::testing::TestParamInfo<ShortKind>& info) { return std::string(info.param.name); });

// Read by rows, the rows a short file lacks are one row, repeated: the
// rows, colour counts, track and area texts are still the whole read's,
// through every mirror, in short and tall pictures (more rows alike than
// one repeated band holds).
TEST_P(ShortBitmaps, RepeatTheRowsTheyLackAndGiveTheWholeReadsBytes) {
    const ShortKind kind = GetParam();
    std::mt19937 rng(static_cast<uint32_t>(kind.depth.bits * 10 + kind.runLength + kind.depth.bitFields));
    TempDir dir;
    const auto file = dir.Path() / "p.bmp";
    for (const auto& [width, height] : {std::pair<int32_t, int32_t>{41, 30}, std::pair<int32_t, int32_t>{13, 4300}}) {
        for (const bool topDown : {false, true}) {
            if (topDown && kind.runLength != 0) continue;  // run-length files are bottom-up
            test::WriteFile(file, ShortBmp(rng, kind, topDown, width, height));
            for (const char* mirrors : {"", "v", "hv"}) {
                const std::string what = std::string(topDown ? "top-down" : "bottom-up") + ", " +
                                         std::to_string(width) + " x " + std::to_string(height) + ", mirrors '" +
                                         mirrors + "'";
                const Picture picture = MirroredPicture(file, mirrors);
                ASSERT_TRUE(picture.truncated) << what;
                auto rows = MirroredPictureRows(file, mirrors);
                ASSERT_FALSE(rows->HoldsWholePicture()) << what;
                ASSERT_TRUE(rows->Facts().truncated) << what;

                // Every row is the whole read's; rows said to be alike are.
                std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
                int32_t repeated = 0;
                for (int32_t y = 0; y < height; ++y) {
                    rows->ReadRows(y, 1, row.data(), static_cast<ptrdiff_t>(row.size()));
                    const auto expected = picture.raster.RowBytes(y);
                    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), row.begin())) << what << ", row " << y;
                    const RowRange same = rows->SameRowsAs(y);
                    ASSERT_TRUE(same.first <= y && y < same.end && same.first >= 0 && same.end <= height) << what;
                    const auto first = picture.raster.RowBytes(same.first);
                    ASSERT_TRUE(std::equal(first.begin(), first.end(), expected.begin())) << what << ", row " << y;
                    repeated += same.end - same.first > 1;
                }
                EXPECT_GT(repeated, 0) << what;

                const std::vector<ColorCount> expectedCounts = CountColors(picture.raster);
                const std::vector<ColorCount> counts = CountColors(*rows, 2);
                ASSERT_EQ(counts.size(), expectedCounts.size()) << what;
                for (size_t i = 0; i < counts.size(); ++i) {
                    EXPECT_EQ(counts[i].color, expectedCounts[i].color) << what;
                    EXPECT_EQ(counts[i].pixels, expectedCounts[i].pixels) << what;
                }

                // The made-up row's colour and a few others.
                std::vector<uint32_t> colors = ColorsOf(file, 2, rng);
                for (const int32_t y : {0, height - 1}) {
                    const uint32_t c = picture.raster.PixelColor(0, y);
                    if (std::find(colors.begin(), colors.end(), c) == colors.end()) colors.push_back(c);
                }
                for (const MatchCase& match : kMatches) {
                    StreamRequest request;
                    request.format = rng() % 2 == 0 ? OutputFormat::Pcb : OutputFormat::Asc;
                    request.colors = colors;
                    request.match.tolerance = match.tolerance;
                    request.match.despeckle = match.despeckle;
                    request.bandRows = 1 + static_cast<int32_t>(rng() % 9);
                    EXPECT_EQ(StreamText(file, mirrors, request), JobText(file, mirrors, request, dir.Path() / "job.out"))
                        << what << ", " << match.name;

                    AreaOptions area;
                    area.format = rng() % 2 == 0 ? AreaFormat::Gerber : AreaFormat::KiCad;
                    area.width = width;
                    area.height = height;
                    std::string expected, streamed;
                    WriteArea(area, MatchedCopperRows(picture.raster, colors, request.match),
                              [&](std::string_view t) { expected += t; });
                    auto areaRows = MirroredPictureRows(file, mirrors);
                    WriteArea(area, MatchedCopperRows(*areaRows, colors, request.match),
                              [&](std::string_view t) { streamed += t; });
                    EXPECT_EQ(streamed, expected) << what << ", " << match.name;
                }
            }
        }
    }
}

// Rows read band by band, in any order and through the mirrors, are the
// whole reader's rows.
TEST(PictureRows, BandsInAnyOrderAreTheWholeReadersRows) {
    std::mt19937 rng(5);
    TempDir dir;
    const auto file = dir.Path() / "p.bmp";
    for (const Depth depth : kDepths) {
        for (const bool topDown : {false, true}) {
            test::WriteFile(file, RandomBmp(rng, depth, topDown, 23, 19));
            const Raster whole = ReadPictureFile(file.string()).raster;
            auto rows = OpenPictureRows(file.string());
            ASSERT_FALSE(rows->HoldsWholePicture());
            ASSERT_TRUE(rows->AnyOrder());
            for (const ptrdiff_t stride : {ptrdiff_t{23 * 3}, rows->NaturalStride(), ptrdiff_t{-80}}) {
                std::vector<uint8_t> buffer(5 * 80);
                for (int32_t first : {14, 0, 7, 18}) {
                    const int32_t count = std::min(5, 19 - first);
                    uint8_t* base = stride < 0 ? buffer.data() + (count - 1) * -stride : buffer.data();
                    rows->ReadRows(first, count, base, stride);
                    for (int32_t i = 0; i < count; ++i) {
                        const auto expected = whole.RowBytes(first + i);
                        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), base + i * stride))
                            << depth.bits << " bits, row " << first + i << ", stride " << stride;
                    }
                }
            }
        }
    }
}

// Colours counted band by band, through the mirrors, are the whole
// picture's counts in the same order of first appearance.
TEST(ColorCounter, CountsRowsAsTheWholePictureCount) {
    std::mt19937 rng(9);
    TempDir dir;
    const auto file = dir.Path() / "p.bmp";
    test::WriteFile(file, RandomBmp(rng, {8, false}, false, 31, 27));
    for (const char* mirrors : kMirrors) {
        const Picture picture = MirroredPicture(file, mirrors);
        auto rows = MirroredPictureRows(file, mirrors);
        ColorCounter counter;
        std::vector<uint8_t> row(31 * 3);
        for (int32_t y = 0; y < rows->Height(); ++y) {
            rows->ReadRows(y, 1, row.data(), 31 * 3);
            counter.AddRow(row.data(), 31);
        }
        const std::vector<ColorCount> expected = CountColors(picture.raster);
        const std::vector<ColorCount> counted = counter.Take();
        ASSERT_EQ(counted.size(), expected.size()) << mirrors;
        for (size_t i = 0; i < counted.size(); ++i) {
            EXPECT_EQ(counted[i].color, expected[i].color) << mirrors;
            EXPECT_EQ(counted[i].pixels, expected[i].pixels) << mirrors;
        }
    }
}

// Bands counted on several workers, each in a table of its own, and merged
// at the end: the whole picture's counts in its order of first appearance,
// for a noisy picture of thousands of colours, some first met late.
TEST(ColorCounter, BandsOnSeveralWorkersMergeInOrderOfFirstAppearance) {
    std::mt19937 rng(17);
    Picture picture;
    picture.raster = Raster(97, 61);
    for (int32_t y = 0; y < 61; ++y) {
        uint8_t* row = picture.raster.RowBytes(y).data();
        for (int32_t x = 0; x < 97; ++x) {
            // Runs of a few colours, and noise whose range widens downwards.
            const uint32_t c = rng() % 3 == 0 ? rng() % (50u + 200u * static_cast<uint32_t>(y)) : (x / 7) % 4;
            row[3 * x] = static_cast<uint8_t>(c);
            row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(y % 2);
        }
    }
    // Counted pixel by pixel, apart from the counter.
    std::vector<ColorCount> expected;
    for (int32_t y = 0; y < 61; ++y) {
        for (int32_t x = 0; x < 97; ++x) {
            const uint32_t c = picture.raster.PixelColor(x, y);
            auto at = std::find_if(expected.begin(), expected.end(), [c](const ColorCount& e) { return e.color == c; });
            if (at == expected.end()) at = expected.insert(expected.end(), ColorCount{c, 0});
            ++at->pixels;
        }
    }
    ASSERT_GT(expected.size(), 1000u);
    auto rows = RasterRows(std::move(picture));
    for (const int threads : {1, 2, 3}) {
        for (const int32_t bandRows : {1, 4, 61}) {
            int32_t stepped = 0;
            const std::vector<ColorCount> counts = CountColors(*rows, threads, [&](int32_t n) { stepped += n; }, bandRows);
            ASSERT_EQ(counts.size(), expected.size()) << threads << " workers, bands of " << bandRows;
            for (size_t i = 0; i < counts.size(); ++i) {
                ASSERT_EQ(counts[i].color, expected[i].color) << i << ", " << threads << " workers, bands of " << bandRows;
                ASSERT_EQ(counts[i].pixels, expected[i].pixels) << i;
            }
            EXPECT_EQ(stepped, 61);
        }
    }
}

// Gerber and KiCad text from a picture read by rows is the text from the
// picture in memory, for every matching rule and mirror.
// Rows handed on as they become final are let go of: a picture whose
// class runs would not all fit the memory limit is classified in it, and
// holding them all is "Out of memory".
TEST(ClassifyRows, RowsHandedOnNeedOnlyTheirWindowsMemory) {
    Picture picture;
    picture.raster = Raster(64, 2000);
    for (int32_t y = 0; y < 2000; ++y) {
        uint8_t* row = picture.raster.RowBytes(y).data();
        for (int32_t x = 0; x < 64; ++x) std::memset(row + 3 * x, (x / 2 + y / 2) % 2 ? 0xFF : 0, 3);  // 2 x 2 squares
    }
    const std::vector<uint32_t> copper = {0xFFFFFF};
    MatchOptions options;
    options.tolerance = 10;
    options.despeckle = 5;                  // every square is a speck
    options.memoryLimit = 2000 * 32 * 25 / 4;  // a quarter of the picture's runs
    auto rows = RasterRows(std::move(picture));
    int32_t handed = 0;
    int64_t copperRuns = 0;
    ClassifyRows(*rows, copper, options, 2, 16, [&](const ClassRuns& runs, int32_t first, int32_t end) {
        EXPECT_EQ(first, handed);
        handed = end;
        for (int32_t y = first; y < end; ++y) {
            for (const ClassRun& run : runs.Row(y)) copperRuns += run.cls != 0;
        }
    });
    EXPECT_EQ(handed, 2000);
    EXPECT_EQ(copperRuns, 0);  // all dropped
    // What was matched before, over every band of both workers.
    std::vector<uint64_t> matched;
    ClassifyRows(*rows, copper, options, 2, 16, [](const ClassRuns&, int32_t, int32_t) {}, &matched);
    EXPECT_EQ(matched, std::vector<uint64_t>{64 * 2000 / 2});
    try {
        ClassifyRows(*rows, copper, options, 2, 16);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
}

TEST(StreamConversion, AreaOutputsFromRowsAreTheWholePicturesText) {
    std::mt19937 rng(13);
    TempDir dir;
    const auto file = dir.Path() / "p.bmp";
    for (const Depth depth : {Depth{8, false}, Depth{24, false}}) {
        for (const bool topDown : {false, true}) {
            test::WriteFile(file, RandomBmp(rng, depth, topDown, 37, 33));
            for (const char* mirrors : kMirrors) {
                for (const MatchCase& match : kMatches) {
                    MatchOptions options;
                    options.tolerance = match.tolerance;
                    options.despeckle = match.despeckle;
                    if (match.background) options.backgroundColors = ColorsOf(file, 1, rng);
                    const std::vector<uint32_t> colors = ColorsOf(file, 1 + rng() % 3, rng);
                    AreaOptions area;
                    area.format = rng() % 2 == 0 ? AreaFormat::Gerber : AreaFormat::KiCad;
                    area.width = 37;
                    area.height = 33;

                    const Picture picture = MirroredPicture(file, mirrors);
                    std::string expected;
                    WriteArea(area, MatchedCopperRows(picture.raster, colors, options),
                              [&](std::string_view t) { expected += t; });

                    auto rows = MirroredPictureRows(file, mirrors);
                    std::string streamed;
                    WriteArea(area, MatchedCopperRows(*rows, colors, options),
                              [&](std::string_view t) { streamed += t; });
                    ASSERT_EQ(streamed, expected) << depth.bits << " bits, mirrors '" << mirrors << "', " << match.name;
                }
            }
        }
    }
}

}  // namespace
}  // namespace rastrace
