// SPDX-License-Identifier: GPL-3.0-or-later
// Reading Windows bitmap files (BMP) into the 24-bit raster.
//
// The one fact a caller must know: a load either returns a complete new
// picture or throws; nothing the caller holds is touched on failure.
//
// The reader goes in small steps (file header, info header, validation,
// colour masks, colour table, pixel body). A 24-bit uncompressed file is read
// in one block straight into the raster's memory and keeps its bytes, padding
// and row order; every other kind is converted row by row, as it is read,
// into a fresh bottom-up 24-bit raster, so at most one picture plus one small
// read buffer is ever held.
//
// What is read: a 12-byte core header or an info header of 40 bytes or more
// (52, 56, 108, 124, ...); 1, 4, 8, 16, 24 and 32 bits per pixel,
// uncompressed (0), 8-bit run-length (1), 4-bit run-length (2), and bit fields
// (3) on 16 and 32 bits.
//
// Every failure throws Error with one of the system's messages:
//   "Cannot open file "<full path>". <system text>"
//   "Stream read error"          the file ends inside the 14-byte file header,
//                                the info header, the colour masks or the
//                                colour table (also: a header size larger
//                                than the file)
//   "Bitmap image is not valid"  no "BM"; planes != 1; a header size 0..39
//                                other than 12; negative width; height
//                                -2147483648; a depth or compression not read
//                                here; bit fields on a 41..51-byte header;
//                                a top-down run-length file
//   "Out of memory"              a picture (plus the load's buffers) larger
//                                than the load's memory limit, or size
//                                arithmetic that overflows
//   "Cannot open file "<full path>". Not a regular file"
//                                a pipe or device, where the caller asked
//                                for regular files only
// A zero-length file gives the empty raster. A pipe or a device has no size
// of its own: it is read to its end, within the same memory limit, and then
// read as any file.
//
// Mended faults and choices where the format leaves room:
//   - The file header's pixel-data offset is honoured when it lies at or after
//     the end of the colour table (and masks) and inside the file;
//     otherwise the pixels are read from where the colour table ends.
//   - Pixel bytes the file does not hold (a file cut short) count as zero
//     bytes: black for 16/24/32 bits, colour-table entry 0 for 1/4/8 bits and
//     for pixels a run-length stream never sets.
//   - A palette index at or beyond the colour table's entry count is black.
//   - A bit-field channel of n bits becomes value * 255 / (2^n - 1), rounded
//     to nearest, whatever n is; a zero mask gives 0.
#pragma once

#include "raster/Raster.h"

#include <array>
#include <cstdint>
#include <optional>
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

// What a load read: the header, the masks and colour table it used, and the
// finished 24-bit raster.
struct DecodedBitmap {
    BitmapInfoHeader header;
    std::array<uint32_t, 3> masks{};      // red, green, blue channel masks (bit fields)
    bool hasMasks = false;                // masks came from the file (compression 3)
    std::vector<uint32_t> palette;        // 0x00RRGGBB entries, at most 256
    Raster raster;                        // always 24 bits per pixel
    bool truncated = false;               // the file ended before its pixel data did:
                                          // the missing pixels were filled as above
};

// What one load may take.
struct ReadLimits {
    // The most memory the load may claim: the picture and every buffer
    // whose size comes from the file. nullopt: the memory available when
    // the load starts (MemoryAvailableNow).
    std::optional<uint64_t> memory;
    // Refuse a pipe or device instead of reading it: for the window, which
    // must never wait on a stream that may not end. The file is opened
    // without waiting for a writer.
    bool regularFileOnly = false;
    // When above 0: the raster is the picture sampled down (nearest pixel)
    // to at most this many pixels a side, for a preview. An uncompressed
    // file is then read row by row, only the rows sampled, so neither the
    // memory nor the bytes read grow with the size the header declares;
    // a run-length file is still decoded whole, within the memory limit.
    // The header keeps the picture's real size.
    int32_t sampleSide = 0;
};

// Reads the file at path (opened read-only, closed on every path).
DecodedBitmap LoadBitmapFile(const std::string& path, const ReadLimits& limits = {});

// Reads a bitmap held in memory; the same parsing as LoadBitmapFile.
DecodedBitmap LoadBitmapMemory(std::span<const uint8_t> bytes, const ReadLimits& limits = {});

// The raster of LoadBitmapFile: what the Open command does.
Raster ReadBitmapFile(const std::string& path, const ReadLimits& limits = {});

}  // namespace rastrace
