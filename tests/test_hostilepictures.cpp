// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures a hostile or careless writer makes: huge declared sizes over
// almost no data (decompression bombs), damaged JPEG data, and the eight
// orientations of TIFF and JPEG, through every reader and the command line.

#include "common/Error.h"
#include "raster/PictureReader.h"
#include "raster/PictureRows.h"
#include "support/BmpBuilder.h"
#include "support/Files.h"
#include "support/PictureWriter.h"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace rastrace {
namespace {

using Bytes = std::vector<uint8_t>;
using test::JpegPicture;
using test::PngPicture;
using test::TiffPicture;

void PutBe(uint8_t* p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
}

// A real one-pixel PNG whose header then claims width x height.
Bytes PngDeclaring(uint32_t width, uint32_t height, bool interlaced) {
    PngPicture p;
    p.samples = {1, 2, 3};
    p.interlaced = interlaced;
    Bytes bytes = test::WritePng(p);
    PutBe(&bytes[16], width, 4);
    PutBe(&bytes[20], height, 4);
    PutBe(&bytes[29], test::PngCrc(&bytes[12], 17), 4);
    return bytes;
}

// A real 16 x 16 JPEG whose frame header then claims width x height.
Bytes JpegDeclaring(uint16_t width, uint16_t height, bool progressive) {
    JpegPicture p = test::JpegGradient(16, 16, 3);
    p.progressive = progressive;
    Bytes bytes = test::WriteJpeg(p);
    for (size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            PutBe(&bytes[i + 5], height, 2);
            PutBe(&bytes[i + 7], width, 2);
            return bytes;
        }
    }
    ADD_FAILURE() << "no frame header";
    return bytes;
}

// Sets a little-endian TIFF's first directory entries of these tags to v.
void PutTiffTag(Bytes& bytes, uint16_t tag, uint32_t v) {
    const auto u16 = [&](size_t at) { return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8); };
    const size_t ifd = u16(4) | u16(6) << 16;
    for (uint32_t i = 0, n = u16(ifd); i < n; ++i) {
        const size_t entry = ifd + 2 + 12 * size_t{i};
        if (u16(entry) != tag) continue;
        const int size = u16(entry + 2) == TIFF_SHORT ? 2 : 4;
        for (int k = 0; k < size; ++k) bytes[entry + 8 + k] = static_cast<uint8_t>(v >> (8 * k));
        return;
    }
    ADD_FAILURE() << "no tag " << tag;
}

// A real 16 x 16 TIFF in one strip whose directory then claims width x height.
Bytes TiffDeclaring(uint32_t width, uint32_t height, uint16_t compression) {
    TiffPicture p;
    p.width = 16;
    p.height = 16;
    p.samples.assign(16 * 16 * 3, 90);
    p.compression = compression;
    Bytes bytes = test::WriteTiff(p);
    PutTiffTag(bytes, TIFFTAG_IMAGEWIDTH, width);
    PutTiffTag(bytes, TIFFTAG_IMAGELENGTH, height);
    PutTiffTag(bytes, TIFFTAG_ROWSPERSTRIP, height);
    return bytes;
}

struct Bomb {
    std::string name;
    Bytes bytes;
    std::string message;
};

std::vector<Bomb> Bombs() {
    const auto tooLittle = [](const char* kind, uint32_t w, uint32_t h) {
        return std::string("Cannot read ") + kind + " file: too little image data for a picture of " +
               std::to_string(w) + " x " + std::to_string(h) + " pixels";
    };
    return {
        {"png", PngDeclaring(65535, 65535, false), tooLittle("PNG", 65535, 65535)},
        {"png-wide", PngDeclaring(0x7FFFFFFF, 2, false), tooLittle("PNG", 0x7FFFFFFF, 2)},
        {"png-interlaced", PngDeclaring(30000, 30000, true), tooLittle("PNG", 30000, 30000)},
        {"jpeg-baseline", JpegDeclaring(65500, 65500, false), tooLittle("JPEG", 65500, 65500)},
        {"jpeg-progressive", JpegDeclaring(65500, 65500, true), tooLittle("JPEG", 65500, 65500)},
        {"jpeg-tall", JpegDeclaring(16, 65500, false), tooLittle("JPEG", 16, 65500)},
        {"tiff-deflate", TiffDeclaring(65535, 65535, COMPRESSION_ADOBE_DEFLATE), tooLittle("TIFF", 65535, 65535)},
        {"tiff-lzw", TiffDeclaring(65535, 65535, COMPRESSION_LZW), tooLittle("TIFF", 65535, 65535)},
        {"tiff-packbits", TiffDeclaring(20000, 20000, COMPRESSION_PACKBITS), tooLittle("TIFF", 20000, 20000)},
    };
}

std::string WholeFailure(const Bytes& bytes) {
    try {
        ReadPictureMemory(bytes);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

std::string RowsFailure(const std::filesystem::path& path) {
    try {
        const auto rows = OpenPictureRows(path.string());
        Bytes row(static_cast<size_t>(rows->Width()) * 3);
        for (int32_t y = 0; y < rows->Height(); ++y) rows->ReadRows(y, 1, row.data(), static_cast<ptrdiff_t>(row.size()));
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

TEST(Bombs, AreRefusedByEveryReaderBeforeAnythingIsDecoded) {
    const test::TempDir dir;
    for (const Bomb& bomb : Bombs()) {
        const auto path = dir.Path() / bomb.name;
        test::WriteFile(path, bomb.bytes);
        EXPECT_LT(bomb.bytes.size(), 2000u) << bomb.name;
        EXPECT_EQ(WholeFailure(bomb.bytes), bomb.message) << bomb.name;
        EXPECT_EQ(RowsFailure(path), bomb.message) << bomb.name;
    }
}

TEST(Bombs, FlatPicturesThatCompressBestStillLoad) {
    // One colour everywhere: as close to each compression's greatest
    // ratio as a real writer comes.
    PngPicture png;
    png.width = 3000;
    png.height = 2000;
    png.samples.assign(size_t{3000} * 2000 * 3, 200);
    EXPECT_EQ(WholeFailure(test::WritePng(png)), "");
    for (const uint16_t compression : {COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW, COMPRESSION_PACKBITS}) {
        TiffPicture tiff;
        tiff.width = 2048;
        tiff.height = 1024;
        tiff.samples.assign(size_t{2048} * 1024 * 3, 200);
        tiff.compression = compression;
        EXPECT_EQ(WholeFailure(test::WriteTiff(tiff)), "") << compression;
    }
    JpegPicture jpeg;
    jpeg.width = 2000;
    jpeg.height = 2000;
    jpeg.components = 1;
    jpeg.samples.assign(size_t{2000} * 2000, 128);
    jpeg.quality = 10;
    EXPECT_EQ(WholeFailure(test::WriteJpeg(jpeg)), "");
}

TEST(Bombs, AProgressiveJpegsCoefficientsShareTheMemoryLimitWithThePicture) {
    // 2000 x 2000 in colour: 11.4 MiB of picture, and as much again of
    // coefficients for a progressive file, which libjpeg holds whole.
    JpegPicture p = test::JpegGradient(2000, 2000, 3);
    const Bytes baseline = test::WriteJpeg(p);
    p.progressive = true;
    const Bytes progressive = test::WriteJpeg(p);
    ReadLimits limits;
    limits.memory = uint64_t{16} << 20;
    const auto failure = [&limits](const Bytes& bytes) {
        try {
            ReadPictureMemory(bytes, limits);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(failure(baseline), "");
    EXPECT_EQ(failure(progressive), "Out of memory");
    limits.memory = uint64_t{32} << 20;
    EXPECT_EQ(failure(progressive), "");
}

// ---------------------------------------------------------------------------
// The command line on bombs: refused within a second and within 64 MB of
// address space (not under AddressSanitizer, whose shadow memory alone is
// far more).

#if defined(__SANITIZE_ADDRESS__) || defined(RASTRACE_ADDRESS_SANITIZER)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

struct CliRun {
    int status = -1;
    std::string err;
};

// Runs rastrace-cli with args in a shell, under a 64 MB address-space
// limit where that can be measured; standard output goes to out.
CliRun RunCli(const std::filesystem::path& dir, const std::string& args, const std::string& out = "/dev/null") {
    const std::string limit = kAddressSanitizer ? "" : "ulimit -v 65536 && ";
    const auto err = dir / "stderr";
    const std::string command =
        limit + "exec '" RASTRACE_CLI_PATH "' " + args + " >'" + out + "' 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    CliRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.err = test::ReadBytes(err);
    std::filesystem::remove(err);
    return run;
}

TEST(Bombs, TheCommandLineRefusesThemAtOnceInLittleMemory) {
    const test::TempDir dir;
    for (const Bomb& bomb : Bombs()) {
        const auto path = dir.Path() / bomb.name;
        test::WriteFile(path, bomb.bytes);
        for (const std::string& command : {std::string("--list-colors"), std::string("-q -c 0 -x 300 -y 300")}) {
            const auto start = std::chrono::steady_clock::now();
            const CliRun run = RunCli(dir.Path(), command + " '" + path.string() + "'" +
                                                   (command[0] == '-' && command[1] == 'q' ? " /dev/null" : ""));
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << bomb.name << " " << command;
            EXPECT_EQ(run.status, 1) << bomb.name << " " << command;
            EXPECT_EQ(run.err, "rastrace-cli: " + path.string() + ": " + bomb.message + ".\n") << command;
        }
    }
}

// ---------------------------------------------------------------------------
// A damaged JPEG: the rows its data holds, the rest filled in, and a warning.

Bytes HalfWithEndMarker(const Bytes& file, size_t keep) {
    Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
    cut.push_back(0xFF);
    cut.push_back(0xD9);
    return cut;
}

TEST(DamagedJpeg, DataEndingEarlyIsFilledInAndSaidSo) {
    const JpegPicture p = test::JpegGradient(64, 64, 3);
    const Bytes file = test::WriteJpeg(p);
    const Bytes half = HalfWithEndMarker(file, file.size() / 2);
    const Picture whole = ReadPictureMemory(half);
    EXPECT_TRUE(whole.truncated);
    ASSERT_EQ(whole.raster.Width(), 64);
    ASSERT_EQ(whole.raster.Height(), 64);
    // The top rows are those of the whole file.
    const Picture good = ReadPictureMemory(file);
    EXPECT_FALSE(good.truncated);
    for (int32_t y = 0; y < 8; ++y) {
        const auto a = whole.raster.RowBytes(y);
        const auto b = good.raster.RowBytes(y);
        EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin())) << "row " << y;
    }

    const test::TempDir dir;
    const auto path = dir.Path() / "half.jpg";
    test::WriteFile(path, half);
    const auto rows = OpenPictureRows(path.string());
    EXPECT_FALSE(rows->FilledIn());
    Bytes all(size_t{64} * 64 * 3);
    rows->ReadRows(0, 64, all.data(), 64 * 3);
    EXPECT_TRUE(rows->FilledIn());
    EXPECT_TRUE(all == test::RasterBytes(whole.raster));
}

TEST(DamagedJpeg, DataEndingInItsFirstBandFails) {
    // 16 x 16 grey: one band of blocks; a single byte of its data is left.
    const Bytes file = test::WriteJpeg(test::JpegGradient(16, 16, 1));
    size_t scan = 0;
    for (size_t i = 2; i + 1 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xDA) scan = i;
    }
    ASSERT_GT(scan, 0u);
    const size_t data = scan + 2 + (size_t{file[scan + 2]} << 8 | file[scan + 3]);
    EXPECT_EQ(WholeFailure(HalfWithEndMarker(file, data + 1)),
              "Cannot read JPEG file: Corrupt JPEG data: premature end of data segment");
}

TEST(DamagedJpeg, TheCommandLineWarnsAsForAShortBitmap) {
    const Bytes file = test::WriteJpeg(test::JpegGradient(64, 48, 3));
    const test::TempDir dir;
    const auto path = dir.Path() / "half.jpg";
    test::WriteFile(path, HalfWithEndMarker(file, file.size() / 2));
    const std::string warning =
        "rastrace-cli: warning: " + path.string() + ": the file ends before its pixel data; the missing pixels were filled in\n";
    const std::string out = (dir.Path() / "out.pcb").string();
    for (const std::string& command : {"--list-colors '" + path.string() + "'", "--color-at 3,40 '" + path.string() + "'",
                                       "-q -c 0 -x 300 -y 300 '" + path.string() + "' '" + out + "'",
                                       "-q -c 0 -x 300 -y 300 '" + path.string() + "' '" + out + ".gbr'",
                                       "-q -c 0 -x 300 -y 300 --preview /dev/null '" + path.string() + "' '" + out + "'"}) {
        const CliRun run = RunCli(dir.Path(), command);
        EXPECT_EQ(run.status, 0) << command;
        // Once, first (a "matches no pixel" may follow).
        EXPECT_EQ(run.err.substr(0, warning.size()), warning) << command;
        EXPECT_EQ(run.err.find(warning, 1), std::string::npos) << command;
    }

    // The filled-in colour of the lower half, converted by rows and from
    // the whole picture (which --preview reads), gives the same tracks.
    const auto colourFile = dir.Path() / "colour";
    ASSERT_EQ(RunCli(dir.Path(), "--color-at 3,40 '" + path.string() + "'", colourFile.string()).status, 0);
    const std::string colour = test::ReadBytes(colourFile).substr(0, test::ReadBytes(colourFile).find(' '));
    const std::string convert = "-q -c " + colour + " -x 300 -y 300 ";
    ASSERT_EQ(RunCli(dir.Path(), convert + "'" + path.string() + "' '" + out + "'").status, 0);
    const std::string byRows = test::ReadBytes(out);
    ASSERT_EQ(RunCli(dir.Path(), convert + "--preview /dev/null '" + path.string() + "' '" + out + "'").status, 0);
    EXPECT_GT(byRows.size(), 100u);
    EXPECT_EQ(byRows, test::ReadBytes(out));
}

// ---------------------------------------------------------------------------
// Orientation: the picture as a viewer shows it.

// The stored pixel a viewer shows at (x, y) of a picture stored w x h with
// orientation o: the tag names which side of the picture shown the stored
// row 0 and column 0 lie on.
std::pair<uint32_t, uint32_t> StoredPixelShownAt(int o, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    switch (o) {
        case 2: return {w - 1 - x, y};          // row 0 on top, column 0 on the right
        case 3: return {w - 1 - x, h - 1 - y};  // row 0 at the bottom, column 0 on the right
        case 4: return {x, h - 1 - y};          // row 0 at the bottom, column 0 on the left
        case 5: return {y, x};                  // row 0 on the left, column 0 on top
        case 6: return {y, h - 1 - x};          // row 0 on the right, column 0 on top
        case 7: return {w - 1 - y, h - 1 - x};  // row 0 on the right, column 0 at the bottom
        case 8: return {w - 1 - y, x};          // row 0 on the left, column 0 at the bottom
        default: return {x, y};
    }
}

// The picture a viewer shows of stored (row 0 on top, as stored) with
// orientation o.
Bytes Shown(const Raster& stored, int o, int32_t& width, int32_t& height) {
    const auto w = static_cast<uint32_t>(stored.Width());
    const auto h = static_cast<uint32_t>(stored.Height());
    const bool swap = o >= 5;
    width = static_cast<int32_t>(swap ? h : w);
    height = static_cast<int32_t>(swap ? w : h);
    Bytes out;
    for (uint32_t y = 0; y < static_cast<uint32_t>(height); ++y) {
        for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x) {
            const auto [sx, sy] = StoredPixelShownAt(o, x, y, w, h);
            const uint8_t* p = stored.RowBytes(static_cast<int32_t>(sy)).data() + 3 * size_t{sx};
            out.insert(out.end(), p, p + 3);
        }
    }
    return out;
}

// Reads the file whole, by rows (both ways where it can), and the command
// line's --color-at at two corners, and compares all with the reference.
void ExpectShownAs(const std::filesystem::path& path, const Bytes& want, int32_t width, int32_t height,
                   const std::string& name) {
    const Picture whole = ReadPictureFile(path.string());
    EXPECT_EQ(whole.raster.Width(), width) << name;
    EXPECT_EQ(whole.raster.Height(), height) << name;
    EXPECT_TRUE(test::RasterBytes(whole.raster) == want) << name << " whole";
    const auto rows = OpenPictureRows(path.string());
    ASSERT_EQ(rows->Width(), width) << name;
    Bytes got(want.size());
    rows->ReadRows(0, height, got.data(), static_cast<ptrdiff_t>(width) * 3);
    EXPECT_TRUE(got == want) << name << " by rows";
    const auto upward = OpenPictureRows(path.string(), {}, true);
    if (upward->AnyOrder()) {
        for (int32_t y = height - 1; y >= 0; --y) {
            upward->ReadRows(y, 1, got.data() + static_cast<size_t>(y) * width * 3, static_cast<ptrdiff_t>(width) * 3);
        }
        EXPECT_TRUE(got == want) << name << " upwards";
    }
    for (const auto& [x, y] : {std::pair<int32_t, int32_t>{0, 0}, {width - 1, height - 2}}) {
        const uint8_t* p = want.data() + (static_cast<size_t>(y) * width + x) * 3;
        const uint32_t colour = p[2] | p[1] << 8 | p[0] << 16;
        const CliRun run = RunCli(path.parent_path(),
                               "--color-at " + std::to_string(x) + "," + std::to_string(y) + " '" + path.string() + "'",
                               (path.parent_path() / "out").string());
        EXPECT_EQ(run.status, 0) << name << run.err;
        EXPECT_EQ(test::ReadBytes(path.parent_path() / "out").substr(0, std::to_string(colour).size() + 1),
                  std::to_string(colour) + " ")
            << name << " at " << x << "," << y;
        std::filesystem::remove(path.parent_path() / "out");
    }
}

TEST(Orientation, TiffIsShownAsItsTagSaysInStripsAndTiles) {
    const test::TempDir dir;
    for (const bool tiled : {false, true}) {
        TiffPicture p;
        p.width = tiled ? 37 : 7;
        p.height = tiled ? 21 : 5;
        p.samples = test::Samples(size_t{p.width} * p.height * 3, 8, 3);
        p.rowsPerStrip = 2;
        if (tiled) test::Tiles(p);
        const Picture stored = ReadPictureMemory(test::WriteTiff(p));
        for (int o = 1; o <= 8; ++o) {
            p.orientation = static_cast<uint16_t>(o);
            const auto path = dir.Path() / ("o" + std::to_string(o) + ".tif");
            test::WriteFile(path, test::WriteTiff(p));
            int32_t width = 0, height = 0;
            const Bytes want = Shown(stored.raster, o, width, height);
            ExpectShownAs(path, want, width, height, (tiled ? "tiles " : "strips ") + std::to_string(o));
        }
    }
}

// The JPEG with an APP1 Exif block stating orientation o right after its
// start marker, in either byte order.
Bytes WithExifOrientation(const Bytes& jpeg, int o, bool bigEndian) {
    Bytes tiff = bigEndian ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 8} : Bytes{'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put16 = [&](uint32_t v) {
        tiff.push_back(static_cast<uint8_t>(bigEndian ? v >> 8 : v));
        tiff.push_back(static_cast<uint8_t>(bigEndian ? v : v >> 8));
    };
    const auto put32 = [&](uint32_t v) {
        if (bigEndian) {
            put16(v >> 16);
            put16(v & 0xFFFF);
        } else {
            put16(v & 0xFFFF);
            put16(v >> 16);
        }
    };
    put16(2);  // two entries: a resolution unit before the orientation
    put16(0x0128), put16(3), put32(1), put16(2), put16(0);
    put16(0x0112), put16(3), put32(1), put16(static_cast<uint32_t>(o)), put16(0);
    put32(0);
    Bytes app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    PutBe(&app1[2], static_cast<uint32_t>(app1.size() - 2), 2);
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

TEST(Orientation, JpegIsShownAsItsExifTagSaysInEitherByteOrder) {
    const test::TempDir dir;
    for (const bool progressive : {false, true}) {
        JpegPicture p = test::JpegGradient(40, 24, 3);
        p.progressive = progressive;
        const Bytes file = test::WriteJpeg(p);
        const Picture stored = ReadPictureMemory(file);
        for (int o = 1; o <= 8; ++o) {
            const bool bigEndian = o % 2 == 0;
            const auto path = dir.Path() / ("o" + std::to_string(o) + ".jpg");
            test::WriteFile(path, WithExifOrientation(file, o, bigEndian));
            int32_t width = 0, height = 0;
            const Bytes want = Shown(stored.raster, o, width, height);
            ExpectShownAs(path, want, width, height, (progressive ? "progressive " : "baseline ") + std::to_string(o));
        }
    }
}

}  // namespace
}  // namespace rastrace
