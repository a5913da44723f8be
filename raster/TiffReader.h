// SPDX-License-Identifier: GPL-3.0-or-later
// Reading TIFF files into the 24-bit raster with libtiff.
//
// The one fact a caller must know: the first image of the file is read
// through libtiff's RGBA interface, so every photometric interpretation,
// depth and compression that interface handles is read (grey, palette, RGB,
// CMYK, YCbCr, bilevel; strips or tiles; contiguous or separate planes).
// 16-bit samples are rounded to the nearest 8-bit value (palette entries,
// always 16 bits in TIFF, keep their high byte, as libtiff does).
// Extra samples (alpha) are ignored: colours are kept as stored, not
// multiplied by alpha. The Orientation tag is applied as viewers do: its
// flips, and for orientations 5 to 8 the turns and transposes, which give
// a Height x Width picture. XResolution and YResolution are taken with
// ResolutionUnit inch (the default) or centimetre.
//
// Failures: "Cannot read TIFF file: <libtiff's reason>", or "Out of memory"
// for a picture larger than the memory limit; no single buffer libtiff
// allocates may exceed that limit either. A compressed file whose strips or
// tiles hold fewer bytes than their compression needs for the picture
// (deflate makes at most 1032 bytes of one) fails with "too little image
// data for a picture of W x H pixels" before anything is decoded. The file is read through the
// input, never mapped, so one cut short while it is read fails with the
// message.
#pragma once

#include "raster/PictureInput.h"
#include "raster/PictureReader.h"

namespace rastrace {

Picture ReadTiff(PictureInput& input);

}  // namespace rastrace
