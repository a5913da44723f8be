// Reading Windows bitmap files (BMP) into the 24-bit raster.
//
// LoadBitmapFile reads the file in small steps (file header, info header,
// validation, colour masks, colour table, pixel body) and ConvertTo24Bit
// turns what it read into the 24-bit raster. A 24-bit uncompressed file is
// read in one block straight into the raster's memory and stays as stored.
// Every failure throws Error with one of the system's messages:
//   "Cannot open file "<full path>". <system text>"
//   "Stream read error"           (1 to 13 bytes, or cut inside masks/table)
//   "Bitmap image is not valid"   (no "BM", planes != 1, unsupported kind)
//   "Out of memory"               (a size that cannot be held)
// A zero-length file gives the empty raster.
#pragma once

#include "raster/Raster.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rastrace {

// The info header with the format's own field names. A 12-byte core header
// is widened into it (every other field 0).
struct BitmapInfoHeader {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

// What LoadBitmapFile read, before the conversion to 24 bits.
struct DecodedBitmap {
    BitmapInfoHeader header;
    std::array<uint32_t, 3> masks{};      // red, green, blue channel masks (bit fields)
    bool hasMasks = false;
    std::vector<uint32_t> palette;        // 0x00RRGGBB entries, at most 256
    // Either the finished 24-bit raster (24-bit uncompressed files and
    // decoded run-length files), or the raw pixel rows in file order.
    bool isFinal = false;
    Raster raster;
    std::vector<uint8_t> pixels;
};

DecodedBitmap LoadBitmapFile(const std::string& path);
DecodedBitmap LoadBitmapMemory(std::span<const uint8_t> bytes);
Raster ConvertTo24Bit(DecodedBitmap&& bitmap);

// LoadBitmapFile then ConvertTo24Bit: what the Open command does.
Raster ReadBitmapFile(const std::string& path);

}  // namespace rastrace
