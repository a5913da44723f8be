// SPDX-License-Identifier: GPL-3.0-or-later
// Reading PNG files into the 24-bit raster with libpng.
//
// The one fact a caller must know: every colour type and bit depth becomes
// 8-bit blue, green, red (16 bits rounded to nearest, low grey depths spread
// over 0..255, palettes looked up, alpha and transparency ignored, no gamma
// applied); interlaced files are read too. The pHYs chunk's resolution is
// taken when its unit is the metre.
//
// Failures: "Cannot read PNG file: <libpng's reason>", or "Out of memory"
// for a picture larger than the memory limit. Ancillary chunks other
// than pHYs are skipped unread, and nothing after the last image row is
// read, so a file cut after its pixels still loads. A file whose bytes
// from its first image data on are fewer than a 1032th of the rows its
// header declares (deflate's greatest ratio) fails with "too little image
// data for a picture of W x H pixels" before its rows are decoded.
#pragma once

#include "raster/PictureInput.h"
#include "raster/PictureReader.h"

namespace rastrace {

Picture ReadPng(PictureInput& input);

}  // namespace rastrace
