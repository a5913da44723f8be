// SPDX-License-Identifier: GPL-3.0-or-later
// Reading JPEG files into the 24-bit raster with libjpeg-turbo.
//
// The one fact a caller must know: the picture is libjpeg-turbo's own
// decode (its default, accurate settings), delivered as blue, green, red;
// grey pictures give equal channels, CMYK pictures (stored inverted, as
// Adobe's writers do) give R = C * K / 255 and so on. The JFIF header's
// density is taken when its unit is dots per inch or per centimetre.
//
// The EXIF block's Orientation (either byte order) is applied, as viewers
// do: the picture may come out turned, Height x Width.
//
// Failures: "Cannot read JPEG file: <libjpeg's reason>", or "Out of memory"
// for a picture larger than the memory limit (or whose decoding would
// need more than that, a progressive file's coefficients included). A file
// that ends before its last row is an error (libjpeg's own choice would be
// grey rows), and so is a progressive file of more than 500 scans, which
// could take minutes to decode, and a Huffman-coded file with less than a
// bit of data for each 8 x 8 block it declares ("too little image data
// for a picture of W x H pixels"). Data that libjpeg finds damaged (it
// warns "Corrupt JPEG data", and fills in what it cannot decode) marks the
// picture as truncated, like a short bitmap; where that comes before the
// first band of blocks is complete, nothing of the picture could be read,
// and the warning is the error.
#pragma once

#include "raster/PictureInput.h"
#include "raster/PictureReader.h"

namespace rastrace {

Picture ReadJpeg(PictureInput& input);

}  // namespace rastrace
