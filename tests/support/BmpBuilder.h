// SPDX-License-Identifier: GPL-3.0-or-later
// Builds BMP files byte by byte for tests, including inconsistent ones.
//
// The one fact a caller must know: Build() writes exactly what the fields
// say and checks nothing, so any header size, depth, compression, table,
// masks, offset or pixel body can be produced, valid or not. Fields left at
// their defaults make a well-formed file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rastrace::test {

struct BmpBuilder {
    std::string magic = "BM";         // the first two bytes
    uint32_t headerSize = 40;         // 12 writes the core header; other sizes write the
                                      // 40-byte layout cut or zero-extended to that size
    int32_t width = 1;                // core header: written as unsigned 16 bits
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;

    // Colour-table entries as 0x00RRGGBB, written as blue, green, red
    // (and a zero byte unless the header is the 12-byte core header).
    std::vector<uint32_t> palette;

    // Red, green, blue and alpha masks. Headers of 52 bytes or more hold
    // red, green and blue at bytes 40..51 (alpha at 52..55 from 56 bytes up);
    // shorter headers get red, green and blue written right after them.
    std::optional<std::array<uint32_t, 4>> masks;

    std::vector<uint8_t> gap;         // bytes between the colour table and the pixels
    std::vector<uint8_t> pixels;      // the body as stored: padded rows or run-length bytes

    std::optional<uint32_t> offBits;  // default: where the pixels really start
    std::optional<uint32_t> fileSize; // default: the real file size

    std::vector<uint8_t> Build() const;
};

// Packs rows (given in storage order) of pixel values into a BMP body with
// every row padded to a multiple of 4 bytes. Values are palette indices for
// 1, 4 and 8 bits, 0x00RRGGBB colours for 24 bits (stored blue, green, red),
// and the pixel word itself for 16 and 32 bits (stored little-endian).
std::vector<uint8_t> PackRows(const std::vector<std::vector<uint32_t>>& rows, unsigned bitCount);

// A plain 24-bit bottom-up BMP of rows of packed 0x00BBGGRR colours, given
// top row first, as the picture shows them.
std::vector<uint8_t> Bmp24FromPacked(const std::vector<std::vector<uint32_t>>& rowsTopFirst);

// Run-length encodes rows of palette indices (given bottom row first) as an
// RLE8 or RLE4 stream: repeats as encoded runs, three or more other pixels as
// absolute runs, one end-of-line per row and one end-of-bitmap. With
// skipIndexZero, pixels of index 0 are not written at all: a delta jumps
// over them inside a row, and an early end-of-line ends a row that finishes
// with them (a reader gives such pixels colour-table entry 0).
std::vector<uint8_t> EncodeRunLength(const std::vector<std::vector<uint8_t>>& rowsBottomUp, bool fourBit,
                                     bool skipIndexZero);

// Writes bytes to path, replacing the file; throws std::runtime_error on failure.
void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace rastrace::test
