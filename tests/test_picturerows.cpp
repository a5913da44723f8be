// SPDX-License-Identifier: GPL-3.0-or-later
// PNG, TIFF and JPEG files read by rows give, band by band and in any band
// size, the very bytes, resolution and messages of the whole-picture read;
// files that cannot be read by rows are read whole and still give them.
#include "common/Error.h"
#include "raster/PictureReader.h"
#include "raster/PictureRows.h"
#include "support/BmpBuilder.h"
#include "support/PictureWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace rastrace;
using rastrace::test::JpegPicture;
using rastrace::test::PngCase;
using rastrace::test::PngPicture;
using rastrace::test::TempDir;
using rastrace::test::TiffCase;
using rastrace::test::TiffPicture;
using rastrace::test::Tiles;
using rastrace::test::RasterBytes;
using rastrace::test::Samples;

namespace {

using Bytes = std::vector<uint8_t>;

// All rows of a source, band rows at a time: from the top down, or (for a
// source that takes any order) from the bottom band up.
Bytes ReadAll(PictureRows& rows, int32_t band, bool bottomUp = false) {
    const size_t rowBytes = static_cast<size_t>(rows.Width()) * 3;
    Bytes out(rowBytes * static_cast<size_t>(rows.Height()));
    std::vector<int32_t> firsts;
    for (int32_t first = 0; first < rows.Height(); first += band) firsts.push_back(first);
    if (bottomUp) std::reverse(firsts.begin(), firsts.end());
    for (const int32_t first : firsts) {
        const int32_t count = std::min(band, rows.Height() - first);
        // A stride wider than the row: the rows must land where they are told.
        Bytes block((rowBytes + 5) * static_cast<size_t>(count), 0xEE);
        rows.ReadRows(first, count, block.data(), rowBytes + 5);
        for (int32_t i = 0; i < count; ++i) {
            std::memcpy(&out[(static_cast<size_t>(first + i)) * rowBytes], &block[static_cast<size_t>(i) * (rowBytes + 5)], rowBytes);
            EXPECT_EQ(block[static_cast<size_t>(i) * (rowBytes + 5) + rowBytes], 0xEE) << "row " << first + i << " overran";
        }
    }
    return out;
}

// The outcome of reading the file whole: its bytes, or its message.
std::string WholeOutcome(const std::filesystem::path& path, Bytes* pixels = nullptr) {
    try {
        const Picture picture = ReadPictureFile(path.string());
        if (pixels != nullptr) *pixels = RasterBytes(picture.raster);
        return "";
    } catch (const Error& e) {
        return e.what();
    }
}

// The outcome of reading the file by rows, one band at a time.
std::string RowsOutcome(const std::filesystem::path& path, Bytes* pixels = nullptr) {
    try {
        const auto rows = OpenPictureRows(path.string());
        const Bytes got = ReadAll(*rows, rows->BandRows());
        rows->CheckUnchanged();
        if (pixels != nullptr) *pixels = got;
        return "";
    } catch (const Error& e) {
        return e.what();
    }
}

// Reads the file by rows in several band sizes (and bottom-up where the
// source allows) and compares everything with the whole-picture read.
void ExpectRowsAsWhole(const std::filesystem::path& path, bool streams) {
    const Picture whole = ReadPictureFile(path.string());
    const Bytes want = RasterBytes(whole.raster);
    const auto probe = OpenPictureRows(path.string());
    const int32_t natural = probe->BandRows();
    EXPECT_GE(natural, 1);
    for (const int32_t band : {1, 2, 3, 7, natural, natural + 1, whole.raster.Height()}) {
        const auto rows = OpenPictureRows(path.string());
        ASSERT_EQ(rows->Width(), whole.raster.Width());
        ASSERT_EQ(rows->Height(), whole.raster.Height());
        EXPECT_EQ(rows->HoldsWholePicture(), !streams);
        EXPECT_EQ(rows->Facts().format, whole.format);
        EXPECT_EQ(rows->Facts().dpiX, whole.dpiX);
        EXPECT_EQ(rows->Facts().dpiY, whole.dpiY);
        EXPECT_TRUE(ReadAll(*rows, band) == want) << "band of " << band << " rows";
        if (rows->AnyOrder()) {
            EXPECT_TRUE(ReadAll(*rows, band, true) == want) << "bottom-up bands of " << band << " rows";
        }
        EXPECT_NO_THROW(rows->CheckUnchanged());
    }
}

void Write(const std::filesystem::path& path, const Bytes& bytes) { test::WriteFile(path, bytes); }

// ---------------------------------------------------------------------------
// PNG

class PngRowsAsWhole : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngRowsAsWhole, GiveTheSameBytesInEveryBandSize) {
    const PngCase& c = GetParam();
    PngPicture p = test::PngOfCase(c, 37, 29, static_cast<uint32_t>(c.colourType + c.depth));
    p.xPerUnit = 11811;  // 300 dpi
    p.yPerUnit = 23622;  // 600 dpi
    const TempDir dir;
    const auto path = dir.Path() / "picture.png";
    Write(path, test::WritePng(p));
    // An interlaced file is complete only after its last pass: read whole.
    ExpectRowsAsWhole(path, !c.interlaced);
}

INSTANTIATE_TEST_SUITE_P(
    All, PngRowsAsWhole,
    ::testing::Values(PngCase{"Grey2", 0, 2, false}, PngCase{"Grey8", 0, 8, false}, PngCase{"Grey16", 0, 16, false},
                      PngCase{"GreyAlpha8", 4, 8, false}, PngCase{"GreyAlpha16", 4, 16, false},
                      PngCase{"Palette4", 3, 4, false}, PngCase{"Palette8", 3, 8, false},
                      PngCase{"Rgb8", 2, 8, false}, PngCase{"Rgb16", 2, 16, false}, PngCase{"Rgba8", 6, 8, false},
                      PngCase{"Rgba16", 6, 16, false}, PngCase{"Rgb8Interlaced", 2, 8, true},
                      PngCase{"Palette4Interlaced", 3, 4, true}),
    [](const ::testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// TIFF

class TiffRowsAsWhole : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffRowsAsWhole, GiveTheSameBytesInAnyOrder) {
    const TiffCase& c = GetParam();
    // 37 x 35: not a multiple of the tile width, nor of the strip's or tile's height.
    TiffPicture p = test::TiffOfCase(c, 37, 35, c.bits + c.samplesPerPixel);
    p.rowsPerStrip = 4;
    p.xResolution = 300;
    p.yResolution = 600;
    if (c.adjust) c.adjust(p);
    const TempDir dir;
    const auto path = dir.Path() / "picture.tif";
    Write(path, test::WriteTiff(p));
    // A picture whose stored rows are shown as columns is read whole.
    const bool streams = p.orientation < ORIENTATION_LEFTTOP;
    ExpectRowsAsWhole(path, streams);

    // A mirror reading upwards takes the rows as they come.
    const auto rows = OpenPictureRows(path.string(), {}, true);
    EXPECT_EQ(rows->HoldsWholePicture(), !streams);
    EXPECT_TRUE(rows->AnyOrder());
}


INSTANTIATE_TEST_SUITE_P(
    All, TiffRowsAsWhole,
    ::testing::Values(
        TiffCase{"Rgb8Strips", PHOTOMETRIC_RGB, 3, 8, nullptr},
        TiffCase{"Rgba16Strips", PHOTOMETRIC_RGB, 4, 16, nullptr},
        TiffCase{"Grey16Strips", PHOTOMETRIC_MINISBLACK, 1, 16, nullptr},
        TiffCase{"WhiteIsZero16Strips", PHOTOMETRIC_MINISWHITE, 1, 16, nullptr},
        TiffCase{"Grey1OneStrip", PHOTOMETRIC_MINISBLACK, 1, 1, [](TiffPicture& p) { p.rowsPerStrip = 0; }},
        TiffCase{"Rgb8LzwStrips", PHOTOMETRIC_RGB, 3, 8, [](TiffPicture& p) { p.compression = COMPRESSION_LZW; }},
        TiffCase{"Rgb8Tiles", PHOTOMETRIC_RGB, 3, 8, Tiles},
        TiffCase{"Grey16DeflateTiles", PHOTOMETRIC_MINISBLACK, 1, 16,
                 [](TiffPicture& p) {
                     Tiles(p);
                     p.compression = COMPRESSION_ADOBE_DEFLATE;
                 }},
        TiffCase{"Rgb8SeparatePlaneTiles", PHOTOMETRIC_RGB, 3, 8,
                 [](TiffPicture& p) {
                     Tiles(p);
                     p.planar = PLANARCONFIG_SEPARATE;
                 }},
        TiffCase{"BottomUpStrips", PHOTOMETRIC_RGB, 3, 8, [](TiffPicture& p) { p.orientation = ORIENTATION_BOTLEFT; }},
        TiffCase{"RightToLeftTiles", PHOTOMETRIC_RGB, 3, 8,
                 [](TiffPicture& p) {
                     Tiles(p);
                     p.orientation = ORIENTATION_TOPRIGHT;
                 }},
        TiffCase{"BottomRightTiles", PHOTOMETRIC_RGB, 3, 8,
                 [](TiffPicture& p) {
                     Tiles(p);
                     p.orientation = ORIENTATION_BOTRIGHT;
                 }},
        TiffCase{"LeftBottomGrey16Strips", PHOTOMETRIC_MINISBLACK, 1, 16,
                 [](TiffPicture& p) { p.orientation = ORIENTATION_LEFTBOT; }}),
    [](const ::testing::TestParamInfo<TiffCase>& info) { return std::string(info.param.name); });

TEST(TiffRows, StripsInAnyOrderAndAHugeStripReadWhole) {
    // 2050 x 2050 in one strip: a band of more than 16 MiB of RGBA, read
    // whole; the same picture in strips of 16 rows streams.
    TiffPicture p;
    p.width = 2050;
    p.height = 2050;
    p.samplesPerPixel = 1;
    p.photometric = PHOTOMETRIC_MINISBLACK;
    p.compression = COMPRESSION_ADOBE_DEFLATE;
    p.samples.resize(size_t{p.width} * p.height);
    for (size_t i = 0; i < p.samples.size(); ++i) p.samples[i] = static_cast<uint16_t>(i % 251);
    const TempDir dir;
    const auto oneStrip = dir.Path() / "one.tif";
    Write(oneStrip, test::WriteTiff(p));
    p.rowsPerStrip = 16;
    const auto strips = dir.Path() / "strips.tif";
    Write(strips, test::WriteTiff(p));
    const Bytes want = RasterBytes(ReadPictureFile(oneStrip.string()).raster);

    const auto whole = OpenPictureRows(oneStrip.string());
    EXPECT_TRUE(whole->HoldsWholePicture());
    EXPECT_TRUE(ReadAll(*whole, 64) == want);

    const auto rows = OpenPictureRows(strips.string());
    EXPECT_FALSE(rows->HoldsWholePicture());
    EXPECT_EQ(rows->BandRows(), 16);
    // Rows scattered over the picture, across strip boundaries.
    const size_t rowBytes = size_t{p.width} * 3;
    for (const int32_t first : {2040, 0, 15, 1000, 31, 17, 2049}) {
        const int32_t count = std::min(3, 2050 - first);
        Bytes got(rowBytes * static_cast<size_t>(count));
        rows->ReadRows(first, count, got.data(), rowBytes);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin() + static_cast<std::ptrdiff_t>(first * rowBytes)))
            << "rows from " << first;
    }
}

// ---------------------------------------------------------------------------
// JPEG

TEST(JpegRows, GiveTheSameBytesForGreyColourCmykAndProgressive) {
    const TempDir dir;
    for (const int components : {1, 3, 4}) {
        for (const bool progressive : {false, true}) {
            JpegPicture p = test::JpegGradient(45, 37, components);
            p.progressive = progressive;
            p.densityUnit = 1;
            p.xDensity = 300;
            p.yDensity = 150;
            const auto path = dir.Path() / "picture.jpg";
            Write(path, test::WriteJpeg(p));
            SCOPED_TRACE(testing::Message() << components << " components" << (progressive ? ", progressive" : ""));
            ExpectRowsAsWhole(path, true);
        }
    }
}

TEST(JpegRows, StreamAPictureTooLargeToHoldWhole) {
    // 2400 x 2400 grey is 17 MB of raster: more than the limit, which the
    // rows need only a few of.
    const TempDir dir;
    const auto path = dir.Path() / "large.jpg";
    Write(path, test::WriteJpeg(test::JpegGradient(2400, 2400, 1)));
    ReadLimits limits;
    limits.memory = uint64_t{16} << 20;
    EXPECT_THROW(ReadPictureFile(path.string(), limits), Error);
    const auto rows = OpenPictureRows(path.string(), limits);
    EXPECT_FALSE(rows->HoldsWholePicture());
    EXPECT_EQ(rows->BandRows(), (1 << 20) / (2400 * 3));
    Bytes row(2400 * 3);
    for (int32_t y = 0; y < 2400; ++y) rows->ReadRows(y, 1, row.data(), row.size());
    EXPECT_EQ(row[0], row[1]);  // grey
}

// ---------------------------------------------------------------------------
// Damaged files

struct DamagedCase {
    const char* name;
    std::function<Bytes()> make;
};

class DamagedRows : public ::testing::TestWithParam<DamagedCase> {};

// Every cut of a file, and every one of a series of single damaged bytes,
// reads by rows exactly as it reads whole: the same bytes or the same message.
TEST_P(DamagedRows, GiveTheWholeReadersOutcome) {
    const Bytes file = GetParam().make();
    const TempDir dir;
    const auto path = dir.Path() / "damaged";
    const auto compare = [&](const Bytes& bytes, const std::string& what) {
        Write(path, bytes);
        Bytes wholePixels;
        Bytes rowPixels;
        const std::string whole = WholeOutcome(path, &wholePixels);
        // A damaged size may ask for a picture too large to hold, which
        // may still be read by rows.
        if (whole == "Out of memory") return true;
        const std::string rows = RowsOutcome(path, &rowPixels);
        EXPECT_EQ(rows, whole) << what;
        EXPECT_TRUE(rowPixels == wholePixels) << what;
        return !::testing::Test::HasFailure();
    };
    for (size_t size = 8; size < file.size(); size += 1 + size / 16) {
        if (!compare(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)), "cut at " + std::to_string(size))) return;
    }
    for (size_t at = 8; at < file.size(); at += 1 + at / 12) {
        Bytes bad = file;
        bad[at] ^= 0x5A;
        if (!compare(bad, "byte " + std::to_string(at) + " damaged")) return;
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, DamagedRows,
    ::testing::Values(DamagedCase{"Png",
                                  [] {
                                      PngPicture p;
                                      p.width = 23;
                                      p.height = 19;
                                      p.samples = Samples(23 * 19 * 3, 8, 5);
                                      return test::WritePng(p);
                                  }},
                      DamagedCase{"TiffLzwStrips",
                                  [] {
                                      TiffPicture p;
                                      p.width = 23;
                                      p.height = 19;
                                      p.rowsPerStrip = 3;
                                      p.compression = COMPRESSION_LZW;
                                      p.samples = Samples(23 * 19 * 3, 8, 9);
                                      return test::WriteTiff(p);
                                  }},
                      DamagedCase{"TiffTiles",
                                  [] {
                                      TiffPicture p;
                                      p.width = 40;
                                      p.height = 19;
                                      Tiles(p);
                                      p.samples = Samples(40 * 19 * 3, 8, 11);
                                      return test::WriteTiff(p);
                                  }},
                      DamagedCase{"Jpeg", [] { return test::WriteJpeg(test::JpegGradient(40, 40, 3)); }},
                      DamagedCase{"JpegCmyk", [] { return test::WriteJpeg(test::JpegGradient(24, 24, 4)); }}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

TEST(DamagedRows, BuffersSizedByTheFileAreOutOfMemoryBeyondTheLimit) {
    const TempDir dir;
    ReadLimits limits;
    limits.memory = 100000;
    // A 60000 x 1 TIFF: its band of RGBA needs 240 kB.
    TiffPicture wide;
    wide.width = 60000;
    wide.samples.assign(60000 * 3, 7);
    wide.compression = COMPRESSION_ADOBE_DEFLATE;
    const auto tiff = dir.Path() / "wide.tif";
    Write(tiff, test::WriteTiff(wide));
    EXPECT_THAT([&] { OpenPictureRows(tiff.string(), limits); }, ::testing::ThrowsMessage<Error>(::testing::StrEq("Out of memory")));
    // A 60000 x 1 PNG: libpng's row buffers need close to 1 MB.
    PngPicture png;
    png.width = 60000;
    png.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    png.bitDepth = 16;
    png.samples.assign(60000 * 4, 9);
    const auto pngPath = dir.Path() / "wide.png";
    Write(pngPath, test::WritePng(png));
    EXPECT_THAT([&] { OpenPictureRows(pngPath.string(), limits); }, ::testing::ThrowsMessage<Error>(::testing::StrEq("Out of memory")));
    limits.memory = uint64_t{4} << 20;
    EXPECT_NO_THROW(ReadAll(*OpenPictureRows(pngPath.string(), limits), 1));
}

// A file cut short after it was opened, as by another program rewriting
// it, fails with its reader's message (never a crash: a TIFF used to be
// read mapped), and CheckUnchanged tells it changed.
TEST(DamagedRows, AFileCutShortWhileReadFailsWithTheReadersMessage) {
    const TempDir dir;
    struct Kind {
        const char* name;
        const char* prefix;
        Bytes bytes;
    };
    PngPicture png;
    png.width = png.height = 300;
    png.samples = Samples(300 * 300 * 3, 8, 3);
    TiffPicture tiff;
    tiff.width = tiff.height = 300;
    tiff.rowsPerStrip = 8;
    tiff.samples = Samples(300 * 300 * 3, 8, 4);
    TiffPicture tiles = tiff;
    Tiles(tiles);
    JpegPicture jpeg;
    jpeg.width = jpeg.height = 300;
    jpeg.quality = 100;
    for (const uint16_t v : Samples(300 * 300 * 3, 8, 6)) jpeg.samples.push_back(static_cast<uint8_t>(v));
    const Kind kinds[] = {{"png", "Cannot read PNG file: ", test::WritePng(png)},
                          {"tif", "Cannot read TIFF file: ", test::WriteTiff(tiff)},
                          {"tiles.tif", "Cannot read TIFF file: ", test::WriteTiff(tiles)},
                          {"jpg", "Cannot read JPEG file: ", test::WriteJpeg(jpeg)}};
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        ASSERT_GT(kind.bytes.size(), 150000u);  // well beyond the readers' 64 kB buffers
        const auto path = dir.Path() / (std::string("picture.") + kind.name);
        Write(path, kind.bytes);
        const auto rows = OpenPictureRows(path.string());
        ASSERT_FALSE(rows->HoldsWholePicture());
        Bytes row(300 * 3);
        rows->ReadRows(0, 1, row.data(), row.size());
        std::filesystem::resize_file(path, kind.bytes.size() / 3);
        std::string message;
        int32_t y = 1;
        try {
            for (; y < 300; ++y) rows->ReadRows(y, 1, row.data(), row.size());
        } catch (const Error& e) {
            message = e.what();
        }
        EXPECT_THAT(message, ::testing::StartsWith(kind.prefix));
        // Once failed, the source keeps failing rather than handing out rows.
        ASSERT_LT(y, 300);
        EXPECT_THAT([&] { rows->ReadRows(y, 1, row.data(), row.size()); },
                    ::testing::ThrowsMessage<Error>(::testing::StrEq(message)));
        EXPECT_THAT([&] { rows->CheckUnchanged(); }, ::testing::ThrowsMessage<Error>(::testing::StrEq("Stream read error")));
    }
}

}  // namespace
