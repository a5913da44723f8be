// SPDX-License-Identifier: GPL-3.0-or-later
// PNG, TIFF and JPEG files written by the libraries themselves load to the
// pixels they hold; damaged ones give their message; resolutions and
// recognition by content.
#include "common/Error.h"
#include "common/MessageText.h"
#include "raster/PictureInput.h"
#include "raster/PictureReader.h"
#include "support/BmpBuilder.h"
#include "support/PictureWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <png.h>
#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

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

// The 8-bit value a sample of depth bits stands for.
uint8_t To8(uint16_t v, int depth) {
    if (depth == 16) return static_cast<uint8_t>((uint32_t{v} * 255 + 32767) / 65535);
    return static_cast<uint8_t>(uint32_t{v} * 255 / ((1u << depth) - 1));
}

// Expected raster as blue, green, red bytes, row 0 at the top.
using Bgr = std::vector<uint8_t>;

PngPicture OnePixelPng(uint16_t r, uint16_t g, uint16_t b) {
    PngPicture p;
    p.samples = {r, g, b};
    return p;
}

Picture Load(const std::vector<uint8_t>& bytes) { return ReadPictureMemory(bytes); }

// The message a load fails with, or "" when it loads.
std::string Failure(const std::vector<uint8_t>& bytes, std::optional<uint64_t> memoryLimit = std::nullopt) {
    try {
        ReadLimits limits;
        limits.memory = memoryLimit;
        ReadPictureMemory(bytes, limits);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// A PNG whose header states width x height, with a valid checksum.
std::vector<uint8_t> PngStating(uint32_t width, uint32_t height) {
    PngPicture p;
    p.samples = {1, 2, 3};
    std::vector<uint8_t> bytes = test::WritePng(p);
    PutBe32(&bytes[16], width);
    PutBe32(&bytes[20], height);
    PutBe32(&bytes[29], rastrace::test::PngCrc(&bytes[12], 17));
    return bytes;
}

// ---------------------------------------------------------------------------
// PNG: every colour type and depth.

class PngColourTypes : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngColourTypes, LoadToThePixelsTheyHold) {
    const PngCase& c = GetParam();
    // 13 x 11: odd, and more than 8 so every Adam7 pass holds pixels.
    const PngPicture p = test::PngOfCase(c, 13, 11, static_cast<uint32_t>(c.colourType * 17 + c.depth));
    const int channels = test::PngChannels(c.colourType);
    const size_t pixels = size_t{p.width} * p.height;

    Bgr want;
    for (size_t i = 0; i < pixels; ++i) {
        const uint16_t* s = p.samples.data() + i * channels;
        uint8_t r = 0, g = 0, b = 0;
        if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
            r = p.palette[3 * s[0]];
            g = p.palette[3 * s[0] + 1];
            b = p.palette[3 * s[0] + 2];
        } else if (channels >= 3) {
            r = To8(s[0], c.depth);
            g = To8(s[1], c.depth);
            b = To8(s[2], c.depth);
        } else {
            r = g = b = To8(s[0], c.depth);
        }
        want.insert(want.end(), {b, g, r});
    }

    const Picture picture = Load(test::WritePng(p));
    EXPECT_EQ(picture.format, PictureFormat::Png);
    ASSERT_EQ(picture.raster.Width(), 13);
    ASSERT_EQ(picture.raster.Height(), 11);
    EXPECT_EQ(RasterBytes(picture.raster), want);
    EXPECT_FALSE(picture.dpiX);
    EXPECT_FALSE(picture.dpiY);
}

INSTANTIATE_TEST_SUITE_P(
    All, PngColourTypes,
    ::testing::Values(PngCase{"Grey1", 0, 1, false}, PngCase{"Grey2", 0, 2, false}, PngCase{"Grey4", 0, 4, false},
                      PngCase{"Grey8", 0, 8, false}, PngCase{"Grey16", 0, 16, false},
                      PngCase{"Rgb8", 2, 8, false}, PngCase{"Rgb16", 2, 16, false},
                      PngCase{"Palette1", 3, 1, false}, PngCase{"Palette2", 3, 2, false},
                      PngCase{"Palette4", 3, 4, false}, PngCase{"Palette8", 3, 8, false},
                      PngCase{"GreyAlpha8", 4, 8, false}, PngCase{"GreyAlpha16", 4, 16, false},
                      PngCase{"Rgba8", 6, 8, false}, PngCase{"Rgba16", 6, 16, false},
                      PngCase{"Grey2Interlaced", 0, 2, true}, PngCase{"Rgb16Interlaced", 2, 16, true},
                      PngCase{"Palette4Interlaced", 3, 4, true}, PngCase{"Rgba8Interlaced", 6, 8, true}),
    [](const ::testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

TEST(PngSixteenBits, RoundsToTheNearestEightBitValue) {
    // 128 of 65535 is 0.498 of an 8-bit step (down), 129 is 0.502 (up);
    // 65407 is 254.502 (up to 255); taking the high byte would give 0, 0, 255.
    PngPicture p;
    p.width = 1;
    p.height = 1;
    p.bitDepth = 16;
    p.samples = {128, 129, 65407};
    const Picture picture = Load(test::WritePng(p));
    EXPECT_EQ(RasterBytes(picture.raster), (Bgr{255, 1, 0}));
}

// ---------------------------------------------------------------------------
// TIFF: depths, photometric interpretations, strips, tiles, planes.

class TiffLayouts : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffLayouts, LoadToThePixelsTheyHold) {
    const TiffCase& c = GetParam();
    // 21 wide: not a multiple of the tile width.
    TiffPicture p = test::TiffOfCase(c, 21, 19, c.bits + 3u * c.samplesPerPixel + c.photometric);
    const size_t pixels = size_t{p.width} * p.height;
    if (c.adjust) c.adjust(p);

    Bgr want;
    for (size_t i = 0; i < pixels; ++i) {
        const uint16_t* s = p.samples.data() + i * c.samplesPerPixel;
        uint8_t r = 0, g = 0, b = 0;
        if (c.photometric == PHOTOMETRIC_PALETTE) {
            const size_t entries = size_t{1} << c.bits;
            r = static_cast<uint8_t>(p.colormap[s[0]] >> 8);
            g = static_cast<uint8_t>(p.colormap[entries + s[0]] >> 8);
            b = static_cast<uint8_t>(p.colormap[2 * entries + s[0]] >> 8);
        } else if (c.photometric == PHOTOMETRIC_RGB) {
            r = To8(s[0], c.bits);
            g = To8(s[1], c.bits);
            b = To8(s[2], c.bits);
        } else {
            r = g = b = To8(s[0], c.bits);
            if (c.photometric == PHOTOMETRIC_MINISWHITE) r = g = b = static_cast<uint8_t>(255 - r);
        }
        want.insert(want.end(), {b, g, r});
    }
    if (p.orientation == ORIENTATION_BOTLEFT || p.orientation == ORIENTATION_TOPRIGHT) {
        // The file's rows run bottom-up (or its columns right to left).
        Bgr flipped(want.size());
        for (uint32_t y = 0; y < p.height; ++y) {
            for (uint32_t x = 0; x < p.width; ++x) {
                const uint32_t fy = p.orientation == ORIENTATION_BOTLEFT ? p.height - 1 - y : y;
                const uint32_t fx = p.orientation == ORIENTATION_TOPRIGHT ? p.width - 1 - x : x;
                std::memcpy(&flipped[(size_t{y} * p.width + x) * 3], &want[(size_t{fy} * p.width + fx) * 3], 3);
            }
        }
        want = flipped;
    }

    const Picture picture = Load(test::WriteTiff(p));
    EXPECT_EQ(picture.format, PictureFormat::Tiff);
    ASSERT_EQ(picture.raster.Width(), 21);
    ASSERT_EQ(picture.raster.Height(), 19);
    EXPECT_EQ(RasterBytes(picture.raster), want);
}

void Strips(TiffPicture& p) { p.rowsPerStrip = 4; }

INSTANTIATE_TEST_SUITE_P(
    All, TiffLayouts,
    ::testing::Values(
        TiffCase{"Rgb8", PHOTOMETRIC_RGB, 3, 8, nullptr}, TiffCase{"Rgb16", PHOTOMETRIC_RGB, 3, 16, nullptr},
        TiffCase{"Rgba8", PHOTOMETRIC_RGB, 4, 8, nullptr}, TiffCase{"Rgba16", PHOTOMETRIC_RGB, 4, 16, nullptr},
        TiffCase{"Grey1", PHOTOMETRIC_MINISBLACK, 1, 1, nullptr},
        TiffCase{"Grey4", PHOTOMETRIC_MINISBLACK, 1, 4, nullptr},
        TiffCase{"Grey8", PHOTOMETRIC_MINISBLACK, 1, 8, nullptr},
        TiffCase{"Grey16", PHOTOMETRIC_MINISBLACK, 1, 16, nullptr},
        TiffCase{"GreyAlpha8", PHOTOMETRIC_MINISBLACK, 2, 8, nullptr},
        TiffCase{"WhiteIsZero8", PHOTOMETRIC_MINISWHITE, 1, 8, nullptr},
        TiffCase{"Palette4", PHOTOMETRIC_PALETTE, 1, 4, nullptr},
        TiffCase{"Palette8", PHOTOMETRIC_PALETTE, 1, 8, nullptr},
        TiffCase{"Rgb8Strips", PHOTOMETRIC_RGB, 3, 8, Strips},
        TiffCase{"Grey16Strips", PHOTOMETRIC_MINISBLACK, 1, 16, Strips},
        TiffCase{"Rgb8Tiles", PHOTOMETRIC_RGB, 3, 8, Tiles},
        TiffCase{"Rgb16Tiles", PHOTOMETRIC_RGB, 3, 16, Tiles},
        TiffCase{"Palette8Tiles", PHOTOMETRIC_PALETTE, 1, 8, Tiles},
        TiffCase{"Rgb8SeparatePlanes", PHOTOMETRIC_RGB, 3, 8, [](TiffPicture& p) { p.planar = PLANARCONFIG_SEPARATE; }},
        TiffCase{"Rgb8SeparatePlaneTiles", PHOTOMETRIC_RGB, 3, 8,
                 [](TiffPicture& p) {
                     p.planar = PLANARCONFIG_SEPARATE;
                     Tiles(p);
                 }},
        TiffCase{"Rgb8Lzw", PHOTOMETRIC_RGB, 3, 8,
                 [](TiffPicture& p) {
                     p.compression = COMPRESSION_LZW;
                     Strips(p);
                 }},
        TiffCase{"Rgb8Deflate", PHOTOMETRIC_RGB, 3, 8, [](TiffPicture& p) { p.compression = COMPRESSION_ADOBE_DEFLATE; }},
        TiffCase{"Grey8PackBits", PHOTOMETRIC_MINISBLACK, 1, 8, [](TiffPicture& p) { p.compression = COMPRESSION_PACKBITS; }},
        TiffCase{"Rgb8BottomUp", PHOTOMETRIC_RGB, 3, 8,
                 [](TiffPicture& p) {
                     p.orientation = ORIENTATION_BOTLEFT;
                     Strips(p);
                 }},
        TiffCase{"Rgb8RightToLeftTiles", PHOTOMETRIC_RGB, 3, 8,
                 [](TiffPicture& p) {
                     p.orientation = ORIENTATION_TOPRIGHT;
                     Tiles(p);
                 }}),
    [](const ::testing::TestParamInfo<TiffCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// JPEG

Bgr RgbToBgr(Bgr rgb) {
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
    return rgb;
}

TEST(JpegReader, GivesLibjpegsOwnDecodeInBlueGreenRed) {
    for (const bool progressive : {false, true}) {
        JpegPicture p = test::JpegGradient(37, 29, 3);
        p.progressive = progressive;
        const std::vector<uint8_t> file = test::WriteJpeg(p);
        const Picture picture = Load(file);
        EXPECT_EQ(picture.format, PictureFormat::Jpeg);
        ASSERT_EQ(picture.raster.Width(), 37);
        ASSERT_EQ(picture.raster.Height(), 29);
        EXPECT_EQ(RasterBytes(picture.raster), RgbToBgr(test::DecodeJpegRgb(file))) << "progressive " << progressive;
    }
}

TEST(JpegReader, KeepsColoursWithinJpegsLossAtQualityHundred) {
    JpegPicture p;
    p.width = 24;
    p.height = 16;
    p.quality = 100;
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            p.samples.insert(p.samples.end(), {static_cast<uint8_t>(x * 3 + y * 2 + 20), static_cast<uint8_t>(200 - x * 4),
                                               static_cast<uint8_t>(90 + y * 5)});
        }
    }
    const Picture picture = Load(test::WriteJpeg(p));
    const Bgr got = RasterBytes(picture.raster);
    ASSERT_EQ(got.size(), p.samples.size());
    for (size_t i = 0; i < got.size(); i += 3) {
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[i + 2 - c], p.samples[i + c], 4) << "sample " << i + c;
    }
}

TEST(JpegReader, ReadsAFlatGreyPictureExactly) {
    JpegPicture p;
    p.width = 17;
    p.height = 9;
    p.components = 1;
    p.samples.assign(17 * 9, 0x5A);
    const Picture picture = Load(test::WriteJpeg(p));
    EXPECT_EQ(RasterBytes(picture.raster), Bgr(17 * 9 * 3, 0x5A));
}

TEST(JpegReader, TurnsInvertedCmykIntoRgb) {
    // Adobe's inverted CMYK: stored C' = 255 - C, so R = C' * K' / 255.
    JpegPicture p;
    p.width = 16;
    p.height = 8;
    p.components = 4;
    p.quality = 100;
    for (int i = 0; i < 16 * 8; ++i) p.samples.insert(p.samples.end(), {200, 100, 255, 128});
    const Picture picture = Load(test::WriteJpeg(p));
    const Bgr got = RasterBytes(picture.raster);
    for (size_t i = 0; i < got.size(); i += 3) {
        EXPECT_NEAR(got[i + 2], 200 * 128 / 255, 2);
        EXPECT_NEAR(got[i + 1], 100 * 128 / 255, 2);
        EXPECT_NEAR(got[i], 255 * 128 / 255, 2);
    }
}

// ---------------------------------------------------------------------------
// Resolution

TEST(StatedResolution, RoundsEachUnitToTheNearestWholeDpi) {
    EXPECT_EQ(DpiFromPixelsPerMetre(47244), 1200);
    EXPECT_EQ(DpiFromPixelsPerMetre(23622), 600);
    EXPECT_EQ(DpiFromPixelsPerMetre(2835), 72);
    EXPECT_EQ(DpiFromPixelsPerMetre(20), 1);    // 0.508 dpi
    EXPECT_EQ(DpiFromPixelsPerMetre(19), std::nullopt);  // 0.4826 dpi: none
    EXPECT_EQ(DpiFromPixelsPerMetre(0), std::nullopt);
    EXPECT_EQ(DpiFromPixelsPerMetre(-47244), std::nullopt);
    // 12500 pixels per metre is exactly 317.5 dpi: halves round up.
    EXPECT_EQ(DpiFromPixelsPerMetre(12500), 318);
    EXPECT_EQ(DpiFromPixelsPerCentimetre(118.11), 300);
    EXPECT_EQ(DpiFromPixelsPerCentimetre(125), 318);  // 317.5
    EXPECT_EQ(DpiFromPixelsPerInch(299.5), 300);
    EXPECT_EQ(DpiFromPixelsPerInch(299.49), 299);
    EXPECT_EQ(DpiFromPixelsPerInch(std::nan("")), std::nullopt);
    EXPECT_EQ(DpiFromPixelsPerInch(3e9), std::nullopt);
}

struct ResolutionCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
    std::optional<int32_t> x;
    std::optional<int32_t> y;
};

class StatedResolutions : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(StatedResolutions, ComeWithThePicture) {
    const Picture picture = Load(GetParam().file());
    EXPECT_EQ(StatedDpi(picture, Axis::X), GetParam().x);
    EXPECT_EQ(StatedDpi(picture, Axis::Y), GetParam().y);
}

std::vector<uint8_t> BmpWith(int32_t x, int32_t y) {
    test::BmpBuilder b;
    b.xPelsPerMeter = x;
    b.yPelsPerMeter = y;
    b.pixels = {1, 2, 3, 0};
    return b.Build();
}

std::vector<uint8_t> PngWith(uint32_t x, uint32_t y, int unit) {
    PngPicture p;
    p.samples = {1, 2, 3};
    p.xPerUnit = x;
    p.yPerUnit = y;
    p.physUnit = unit;
    return test::WritePng(p);
}

std::vector<uint8_t> TiffWith(std::optional<float> x, std::optional<float> y, std::optional<uint16_t> unit) {
    TiffPicture p;
    p.samples = {1, 2, 3};
    p.xResolution = x;
    p.yResolution = y;
    p.resolutionUnit = unit;
    return test::WriteTiff(p);
}

std::vector<uint8_t> JpegWith(int unit, uint16_t x, uint16_t y) {
    JpegPicture p = test::JpegGradient(8, 8, 3);
    p.densityUnit = unit;
    p.xDensity = x;
    p.yDensity = y;
    return test::WriteJpeg(p);
}

INSTANTIATE_TEST_SUITE_P(
    All, StatedResolutions,
    ::testing::Values(
        ResolutionCase{"BmpPixelsPerMetre", [] { return BmpWith(47244, 23622); }, 1200, 600},
        ResolutionCase{"BmpNone", [] { return BmpWith(0, 0); }, std::nullopt, std::nullopt},
        ResolutionCase{"BmpNegative", [] { return BmpWith(-1, 11811); }, std::nullopt, 300},
        ResolutionCase{"PngPerMetre", [] { return PngWith(47244, 11811, PNG_RESOLUTION_METER); }, 1200, 300},
        ResolutionCase{"PngAspectOnly", [] { return PngWith(1, 2, PNG_RESOLUTION_UNKNOWN); }, std::nullopt,
                       std::nullopt},
        ResolutionCase{"PngNone", [] { return test::WritePng(OnePixelPng(1, 2, 3)); }, std::nullopt,
                       std::nullopt},
        ResolutionCase{"TiffInch", [] { return TiffWith(600, 1200, RESUNIT_INCH); }, 600, 1200},
        ResolutionCase{"TiffInchByDefault", [] { return TiffWith(400, 400, std::nullopt); }, 400, 400},
        ResolutionCase{"TiffCentimetre", [] { return TiffWith(472.44f, 118.11f, RESUNIT_CENTIMETER); }, 1200, 300},
        ResolutionCase{"TiffNoUnit", [] { return TiffWith(300, 300, RESUNIT_NONE); }, std::nullopt, std::nullopt},
        ResolutionCase{"TiffNone", [] { return TiffWith(std::nullopt, std::nullopt, std::nullopt); }, std::nullopt,
                       std::nullopt},
        ResolutionCase{"JpegPerInch", [] { return JpegWith(1, 600, 300); }, 600, 300},
        ResolutionCase{"JpegPerCentimetre", [] { return JpegWith(2, 472, 118); }, 1199, 300},
        ResolutionCase{"JpegAspectOnly", [] { return JpegWith(0, 1, 1); }, std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<ResolutionCase>& info) { return std::string(info.param.name); });

TEST(StatedResolution, MissingOneFailsWithAClearMessage) {
    const Picture picture = Load(BmpWith(0, 11811));
    EXPECT_EQ(RequireStatedDpi(picture, Axis::Y), 300);
    try {
        RequireStatedDpi(picture, Axis::X);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(ShownText(e.what()), "The picture file states no X resolution.");
    }
}

// ---------------------------------------------------------------------------
// Recognition by content, files and pipes

TEST(Recognition, GoesByTheFirstBytesNotTheName) {
    EXPECT_EQ(RecognizeFormat(std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}), PictureFormat::Png);
    EXPECT_EQ(RecognizeFormat(std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A}), PictureFormat::Bmp);
    EXPECT_EQ(RecognizeFormat(std::vector<uint8_t>{'I', 'I', 42, 0}), PictureFormat::Tiff);
    EXPECT_EQ(RecognizeFormat(std::vector<uint8_t>{'M', 'M', 0, 42}), PictureFormat::Tiff);
    EXPECT_EQ(RecognizeFormat(std::vector<uint8_t>{'I', 'I', 43, 0}), PictureFormat::Tiff);
    EXPECT_EQ(RecognizeFormat(std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0}), PictureFormat::Jpeg);
    EXPECT_EQ(RecognizeFormat(std::vector<uint8_t>{'B', 'M'}), PictureFormat::Bmp);
    EXPECT_EQ(RecognizeFormat({}), PictureFormat::Bmp);

    const TempDir dir;
    const auto png = dir.Path() / "scan.bmp";
    const auto jpeg = dir.Path() / "scan.png";
    const auto bmp = dir.Path() / "scan.tif";
    test::WriteFile(png, test::WritePng(OnePixelPng(10, 20, 30)));
    test::WriteFile(jpeg, test::WriteJpeg(test::JpegGradient(8, 8, 1)));
    test::WriteFile(bmp, BmpWith(0, 0));
    const Picture fromPng = ReadPictureFile(png.string());
    EXPECT_EQ(fromPng.format, PictureFormat::Png);
    EXPECT_EQ(RasterBytes(fromPng.raster), (Bgr{30, 20, 10}));
    EXPECT_EQ(ReadPictureFile(jpeg.string()).format, PictureFormat::Jpeg);
    // Uncompressed tiles of a file on disk, whose size is no multiple of 1024.
    TiffPicture tiled;
    tiled.width = 20;
    tiled.height = 17;
    tiled.tileWidth = tiled.tileLength = 16;
    tiled.samples.assign(20 * 17 * 3, 0);
    tiled.samples[(16 * 20 + 19) * 3] = 200;  // red, bottom right: in the last tile
    const auto tiff = dir.Path() / "scan.jpg";
    test::WriteFile(tiff, test::WriteTiff(tiled));
    const Picture fromTiff = ReadPictureFile(tiff.string());
    EXPECT_EQ(fromTiff.format, PictureFormat::Tiff);
    EXPECT_EQ(fromTiff.raster.PixelColor(19, 16), 200u);
    EXPECT_EQ(fromTiff.raster.PixelColor(18, 16), 0u);
    const Picture fromBmp = ReadPictureFile(bmp.string());
    EXPECT_EQ(fromBmp.format, PictureFormat::Bmp);
    EXPECT_EQ(RasterBytes(fromBmp.raster), (Bgr{1, 2, 3}));
}

TEST(PictureFiles, KeepTheBitmapReadersOwnMessagesAndEmptyFile) {
    const TempDir dir;
    const auto missing = dir.Path() / "missing.png";
    try {
        ReadPictureFile(missing.string());
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing.string() + "\". No such file or directory");
    }
    const auto empty = dir.Path() / "empty.png";
    test::WriteFile(empty, {});
    EXPECT_TRUE(ReadPictureFile(empty.string()).raster.Empty());
    const auto text = dir.Path() / "text.jpg";
    test::WriteFile(text, std::vector<uint8_t>(20, 'x'));
    EXPECT_THROW(
        try { ReadPictureFile(text.string()); } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid");
            throw;
        },
        Error);
}

// Feeds bytes through a named pipe, as a shell's process substitution does.
Picture ReadThroughPipe(const std::vector<uint8_t>& bytes) {
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early must not end the test run
    const TempDir dir;
    const auto fifo = dir.Path() / "picture";
    if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
    std::thread writer([&] {
        FILE* out = std::fopen(fifo.c_str(), "wb");
        if (out == nullptr) return;
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    });
    struct Joiner {
        std::thread& t;
        ~Joiner() { t.join(); }
    } joiner{writer};
    return ReadPictureFile(fifo.string());
}

TEST(PictureFiles, LoadFromAPipe) {
    const std::vector<uint8_t> png = test::WritePng(OnePixelPng(10, 20, 30));
    EXPECT_EQ(RasterBytes(ReadThroughPipe(png).raster), (Bgr{30, 20, 10}));
    TiffPicture tiff;
    tiff.samples = {4, 5, 6};
    EXPECT_EQ(RasterBytes(ReadThroughPipe(test::WriteTiff(tiff)).raster), (Bgr{6, 5, 4}));
    const Picture bmp = ReadThroughPipe(BmpWith(47244, 47244));
    EXPECT_EQ(RasterBytes(bmp.raster), (Bgr{1, 2, 3}));
    EXPECT_EQ(bmp.dpiX, 1200);
    try {
        ReadThroughPipe(std::vector<uint8_t>(1000, 'x'));  // one atomic write: all in the pipe before the reader stops
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
}

TEST(PictureFiles, ListEachFamilysPatterns) {
    const auto& types = PictureFileTypes();
    ASSERT_EQ(types.size(), 4u);
    EXPECT_EQ(types[1].family, "PNG");
    EXPECT_THAT(types[2].patterns, ::testing::ElementsAre("*.tif", "*.tiff"));
    EXPECT_THAT(types[3].patterns, ::testing::ElementsAre("*.jpg", "*.jpeg", "*.jpe"));
}

// ---------------------------------------------------------------------------
// Damaged files

void ExpectShownMessageStartsWith(const std::string& message, const std::string& prefix) {
    EXPECT_THAT(message, ::testing::StartsWith(prefix));
    const std::string shown = ShownText(message);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), '.') << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
}

// Every cut of a good file fails with the reader's message (a JPEG or PNG
// cut after its last row may still load: nothing after it is needed).
void ExpectEveryCutFails(const std::vector<uint8_t>& file, const std::string& prefix, size_t keepAtEnd) {
    for (size_t size = 1; size + keepAtEnd < file.size(); ++size) {
        const std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string message = Failure(cut);
        if (RecognizeFormat(cut) == PictureFormat::Bmp) continue;  // too short to be recognised
        ExpectShownMessageStartsWith(message, prefix);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "cut at " << size << " of " << file.size() << ": " << message;
            return;
        }
    }
}

TEST(DamagedPng, EveryCutGivesTheMessage) {
    PngPicture p;
    p.width = 9;
    p.height = 7;
    p.samples = Samples(9 * 7 * 3, 8, 5);
    const std::vector<uint8_t> file = test::WritePng(p);
    ExpectEveryCutFails(file, "Cannot read PNG file: ", 12 + 12);  // IEND and the checksum of the last IDAT
    std::vector<uint8_t> cut(file.begin(), file.begin() + 40);
    EXPECT_EQ(Failure(cut), "Cannot read PNG file: unexpected end of file");
}

TEST(DamagedPng, CorruptHeaderAndDataGiveLibpngsReason) {
    const std::vector<uint8_t> good = test::WritePng(OnePixelPng(1, 2, 3));
    std::vector<uint8_t> badHeader = good;
    badHeader[17] ^= 0x40;  // the width, with the checksum left as it was
    EXPECT_EQ(Failure(badHeader), "Cannot read PNG file: IHDR: CRC error");
    EXPECT_EQ(Failure(PngStating(0, 5)), "Cannot read PNG file: Invalid IHDR data");
    std::vector<uint8_t> badData = good;
    badData[good.size() - 12 - 8] ^= 0xFF;  // inside the image data's checksum
    ExpectShownMessageStartsWith(Failure(badData), "Cannot read PNG file: ");
}

TEST(DamagedFiles, LibraryReasonsBecomeOneLineEndingInAFullStop) {
    const auto message = [](const char* reason) {
        try {
            ThrowCannotRead("TIFF", reason);
        } catch (const Error& e) {
            return ShownText(e.what());
        }
        return std::string();
    };
    // libtiff's own text for a file whose ink count disagrees with its samples.
    EXPECT_EQ(message("Tag NumberOfInks:\n  Value 523 of NumberOfInks is different from the SamplesPerPixel value 1\n"),
              "Cannot read TIFF file: Tag NumberOfInks: Value 523 of NumberOfInks is different from the "
              "SamplesPerPixel value 1.");
    EXPECT_EQ(message("bad version number 10752 (0x2a00)"), "Cannot read TIFF file: bad version number 10752 (0x2a00).");
    EXPECT_EQ(message("Read error.\t"), "Cannot read TIFF file: Read error.");
    EXPECT_EQ(message(" \n"), "Cannot read TIFF file: unknown error.");
}

TEST(DamagedFiles, HugeDeclaredSizesAreOutOfMemoryBeforeAnyAllocation) {
    const uint64_t limit = uint64_t{16} << 20;
    EXPECT_EQ(Failure(PngStating(100000, 100000), limit), "Out of memory");
    EXPECT_EQ(Failure(PngStating(0x7FFFFFFF, 1), limit), "Out of memory");
    EXPECT_EQ(Failure(test::WriteJpeg(test::JpegGradient(2400, 2400, 1)), limit), "Out of memory");

    // A 60000 x 1 TIFF fits 16 MiB, not 100 kB.
    TiffPicture wide;
    wide.width = 60000;
    wide.samples.assign(60000 * 3, 7);
    wide.compression = COMPRESSION_ADOBE_DEFLATE;
    const std::vector<uint8_t> file = test::WriteTiff(wide);
    EXPECT_EQ(Failure(file, limit), "");
    EXPECT_EQ(Failure(file, 100000), "Out of memory");
}

TEST(DamagedTiff, CutsAndCorruptHeadersGiveTheMessage) {
    TiffPicture p;
    p.width = 9;
    p.height = 7;
    p.rowsPerStrip = 2;
    p.compression = COMPRESSION_LZW;
    p.samples = Samples(9 * 7 * 3, 8, 9);
    const std::vector<uint8_t> file = test::WriteTiff(p);
    ExpectEveryCutFails(file, "Cannot read TIFF file: ", 0);
    std::vector<uint8_t> badMagic = file;
    badMagic[2] = 41;  // "II" then 41: recognised by nothing
    EXPECT_EQ(Failure(badMagic), "Bitmap image is not valid");
    std::vector<uint8_t> badOffset = file;
    badOffset[4] = badOffset[5] = badOffset[6] = 0xFF;  // the first directory's offset, past the end
    ExpectShownMessageStartsWith(Failure(badOffset), "Cannot read TIFF file: ");
}

TEST(DamagedJpeg, CutsAndCorruptHeadersGiveTheMessage) {
    const std::vector<uint8_t> file = test::WriteJpeg(test::JpegGradient(24, 24, 3));
    ExpectEveryCutFails(file, "Cannot read JPEG file: ", 2);  // the end marker is not needed
    std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2));
    EXPECT_EQ(Failure(cut), "Cannot read JPEG file: Premature end of input file");
    std::vector<uint8_t> badMarker = file;
    badMarker[3] = 0xDA;  // the first marker starts the scan, before any frame header
    EXPECT_EQ(Failure(badMarker), "Cannot read JPEG file: Invalid JPEG file structure: SOS before SOF");
}

TEST(DamagedJpeg, MoreThanFiveHundredScansAreRefused) {
    // Each scan goes over the whole picture again: a small file of many
    // scans could keep the reader busy for minutes.
    JpegPicture p = test::JpegGradient(16, 16, 1);
    p.manyScans = true;
    EXPECT_EQ(Failure(test::WriteJpeg(p)), "Cannot read JPEG file: more than 500 scans");
}

TEST(DamagedJpeg, ProgressiveFileCutShortFails) {
    JpegPicture p = test::JpegGradient(40, 40, 3);
    p.progressive = true;
    const std::vector<uint8_t> file = test::WriteJpeg(p);
    const std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 3 / 4));
    EXPECT_EQ(Failure(cut), "Cannot read JPEG file: Premature end of input file");
}

}  // namespace
