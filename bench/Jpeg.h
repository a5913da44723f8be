// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG round trip of the scanner model: a raster compressed as a
// scanner saves it and decompressed again, through libjpeg in memory.
#pragma once

#include "raster/Raster.h"

namespace rastrace::bench {

// Replaces the raster's pixels with those of its JPEG at quality (1..100,
// 4:2:0 chroma, the integer DCT, so the same on every machine). Throws
// Error("JPEG: <the library's reason>") when libjpeg fails.
void JpegRoundTrip(Raster& raster, int quality);

}  // namespace rastrace::bench
