// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Error.h"
#include "common/FileHandle.h"
#include "common/SystemMemory.h"
#include "raster/BmpReader.h"
#include "support/BmpBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

using namespace rastrace;
using rastrace::test::BmpBuilder;
using rastrace::test::EncodeRunLength;
using rastrace::test::PackRows;
using rastrace::test::TempDir;
using rastrace::test::WriteFile;

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

// The packed colour 0x00BBGGRR that PixelColor gives for a 0x00RRGGBB colour.
uint32_t Packed(uint32_t rgb) { return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); }

// A picture as palette indices, top row first. Its colours use only channel
// values that 5- and 6-bit channels widen back to exactly, so every encoding
// can hold them.
struct Picture {
    std::string name;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint32_t> colours;  // 0x00RRGGBB by index
    int32_t Width() const { return static_cast<int32_t>(rows[0].size()); }
    int32_t Height() const { return static_cast<int32_t>(rows.size()); }
};

// 5 x 3, twelve colours: index 0 inside a row and at the end of a row (an
// RLE writer may skip both), a run of three, and a row of five different.
Picture Sampler() {
    return {"Sampler",
            {{1, 2, 3, 3, 3}, {4, 0, 5, 6, 0}, {7, 8, 9, 10, 11}},
            {Rgb(16, 49, 206), Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255), Rgb(255, 255, 255), Rgb(8, 16, 49),
             Rgb(206, 239, 247), Rgb(247, 8, 239), Rgb(49, 206, 16), Rgb(239, 247, 8), Rgb(0, 0, 0),
             Rgb(255, 206, 49)}};
}

// 5 x 3 in two colours, for the 1-bit encodings as well.
Picture TwoTone() {
    return {"TwoTone", {{0, 1, 1, 0, 1}, {1, 0, 0, 0, 1}, {1, 1, 0, 1, 0}}, {Rgb(0, 0, 0), Rgb(255, 255, 255)}};
}

// The picture's rows in storage order (bottom row first unless top-down),
// each pixel mapped through value.
std::vector<std::vector<uint32_t>> StoredRows(const Picture& p, bool topDown,
                                              const std::function<uint32_t(uint32_t rgb, uint8_t index)>& value) {
    std::vector<std::vector<uint32_t>> out;
    for (int32_t s = 0; s < p.Height(); ++s) {
        const auto& row = p.rows[static_cast<size_t>(topDown ? s : p.Height() - 1 - s)];
        std::vector<uint32_t> values;
        for (const uint8_t index : row) values.push_back(value(p.colours[index], index));
        out.push_back(values);
    }
    return out;
}

uint32_t IndexOf(uint32_t, uint8_t index) { return index; }
uint32_t ColourOf(uint32_t rgb, uint8_t) { return rgb; }

// A channel of 8 bits narrowed to n bits, rounded to nearest.
uint32_t Narrow(uint32_t c, int n) { return (c * ((1u << n) - 1) + 127) / 255; }
uint32_t To555(uint32_t rgb, uint8_t) {
    return Narrow(rgb >> 16 & 0xFF, 5) << 10 | Narrow(rgb >> 8 & 0xFF, 5) << 5 | Narrow(rgb & 0xFF, 5);
}
uint32_t To565(uint32_t rgb, uint8_t) {
    return Narrow(rgb >> 16 & 0xFF, 5) << 11 | Narrow(rgb >> 8 & 0xFF, 6) << 5 | Narrow(rgb & 0xFF, 5);
}

BmpBuilder Paletted(const Picture& p, uint32_t headerSize, uint16_t bitCount, bool topDown = false) {
    BmpBuilder b;
    b.headerSize = headerSize;
    b.width = p.Width();
    b.height = topDown ? -p.Height() : p.Height();
    b.bitCount = bitCount;
    b.palette = p.colours;
    if (headerSize == 12) {
        b.palette.resize(size_t{1} << bitCount, Rgb(1, 2, 3));  // a core table is always full
    } else {
        b.clrUsed = static_cast<uint32_t>(p.colours.size());
    }
    b.pixels = PackRows(StoredRows(p, topDown, IndexOf), bitCount);
    return b;
}

BmpBuilder Direct(const Picture& p, uint16_t bitCount, bool topDown,
                  const std::function<uint32_t(uint32_t, uint8_t)>& value) {
    BmpBuilder b;
    b.width = p.Width();
    b.height = topDown ? -p.Height() : p.Height();
    b.bitCount = bitCount;
    b.pixels = PackRows(StoredRows(p, topDown, value), bitCount);
    return b;
}

BmpBuilder RunLength(const Picture& p, bool fourBit) {
    BmpBuilder b = Paletted(p, 40, fourBit ? 4 : 8);
    b.compression = fourBit ? 2 : 1;
    std::vector<std::vector<uint8_t>> bottomUp(p.rows.rbegin(), p.rows.rend());
    b.pixels = EncodeRunLength(bottomUp, fourBit, /*skipIndexZero=*/true);
    b.sizeImage = static_cast<uint32_t>(b.pixels.size());
    return b;
}

struct Encoding {
    std::string name;
    size_t capacity;  // most colours it can hold
    std::function<BmpBuilder(const Picture&)> make;
};

std::vector<Encoding> Encodings() {
    auto withHeader = [](uint32_t size) { return [size](const Picture& p) { return Paletted(p, size, 8); }; };
    return {
        {"Pal8Info40", 256, withHeader(40)},
        {"Pal8Core12", 256, withHeader(12)},
        {"Pal8Info52", 256, withHeader(52)},
        {"Pal8Info56", 256, withHeader(56)},
        {"Pal8Info108", 256, withHeader(108)},
        {"Pal8Info124", 256, withHeader(124)},
        {"Pal8TopDown", 256, [](const Picture& p) { return Paletted(p, 40, 8, true); }},
        {"Pal4", 16, [](const Picture& p) { return Paletted(p, 40, 4); }},
        {"Pal4TopDown", 16, [](const Picture& p) { return Paletted(p, 40, 4, true); }},
        {"Pal1", 2, [](const Picture& p) { return Paletted(p, 40, 1); }},
        {"Pal1Core12", 2, [](const Picture& p) { return Paletted(p, 12, 1); }},
        {"Rgb16Default555", 1u << 15, [](const Picture& p) { return Direct(p, 16, false, To555); }},
        {"Rgb16BitFields565", 1u << 16,
         [](const Picture& p) {
             BmpBuilder b = Direct(p, 16, false, To565);
             b.compression = 3;
             b.masks = {{0xF800, 0x07E0, 0x001F, 0}};
             return b;
         }},
        {"Rgb16BitFields565InV5Header", 1u << 16,
         [](const Picture& p) {
             BmpBuilder b = Direct(p, 16, true, To565);
             b.headerSize = 124;
             b.compression = 3;
             b.masks = {{0xF800, 0x07E0, 0x001F, 0}};
             return b;
         }},
        {"Rgb24", 1u << 24, [](const Picture& p) { return Direct(p, 24, false, ColourOf); }},
        {"Rgb24TopDown", 1u << 24, [](const Picture& p) { return Direct(p, 24, true, ColourOf); }},
        {"Rgb32Default", 1u << 24,
         [](const Picture& p) {
             // The fourth byte is ignored: fill it with something.
             return Direct(p, 32, false, [](uint32_t rgb, uint8_t) { return rgb | 0xAB000000u; });
         }},
        {"Rgb32BitFieldsReversed", 1u << 24,
         [](const Picture& p) {
             BmpBuilder b = Direct(p, 32, false, [](uint32_t rgb, uint8_t) {
                 return (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
             });
             b.compression = 3;
             b.masks = {{0x000000FF, 0x0000FF00, 0x00FF0000, 0}};
             return b;
         }},
        {"Rgb32BitFieldsHighInV2Header", 1u << 24,
         [](const Picture& p) {
             BmpBuilder b = Direct(p, 32, false, [](uint32_t rgb, uint8_t) { return rgb << 8 | 0x5A; });
             b.headerSize = 52;
             b.compression = 3;
             b.masks = {{0xFF000000, 0x00FF0000, 0x0000FF00, 0}};
             return b;
         }},
        {"Rle8", 256, [](const Picture& p) { return RunLength(p, false); }},
        {"Rle4", 16, [](const Picture& p) { return RunLength(p, true); }},
    };
}

struct EncodedPicture {
    Encoding encoding;
    Picture picture;
};

void PrintTo(const EncodedPicture& p, std::ostream* os) { *os << p.encoding.name << " " << p.picture.name; }

std::vector<EncodedPicture> EncodedPictures() {
    std::vector<EncodedPicture> out;
    for (const Encoding& e : Encodings()) {
        for (const Picture& p : {Sampler(), TwoTone()}) {
            if (p.colours.size() <= e.capacity) out.push_back({e, p});
        }
    }
    return out;
}

void ExpectPicture(const Raster& r, const Picture& p) {
    ASSERT_EQ(r.Width(), p.Width());
    ASSERT_EQ(r.Height(), p.Height());
    for (int32_t y = 0; y < p.Height(); ++y) {
        for (int32_t x = 0; x < p.Width(); ++x) {
            EXPECT_EQ(r.PixelColor(x, y), Packed(p.colours[p.rows[static_cast<size_t>(y)][static_cast<size_t>(x)]]))
                << "pixel " << x << "," << y;
        }
    }
}

Raster FromMemory(const std::vector<uint8_t>& bytes, const ReadLimits& limits = {}) {
    return std::move(LoadBitmapMemory(bytes, limits).raster);
}

// The message of the Error that loading bytes throws, or "" when it loads.
std::string LoadMessage(const std::vector<uint8_t>& bytes, const ReadLimits& limits = {}) {
    try {
        FromMemory(bytes, limits);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// The message of the Error that loading the file at path throws, or "".
std::string LoadMessageOfFile(const std::string& path, const ReadLimits& limits) {
    try {
        ReadBitmapFile(path, limits);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// A load that may take at most bytes of memory.
ReadLimits MemoryLimit(uint64_t bytes) {
    ReadLimits limits;
    limits.memory = bytes;
    return limits;
}

}  // namespace

// ---------------------------------------------------------------------------
// One picture in every encoding decodes to the same 24-bit pixels.

class EveryEncoding : public ::testing::TestWithParam<EncodedPicture> {};

TEST_P(EveryEncoding, DecodesToTheSamePixels) {
    const auto& [encoding, picture] = GetParam();
    const std::vector<uint8_t> bytes = encoding.make(picture).Build();
    ExpectPicture(FromMemory(bytes), picture);

    TempDir dir;
    const auto path = dir.Path() / "picture.bmp";
    WriteFile(path, bytes);
    ExpectPicture(ReadBitmapFile(path.string()), picture);

    // Sampled to a side no smaller than the picture: the same pixels.
    ReadLimits preview;
    preview.sampleSide = 64;
    ExpectPicture(ReadBitmapFile(path.string(), preview), picture);
}

INSTANTIATE_TEST_SUITE_P(BmpReader, EveryEncoding, ::testing::ValuesIn(EncodedPictures()),
                         [](const ::testing::TestParamInfo<EncodedPicture>& info) {
                             return info.param.encoding.name + "_" + info.param.picture.name;
                         });

// ---------------------------------------------------------------------------
// 24-bit files are kept exactly as stored.

namespace {

// 3 x 2, 24 bits: every pixel byte and every padding byte is distinct, so
// any byte out of place shows.
std::vector<uint8_t> ThreeByTwoBody() {
    std::vector<uint8_t> body(24);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(0x10 + i * 7);
    return body;
}

BmpBuilder ThreeByTwo(bool topDown) {
    BmpBuilder b;
    b.width = 3;
    b.height = topDown ? -2 : 2;
    b.pixels = ThreeByTwoBody();
    if (topDown) {  // the same picture, rows stored the other way round
        std::rotate(b.pixels.begin(), b.pixels.begin() + 12, b.pixels.end());
    }
    return b;
}

}  // namespace

TEST(BmpReader, BottomUp24BitRowsAreTheFilesOwnBytes) {
    const BmpBuilder b = ThreeByTwo(false);
    const Raster r = FromMemory(b.Build());
    ASSERT_EQ(r.Width(), 3);
    ASSERT_EQ(r.Height(), 2);
    EXPECT_EQ(r.Stride(), 12u);
    EXPECT_EQ(r.Order(), Raster::RowOrder::BottomUp);
    const auto row0 = r.RowBytes(0);
    const auto row1 = r.RowBytes(1);
    EXPECT_TRUE(std::equal(row0.begin(), row0.end(), b.pixels.begin() + 12)) << "row 0 is the second stored row";
    EXPECT_TRUE(std::equal(row1.begin(), row1.end(), b.pixels.begin()));
    ASSERT_EQ(r.StorageSize(), b.pixels.size());
    EXPECT_EQ(std::memcmp(r.StorageData(), b.pixels.data(), b.pixels.size()), 0) << "padding bytes are kept too";
}

TEST(BmpReader, TopDown24BitFileShowsTheSameRows) {
    const Raster bottomUp = FromMemory(ThreeByTwo(false).Build());
    const BmpBuilder b = ThreeByTwo(true);
    const Raster topDown = FromMemory(b.Build());
    EXPECT_EQ(topDown.Order(), Raster::RowOrder::TopDown);
    ASSERT_EQ(topDown.StorageSize(), b.pixels.size());
    EXPECT_EQ(std::memcmp(topDown.StorageData(), b.pixels.data(), b.pixels.size()), 0);
    for (int32_t y = 0; y < 2; ++y) {
        const auto a = bottomUp.RowBytes(y);
        const auto t = topDown.RowBytes(y);
        EXPECT_TRUE(std::equal(a.begin(), a.end(), t.begin(), t.end())) << "row " << y;
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(topDown.PixelColor(x, y), bottomUp.PixelColor(x, y));
    }
}

TEST(BmpReader, OneBitBlackAndWhiteGivesZeroAndWhite) {
    BmpBuilder b;
    b.width = 2;
    b.height = 1;
    b.bitCount = 1;
    b.palette = {Rgb(0, 0, 0), Rgb(255, 255, 255)};
    b.pixels = PackRows({{0, 1}}, 1);
    const Raster r = FromMemory(b.Build());
    EXPECT_EQ(r.PixelColor(0, 0), 0u);
    EXPECT_EQ(r.PixelColor(1, 0), 16777215u);
}

// ---------------------------------------------------------------------------
// Where the pixels start.

TEST(BmpReader, OffsetPastAGapIsHonoured) {
    BmpBuilder b = Paletted(Sampler(), 40, 8);
    b.gap.assign(6, 0x07);  // would read as colour 7 if taken for pixels
    ExpectPicture(FromMemory(b.Build()), Sampler());
}

TEST(BmpReader, OffsetIntoTheTableOrPastTheEndFallsBackToTheTableEnd) {
    const BmpBuilder good = Paletted(Sampler(), 40, 8);
    const uint32_t fileSize = static_cast<uint32_t>(good.Build().size());
    const uint32_t tableEnd = 14 + 40 + 4 * static_cast<uint32_t>(Sampler().colours.size());
    for (const uint32_t offBits : {0u, 20u, 54u, tableEnd - 1, fileSize, fileSize + 100, 0xFFFFFFFFu}) {
        BmpBuilder b = good;
        b.offBits = offBits;
        SCOPED_TRACE("offset " + std::to_string(offBits));
        ExpectPicture(FromMemory(b.Build()), Sampler());
    }
}

TEST(BmpReader, MasksAfterA40ByteHeaderComeBeforeThePixels) {
    // The offset field says the pixels start right after the header, where
    // the masks are: the reader must not read the masks as pixels.
    BmpBuilder b = Direct(Sampler(), 16, false, To565);
    b.compression = 3;
    b.masks = {{0xF800, 0x07E0, 0x001F, 0}};
    b.offBits = 54;
    ExpectPicture(FromMemory(b.Build()), Sampler());
}

// ---------------------------------------------------------------------------
// Short files and tables.

TEST(BmpReader, Short24BitFileKeepsTheBytesItHas) {
    BmpBuilder b;
    b.width = 3;
    b.height = 4;
    b.pixels.resize(48);
    for (size_t i = 0; i < b.pixels.size(); ++i) b.pixels[i] = static_cast<uint8_t>(i + 1);
    std::vector<uint8_t> bytes = b.Build();
    bytes.resize(bytes.size() - 48 + 18);  // one stored row and half of the next

    const Raster r = FromMemory(bytes);
    ASSERT_EQ(r.Height(), 4);
    EXPECT_EQ(std::memcmp(r.StorageData(), b.pixels.data(), 18), 0);
    for (size_t i = 18; i < r.StorageSize(); ++i) ASSERT_EQ(r.StorageData()[i], 0) << "byte " << i;
    EXPECT_EQ(r.PixelColor(0, 3), Packed(Rgb(3, 2, 1)));  // the bottom row is the first stored
}

TEST(BmpReader, PixelsAShortPalettedFileLacksTakeEntryZero) {
    BmpBuilder b = Paletted(Sampler(), 40, 8);
    std::vector<uint8_t> bytes = b.Build();
    bytes.resize(bytes.size() - b.pixels.size() + 8 + 2);  // bottom row and two pixels of the next
    const Raster r = FromMemory(bytes);
    const Picture p = Sampler();
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            const bool covered = y == 2 || (y == 1 && x < 2);
            const uint8_t index = covered ? p.rows[static_cast<size_t>(y)][static_cast<size_t>(x)] : 0;
            EXPECT_EQ(r.PixelColor(x, y), Packed(p.colours[index])) << x << "," << y;
        }
    }
}

TEST(BmpReader, ZeroLengthFileIsTheEmptyPicture) {
    const Raster fromMemory = FromMemory({});
    EXPECT_EQ(fromMemory.Width(), 0);
    EXPECT_EQ(fromMemory.Height(), 0);

    TempDir dir;
    WriteFile(dir.Path() / "empty.bmp", {});
    const Raster fromFile = ReadBitmapFile((dir.Path() / "empty.bmp").string());
    EXPECT_TRUE(fromFile.Empty());
}

TEST(BmpReader, ZeroWidthOrHeightIsAPictureWithoutPixels) {
    for (const auto& [w, h] : {std::pair{0, 5}, std::pair{7, 0}}) {
        BmpBuilder b;
        b.width = w;
        b.height = h;
        const Raster r = FromMemory(b.Build());
        EXPECT_EQ(r.Width(), w);
        EXPECT_EQ(r.Height(), h);
    }
}

TEST(BmpReader, AllTableEntriesArePassedOverButAtMost256Kept) {
    BmpBuilder b = Paletted(Sampler(), 40, 8);
    b.palette.resize(300, Rgb(9, 9, 9));
    b.clrUsed = 300;
    const DecodedBitmap d = LoadBitmapMemory(b.Build());
    EXPECT_EQ(d.palette.size(), 256u);
    ExpectPicture(d.raster, Sampler());
}

TEST(BmpReader, TableInA24BitFileIsPassedOver) {
    BmpBuilder b = Direct(Sampler(), 24, false, ColourOf);
    b.palette = {Rgb(1, 1, 1), Rgb(2, 2, 2), Rgb(3, 3, 3)};
    b.clrUsed = 3;
    b.offBits = 0;  // no help from the offset
    ExpectPicture(FromMemory(b.Build()), Sampler());
}

TEST(BmpReader, IndexBeyondTheTableIsBlack) {
    BmpBuilder b;
    b.width = 3;
    b.height = 1;
    b.bitCount = 8;
    b.palette = {Rgb(10, 20, 30), Rgb(40, 50, 60)};
    b.clrUsed = 2;
    b.pixels = PackRows({{1, 2, 255}}, 8);
    const Raster r = FromMemory(b.Build());
    EXPECT_EQ(r.PixelColor(0, 0), Packed(Rgb(40, 50, 60)));
    EXPECT_EQ(r.PixelColor(1, 0), 0u);
    EXPECT_EQ(r.PixelColor(2, 0), 0u);
}

// ---------------------------------------------------------------------------
// Bit-field channels are widened to 8 bits as value * 255 / max, rounded.

namespace {

struct ChannelCase {
    std::string name;
    uint16_t bitCount;
    std::array<uint32_t, 3> masks;
    uint32_t pixel;
    uint32_t rgb;  // expected 0x00RRGGBB
};

void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }

}  // namespace

class BitFieldChannels : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(BitFieldChannels, WidenToEightBits) {
    const ChannelCase& c = GetParam();
    BmpBuilder b;
    b.width = 1;
    b.height = 1;
    b.bitCount = c.bitCount;
    b.compression = 3;
    b.masks = {{c.masks[0], c.masks[1], c.masks[2], 0}};
    b.pixels = PackRows({{c.pixel}}, c.bitCount);
    EXPECT_EQ(FromMemory(b.Build()).PixelColor(0, 0), Packed(c.rgb));
}

INSTANTIATE_TEST_SUITE_P(
    BmpReader, BitFieldChannels,
    ::testing::Values(ChannelCase{"FullFiveBitsAreWhite", 16, {0x7C00, 0x03E0, 0x001F}, 0x7FFF, Rgb(255, 255, 255)},
                      ChannelCase{"ThreeOfFiveBitsIs25", 16, {0x7C00, 0x03E0, 0x001F}, 3 << 10 | 3 << 5 | 3, Rgb(25, 25, 25)},
                      ChannelCase{"TopBitOf555IsIgnored", 16, {0x7C00, 0x03E0, 0x001F}, 0x8000, Rgb(0, 0, 0)},
                      ChannelCase{"SixBitGreen", 16, {0xF800, 0x07E0, 0x001F}, 32 << 5, Rgb(0, 130, 0)},
                      ChannelCase{"TwoThreeOneBits", 16, {0x0030, 0x000E, 0x0001}, 0x2 << 4 | 0x5 << 1 | 1, Rgb(170, 182, 255)},
                      ChannelCase{"ZeroMaskGivesZero", 16, {0xFF00, 0x00FF, 0}, 0xFFFF, Rgb(255, 255, 0)},
                      ChannelCase{"TenBitChannels", 32, {0x3FF00000, 0x000FFC00, 0x000003FF}, 1023u << 20 | 512u << 10 | 1,
                                  Rgb(255, 128, 0)},
                      ChannelCase{"WholeWordChannel", 32, {0xFFFFFFFF, 0, 0}, 0x80000000, Rgb(128, 0, 0)}),
    [](const ::testing::TestParamInfo<ChannelCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Files that do not load, each with its message.

namespace {

std::vector<uint8_t> Prefix(std::vector<uint8_t> bytes, size_t n) {
    bytes.resize(n);
    return bytes;
}

std::vector<uint8_t> PatchedU32(std::vector<uint8_t> bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

BmpBuilder With(const std::function<void(BmpBuilder&)>& change) {
    BmpBuilder b = Paletted(Sampler(), 40, 8);
    change(b);
    return b;
}

const std::string kStreamReadError = "Stream read error";
const std::string kNotValid = "Bitmap image is not valid";
const std::string kOutOfMemory = "Out of memory";

struct BrokenFile {
    std::string name;
    std::function<std::vector<uint8_t>()> bytes;
    std::string message;
};

void PrintTo(const BrokenFile& f, std::ostream* os) { *os << f.name; }

std::vector<BrokenFile> BrokenFileTable() {
    const std::vector<uint8_t> good = Paletted(Sampler(), 40, 8).Build();
    return {
        {"OneByte", [] { return std::vector<uint8_t>{'B'}; }, kStreamReadError},
        {"ThirteenBytes", [=] { return Prefix(good, 13); }, kStreamReadError},
        {"FileHeaderOnly", [=] { return Prefix(good, 14); }, kStreamReadError},
        {"EndsInsideInfoHeader", [=] { return Prefix(good, 40); }, kStreamReadError},
        {"HeaderLargerThanFile",
         [] { return Prefix(With([](BmpBuilder& b) { b.headerSize = 5000; }).Build(), 400); },
         kStreamReadError},
        {"HeaderSizeAtItsLargest", [=] { return PatchedU32(good, 14, 0xFFFFFFFF); }, kStreamReadError},
        {"HeaderSizeZero", [] { return With([](BmpBuilder& b) { b.headerSize = 0; }).Build(); }, kNotValid},
        {"HeaderSize16", [] { return With([](BmpBuilder& b) { b.headerSize = 16; }).Build(); }, kNotValid},
        {"EndsInsideColourTable", [=] { return Prefix(good, 14 + 40 + 4 * 5 + 2); }, kStreamReadError},
        {"EndsInsideMasks",
         [] {
             BmpBuilder b = Direct(Sampler(), 16, false, To565);
             b.compression = 3;
             b.masks = {{0xF800, 0x07E0, 0x001F, 0}};
             return Prefix(b.Build(), 14 + 40 + 6);
         },
         kStreamReadError},
        {"ColoursUsedBeyondTheFile", [] { return With([](BmpBuilder& b) { b.clrUsed = 0x40000000; }).Build(); },
         kStreamReadError},
        {"BadMagic", [] { return With([](BmpBuilder& b) { b.magic = "MB"; }).Build(); }, kNotValid},
        {"PngSignature",
         [] {
             return std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                         0,    0,   0,   1,   0,    0,    0,    1,    8, 2, 0, 0,  0};
         },
         kNotValid},
        {"IconHeader",
         [] {
             std::vector<uint8_t> icon = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0x68, 4, 0, 0, 22, 0, 0, 0};
             icon.resize(60, 0);
             return icon;
         },
         kNotValid},
        {"PlanesTwo", [] { return With([](BmpBuilder& b) { b.planes = 2; }).Build(); }, kNotValid},
        {"PlanesZero", [] { return With([](BmpBuilder& b) { b.planes = 0; }).Build(); }, kNotValid},
        {"TwoBitsPerPixel", [] { return With([](BmpBuilder& b) { b.bitCount = 2; }).Build(); }, kNotValid},
        {"SixtyFourBitsPerPixel", [] { return With([](BmpBuilder& b) { b.bitCount = 64; }).Build(); }, kNotValid},
        {"ZeroBitsPerPixel", [] { return With([](BmpBuilder& b) { b.bitCount = 0; }).Build(); }, kNotValid},
        {"JpegCompression", [] { return With([](BmpBuilder& b) { b.compression = 4; }).Build(); }, kNotValid},
        {"PngCompression", [] { return With([](BmpBuilder& b) { b.compression = 5; }).Build(); }, kNotValid},
        {"AlphaBitFields",
         [] {
             BmpBuilder b = Direct(Sampler(), 32, false, ColourOf);
             b.compression = 6;
             b.masks = {{0xFF0000, 0xFF00, 0xFF, 0}};
             return b.Build();
         },
         kNotValid},
        {"UnknownCompression", [] { return With([](BmpBuilder& b) { b.compression = 0xFFFFFFFF; }).Build(); }, kNotValid},
        {"BitFieldsOn8Bits", [] { return With([](BmpBuilder& b) { b.compression = 3; }).Build(); }, kNotValid},
        {"BitFieldsOn24Bits",
         [] {
             BmpBuilder b = Direct(Sampler(), 24, false, ColourOf);
             b.compression = 3;
             b.masks = {{0xFF0000, 0xFF00, 0xFF, 0}};
             return b.Build();
         },
         kNotValid},
        {"BitFieldsWithoutRoomForMasks",
         [] {
             BmpBuilder b = Direct(Sampler(), 16, false, To565);
             b.headerSize = 44;
             b.compression = 3;
             return b.Build();
         },
         kNotValid},
        {"Rle8On4Bits", [] { return With([](BmpBuilder& b) { b.bitCount = 4, b.compression = 1; }).Build(); }, kNotValid},
        {"Rle4On8Bits", [] { return With([](BmpBuilder& b) { b.compression = 2; }).Build(); }, kNotValid},
        {"TopDownRle8",
         [] {
             BmpBuilder b = RunLength(Sampler(), false);
             b.height = -b.height;
             return b.Build();
         },
         kNotValid},
        {"NegativeWidth", [] { return With([](BmpBuilder& b) { b.width = -5; }).Build(); }, kNotValid},
        {"HeightWithoutMagnitude", [] { return With([](BmpBuilder& b) { b.height = INT32_MIN; }).Build(); }, kNotValid},
        {"HugePictureTinyFile",
         [] {
             return With([](BmpBuilder& b) {
                        b.width = 100000;
                        b.height = -100000;
                    }).Build();
         },
         kOutOfMemory},
        {"HugeRunLengthPicture",
         [] {
             BmpBuilder b = RunLength(Sampler(), false);
             b.width = 60000;
             b.height = 60000;
             return b.Build();
         },
         kOutOfMemory},
        {"LargestSizes",
         [] {
             BmpBuilder b = Direct(Sampler(), 32, false, ColourOf);
             b.width = INT32_MAX;
             b.height = -INT32_MAX;
             b.sizeImage = 0;
             return b.Build();
         },
         kOutOfMemory},
    };
}

}  // namespace

class BrokenFiles : public ::testing::TestWithParam<BrokenFile> {
protected:
    // A limit far above every well-formed test picture and far below the
    // pictures the hostile headers declare.
    const ReadLimits limit_ = MemoryLimit(64u << 20);
};

TEST_P(BrokenFiles, FailWithTheSystemsMessage) {
    const std::vector<uint8_t> bytes = GetParam().bytes();
    EXPECT_EQ(LoadMessage(bytes, limit_), GetParam().message);

    TempDir dir;
    const auto path = dir.Path() / "broken.bmp";
    WriteFile(path, bytes);
    try {
        ReadBitmapFile(path.string(), limit_);
        ADD_FAILURE() << "the file loaded";
    } catch (const Error& e) {
        EXPECT_EQ(e.what(), GetParam().message) << "read from a file";
    }
}

INSTANTIATE_TEST_SUITE_P(BmpReader, BrokenFiles, ::testing::ValuesIn(BrokenFileTable()),
                         [](const ::testing::TestParamInfo<BrokenFile>& info) { return info.param.name; });

TEST(BmpReader, LargestSizesAreOutOfMemoryWithoutALimit) {
    // Width and height at their largest with 32 bits per pixel: stride times
    // height only just fits 64 bits, and no machine holds the picture.
    BmpBuilder b = Direct(Sampler(), 32, false, ColourOf);
    b.width = INT32_MAX;
    b.height = INT32_MAX;
    EXPECT_EQ(LoadMessage(b.Build()), kOutOfMemory);
}

// ---------------------------------------------------------------------------
// Hostile run-length streams decode without leaving the picture.

namespace {

struct RunLengthCase {
    std::string name;
    bool fourBit;
    std::vector<uint8_t> stream;
    std::vector<std::string> expected;  // 4 x 2, top row first: palette digits, 'k' for black
};

void PrintTo(const RunLengthCase& c, std::ostream* os) { *os << c.name; }

}  // namespace

class HostileRunLength : public ::testing::TestWithParam<RunLengthCase> {};

TEST_P(HostileRunLength, StaysInsideThePicture) {
    const RunLengthCase& c = GetParam();
    const std::vector<uint32_t> colours = {Rgb(16, 49, 206), Rgb(255, 0, 0), Rgb(0, 255, 0)};
    BmpBuilder b;
    b.width = 4;
    b.height = 2;
    b.bitCount = c.fourBit ? 4 : 8;
    b.compression = c.fourBit ? 2 : 1;
    b.palette = colours;
    b.clrUsed = 3;
    b.pixels = c.stream;
    b.sizeImage = static_cast<uint32_t>(c.stream.size());
    const Raster r = FromMemory(b.Build());
    ASSERT_EQ(r.Width(), 4);
    ASSERT_EQ(r.Height(), 2);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            const char want = c.expected[static_cast<size_t>(y)][static_cast<size_t>(x)];
            const uint32_t rgb = want == 'k' ? 0 : colours[static_cast<size_t>(want - '0')];
            EXPECT_EQ(r.PixelColor(x, y), Packed(rgb)) << "pixel " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    BmpReader, HostileRunLength,
    ::testing::Values(
        RunLengthCase{"RunPastTheRowIsCut", false, {6, 1, 0, 0, 1, 2, 0, 1}, {"2000", "1111"}},
        RunLengthCase{"DeltaPastTheRightEdge", false, {0, 2, 9, 0, 1, 1, 0, 0, 1, 2, 0, 1}, {"2000", "0000"}},
        RunLengthCase{"DeltaPastTheTop", false, {1, 1, 0, 2, 0, 9, 1, 2}, {"0000", "1000"}},
        RunLengthCase{"DeltaUpOneRow", false, {1, 1, 0, 2, 1, 1, 1, 2, 0, 1}, {"0020", "1000"}},
        RunLengthCase{"AbsoluteRunPastTheRow", false, {0, 6, 1, 2, 1, 2, 1, 2, 0, 0, 0, 3, 2, 2, 2, 0, 0, 1},
                      {"2220", "1212"}},
        RunLengthCase{"EndsInsideAbsoluteRun", false, {0, 5, 1, 2}, {"0000", "1200"}},
        RunLengthCase{"EndsInsideDelta", false, {1, 1, 0, 2, 1}, {"0000", "1000"}},
        RunLengthCase{"EndsAfterOneByte", false, {2, 1, 0}, {"0000", "1100"}},
        RunLengthCase{"NoEndOfBitmap", false, {2, 2}, {"0000", "2200"}},
        RunLengthCase{"MoreLinesThanThePicture", false, {0, 0, 0, 0, 0, 0, 1, 1, 0, 0}, {"0000", "0000"}},
        RunLengthCase{"EndOfBitmapStopsEarly", false, {1, 1, 0, 1, 1, 2}, {"0000", "1000"}},
        RunLengthCase{"IndexBeyondTheTableIsBlack", false, {1, 200, 0, 3, 1, 77, 2, 0}, {"0000", "k1k2"}},
        RunLengthCase{"Rle4RunAlternatesNibbles", true, {5, 0x12, 0, 1}, {"0000", "1212"}},
        RunLengthCase{"Rle4OddAbsoluteRunIsPadded", true, {0, 3, 0x12, 0x10, 0, 0, 2, 0x22, 0, 1}, {"2200", "1210"}},
        RunLengthCase{"Rle4EndsInsideAbsoluteRun", true, {0, 7, 0x21}, {"0000", "2100"}}),
    [](const ::testing::TestParamInfo<RunLengthCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Opening files.

TEST(BmpReader, MissingFileNamesItsFullPath) {
    const std::string relative = "no-such-dir-rastrace/./sub/../missing.bmp";
    const std::string full = (std::filesystem::current_path() / "no-such-dir-rastrace/missing.bmp").string();
    try {
        ReadBitmapFile(relative);
        FAIL() << "a missing file loaded";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + full + "\". No such file or directory");
    }
}

TEST(BmpReader, DirectoryCannotBeOpened) {
    TempDir dir;
    try {
        ReadBitmapFile(dir.Path().string());
        FAIL() << "a directory loaded";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + dir.Path().string() + "\". Is a directory");
    }
}

TEST(BmpReader, UnreadableFileShowsTheSystemsText) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not stop reading";
    TempDir dir;
    const auto path = dir.Path() / "locked.bmp";
    WriteFile(path, Paletted(Sampler(), 40, 8).Build());
    chmod(path.c_str(), 0);
    EXPECT_THAT([&] { ReadBitmapFile(path.string()); },
                ::testing::ThrowsMessage<Error>(::testing::StrEq("Cannot open file \"" + path.string() +
                                                                 "\". Permission denied")));
}

namespace {

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

}  // namespace

TEST(BmpReader, FileIsClosedOnEveryPath) {
    const ReadLimits limit = MemoryLimit(1u << 20);
    TempDir dir;
    const std::vector<std::vector<uint8_t>> files = {
        Paletted(Sampler(), 40, 8).Build(),                                     // loads
        Direct(Sampler(), 24, false, ColourOf).Build(),                         // loads in one read
        RunLength(Sampler(), true).Build(),                                     // loads
        Prefix(Paletted(Sampler(), 40, 8).Build(), 13),                         // Stream read error
        With([](BmpBuilder& b) { b.magic = "XX"; }).Build(),                    // not valid
        With([](BmpBuilder& b) { b.width = 1 << 20, b.height = 1 << 20; }).Build()};  // Out of memory
    const size_t before = OpenDescriptors();
    for (size_t i = 0; i < files.size(); ++i) {
        const auto path = dir.Path() / ("f" + std::to_string(i) + ".bmp");
        WriteFile(path, files[i]);
        try {
            ReadBitmapFile(path.string(), limit);
        } catch (const Error&) {
        }
        EXPECT_EQ(OpenDescriptors(), before) << "file " << i;
    }
}

// ---------------------------------------------------------------------------
// Pipes and devices: read to their end, with the same checks and limits.

namespace {

// A pipe whose write end a thread fills with bytes and then closes; Path()
// names the read end as /dev/stdin would.
class PipeInput {
public:
    explicit PipeInput(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
        std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early must not end the tests
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        reader_ = FileHandle(fds[0]);
        writer_ = std::thread([this, fd = fds[1]] {
            const FileHandle end(fd);
            // Fails with EPIPE once the reader has gone: that is fine.
            (void)WriteAll(end.Fd(), std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()));
        });
    }
    ~PipeInput() {
        reader_ = FileHandle();  // a writer still blocked gets EPIPE
        writer_.join();
    }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(reader_.Fd()); }

private:
    std::vector<uint8_t> bytes_;
    FileHandle reader_;
    std::thread writer_;
};

}  // namespace

TEST(BmpReader, APipeIsReadToItsEnd) {
    // Larger than a pipe's buffer, so it comes in many reads.
    BmpBuilder big = Direct(Sampler(), 24, false, ColourOf);
    big.width = 300;
    big.height = 300;
    big.pixels.assign(big.width * 3 * big.height, 0x5A);
    const std::vector<uint8_t> bytes = big.Build();
    Raster fromPipe;
    {
        PipeInput pipe(bytes);
        fromPipe = ReadBitmapFile(pipe.Path());
    }
    const Raster fromMemory = FromMemory(bytes);
    ASSERT_EQ(fromPipe.Width(), 300);
    ASSERT_EQ(fromPipe.Height(), 300);
    EXPECT_EQ(0, std::memcmp(fromPipe.StorageData(), fromMemory.StorageData(), fromMemory.StorageSize()));

    {
        PipeInput pipe(Paletted(Sampler(), 40, 8).Build());
        ExpectPicture(ReadBitmapFile(pipe.Path()), Sampler());
    }
    {
        PipeInput pipe({});
        EXPECT_TRUE(ReadBitmapFile(pipe.Path()).Empty()) << "an empty stream is the empty picture, as an empty file";
    }
}

TEST(BmpReader, APipeHasTheSameChecksAndLimits) {
    const auto message = [](std::vector<uint8_t> bytes, const ReadLimits& limits) {
        PipeInput pipe(std::move(bytes));
        try {
            ReadBitmapFile(pipe.Path(), limits);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(message(Prefix(Paletted(Sampler(), 40, 8).Build(), 30), {}), "Stream read error");
    EXPECT_EQ(message(With([](BmpBuilder& b) { b.magic = "XX"; }).Build(), {}), "Bitmap image is not valid");
    // The stream itself counts against the limit, before any picture.
    EXPECT_EQ(message(std::vector<uint8_t>(4u << 20, 0x42), MemoryLimit(1u << 20)), kOutOfMemory);
    // A stream that never ends (a device) ends in "Out of memory".
    EXPECT_EQ(LoadMessageOfFile("/dev/zero", MemoryLimit(1u << 20)), kOutOfMemory);
}

// The window must not wait on a pipe nobody writes to, nor read a device
// that never ends.
TEST(BmpReader, OnlyRegularFilesWhenAsked) {
    TempDir dir;
    const auto fifo = dir.Path() / "scan.bmp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ReadLimits limits;
    limits.regularFileOnly = true;
    EXPECT_EQ(LoadMessageOfFile(fifo.string(), limits), "Cannot open file \"" + fifo.string() + "\". Not a regular file");
    EXPECT_EQ(LoadMessageOfFile("/dev/zero", limits), "Cannot open file \"/dev/zero\". Not a regular file");
    const auto file = dir.Path() / "scan2.bmp";
    WriteFile(file, Paletted(Sampler(), 40, 8).Build());
    ExpectPicture(ReadBitmapFile(file.string(), limits), Sampler());
}

// ---------------------------------------------------------------------------
// Hostile headers against the real limit: the memory available now.

namespace {

// The 54-byte file of a 24-bit picture of width x height with no pixels.
std::vector<uint8_t> Header24(int32_t width, int32_t height) {
    BmpBuilder b;
    b.width = width;
    b.height = height;
    return b.Build();
}

// The 62-byte file of a 1-bit picture of width x height with no pixels,
// whose colour-table entry 0 is not black: every pixel must be written.
std::vector<uint8_t> Header1(int32_t width, int32_t height) {
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bitCount = 1;
    b.palette = {Rgb(200, 10, 10), Rgb(0, 0, 0)};
    return b.Build();
}

uint64_t PictureBytes(int32_t width, int32_t height) { return StrideFor(static_cast<uint64_t>(width), 24) * height; }

uint64_t PhysicalMemory() {
    return static_cast<uint64_t>(::sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

double Seconds(const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs body in a child process whose address space may grow by at most
// room bytes; the child's exit code (0 on success), or -1.
int InChildWithAddressRoom(uint64_t room, const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::ifstream statm("/proc/self/statm");
        uint64_t pages = 0;
        statm >> pages;
        const rlimit limit{pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) + room, RLIM_INFINITY};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(HostileHeaders, A54ByteFileOf85000SquaredNeverTakesTheMachine) {
    const std::vector<uint8_t> bytes = Header24(85000, 85000);
    ASSERT_EQ(bytes.size(), 54u);
    const uint64_t size = PictureBytes(85000, 85000);  // 21.7 GB
    const uint64_t available = MemoryAvailableNow();
    if (size > available) {
        double seconds = Seconds([&] { EXPECT_EQ(LoadMessage(bytes), kOutOfMemory); });
        EXPECT_LT(seconds, 0.5);
        return;
    }
    // It fits, as nothing but a mapping: no pixel is in the file, so none
    // is made real, and a copy that must be real does not fit.
    Raster raster;
    EXPECT_LT(Seconds([&] { raster = FromMemory(bytes); }), 0.5);
    EXPECT_EQ(raster.UnbackedBytes(), raster.StorageSize());
    if (2 * size > MemoryAvailableNow()) {
        EXPECT_THROW((void)raster.Clone(), Error) << "the window's copy for a mirror";
    }
}

TEST(HostileHeaders, APictureBeyondTheMemoryAvailableIsRefusedBelowTheMachinesTotal) {
    const uint64_t available = MemoryAvailableNow();
    const uint64_t total = PhysicalMemory();
    if (total < available + (uint64_t{512} << 20)) GTEST_SKIP() << "almost all of the memory is available";
    // Half-way between what is available and what the machine has.
    const uint64_t target = available + (total - available) / 2;
    const int32_t width = 60000;
    const auto height = static_cast<int32_t>(target / PictureBytes(width, 1));
    EXPECT_EQ(LoadMessage(Header24(width, height)), kOutOfMemory);
}

// 20000 x 20000 pixels of colour-table entry 0: 1.2 GB to write from 62
// bytes. Under an address-space limit it is refused before anything is
// allocated, and at once.
TEST(HostileHeaders, A62ByteOneBitFileIsRefusedWhereItDoesNotFit) {
    const std::vector<uint8_t> bytes = Header1(20000, 20000);
    ASSERT_EQ(bytes.size(), 62u);
    const int code = InChildWithAddressRoom(uint64_t{512} << 20, [&] {
        try {
            FromMemory(bytes);
        } catch (const Error& e) {
            return std::string(e.what()) == kOutOfMemory;
        }
        return false;
    });
    EXPECT_EQ(code, 0) << "not refused under a 512 MB address-space limit";
    if (PictureBytes(20000, 20000) > MemoryAvailableNow()) {
        EXPECT_LT(Seconds([&] { EXPECT_EQ(LoadMessage(bytes), kOutOfMemory); }), 0.5);
    }
}

TEST(HostileHeaders, AnAddressSpaceLimitIsTheLimit) {
    const int code = InChildWithAddressRoom(uint64_t{256} << 20, [] {
        for (const auto& bytes : {Header24(85000, 85000), Header24(10000, 10000), Header1(20000, 20000)}) {
            try {
                FromMemory(bytes);
                return false;
            } catch (const Error& e) {
                if (std::string(e.what()) != kOutOfMemory) return false;
            }
        }
        // What does fit still loads.
        return FromMemory(Header24(1000, 1000)).Width() == 1000;
    });
    EXPECT_EQ(code, 0);
}

// ---------------------------------------------------------------------------
// Sampled reads for the preview

namespace {

// A width x height picture whose every pixel differs from its neighbours.
BmpBuilder Gradient(int32_t width, int32_t height, uint16_t bitCount, bool topDown) {
    BmpBuilder b;
    b.width = width;
    b.height = topDown ? -height : height;
    b.bitCount = bitCount;
    if (bitCount == 8) {
        for (uint32_t i = 0; i < 256; ++i) b.palette.push_back(Rgb(i, 255 - i, i / 2));
    }
    std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(height));
    for (int32_t s = 0; s < height; ++s) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t v = static_cast<uint32_t>(x * 7 + s * 13);
            rows[static_cast<size_t>(s)].push_back(bitCount == 8 ? v % 256 : Rgb(v % 256, s % 256, x % 256));
        }
    }
    b.pixels = PackRows(rows, bitCount);
    return b;
}

}  // namespace

TEST(SampledRead, TakesTheNearestPixelOfEveryTargetPixel) {
    for (uint16_t bitCount : {8, 24}) {
        for (bool topDown : {false, true}) {
            const std::vector<uint8_t> bytes = Gradient(300, 200, bitCount, topDown).Build();
            const Raster full = FromMemory(bytes);
            ReadLimits limits;
            limits.sampleSide = 50;
            const DecodedBitmap sampled = LoadBitmapMemory(bytes, limits);
            EXPECT_EQ(sampled.header.biWidth, 300);
            ASSERT_EQ(sampled.raster.Width(), 50);
            ASSERT_EQ(sampled.raster.Height(), 33);
            for (int32_t ty = 0; ty < 33; ++ty) {
                for (int32_t tx = 0; tx < 50; ++tx) {
                    ASSERT_EQ(sampled.raster.PixelColor(tx, ty), full.PixelColor(tx * 300 / 50, ty * 200 / 33))
                        << bitCount << " bits, top-down " << topDown << ", pixel " << tx << "," << ty;
                }
            }
        }
    }
}

// A memory limit too small for the sampled rows: fewer rows are read, each
// standing for several target rows, and the picture keeps its proportions.
TEST(SampledRead, ReadsFewerRowsWhenTheyWouldNotFit) {
    const std::vector<uint8_t> bytes = Gradient(1000, 1000, 24, false).Build();
    const Raster full = FromMemory(bytes);
    ReadLimits limits;
    limits.sampleSide = 100;
    limits.memory = 100 * 100 * 3 + 100 * 4 + 3000 + 10 * 3000;  // picture, row, scratch and ten file rows
    const Raster sampled = LoadBitmapMemory(bytes, limits).raster;
    ASSERT_EQ(sampled.Width(), 100);
    ASSERT_EQ(sampled.Height(), 100);
    EXPECT_EQ(sampled.PixelColor(0, 0), full.PixelColor(0, 0));
    EXPECT_EQ(sampled.PixelColor(0, 9), full.PixelColor(0, 0)) << "ten target rows share a file row";
    EXPECT_EQ(sampled.PixelColor(37, 95), full.PixelColor(370, 900));
}

// What the preview does with the hostile headers: a small picture, at once,
// whatever size the header declares.
TEST(SampledRead, HostileHeadersGiveASmallPictureAtOnce) {
    ReadLimits limits;
    limits.sampleSide = 2048;
    limits.memory = uint64_t{64} << 20;
    DecodedBitmap bitmap;
    EXPECT_LT(Seconds([&] { bitmap = LoadBitmapMemory(Header1(20000, 20000), limits); }), 1.0);
    EXPECT_EQ(bitmap.header.biWidth, 20000);
    EXPECT_EQ(bitmap.raster.Width(), 2048);
    EXPECT_EQ(bitmap.raster.Height(), 2048);
    EXPECT_EQ(bitmap.raster.PixelColor(2047, 2047), Packed(Rgb(200, 10, 10)));
    EXPECT_LT(Seconds([&] { bitmap = LoadBitmapMemory(Header24(85000, 85000), limits); }), 1.0);
    EXPECT_EQ(bitmap.raster.Width(), 2048);
    EXPECT_EQ(LoadMessage(Header24(INT32_MAX, 1), limits), kOutOfMemory) << "a row wider than the limit";
}
