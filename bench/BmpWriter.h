// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a raster as a BMP file, for the board generator.
//
// The one fact a caller must know: the file is always the plain kind every
// reader takes: a 24-bit, uncompressed, bottom-up picture with a 14-byte
// file header and a 40-byte info header, rows padded with zero bytes to a
// multiple of 4.
#pragma once

#include "raster/Raster.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rastrace::bench {

// The 54 header bytes of a 24-bit bottom-up BMP of width x height pixels.
// pixelsPerMeter goes to both resolution fields (0: unknown).
std::vector<uint8_t> BitmapHeader(int32_t width, int32_t height, int32_t pixelsPerMeter);

// Writes raster to path ("-" is not special). Throws
// Error("Cannot create file \"<path>\". <system text>") when the file cannot
// be opened and Error("Stream write error") when a write fails; a partly
// written file is left as it is.
void WriteBitmapFile(const Raster& raster, const std::string& path, int32_t pixelsPerMeter = 0);

}  // namespace rastrace::bench
