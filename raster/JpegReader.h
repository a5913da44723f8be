// Reading JPEG files into the 24-bit raster with libjpeg-turbo.
//
// The one fact a caller must know: the picture is libjpeg-turbo's own
// decode (its default, accurate settings), delivered as blue, green, red;
// grey pictures give equal channels, CMYK pictures (stored inverted, as
// Adobe's writers do) give R = C * K / 255 and so on. The JFIF header's
// density is taken when its unit is dots per inch or per centimetre.
//
// Failures: "Cannot read JPEG file: <libjpeg's reason>", or "Out of memory"
// for a picture larger than the memory limit (or whose decoding would
// need more than that). A file that ends before its last row is an error
// (libjpeg's own choice would be grey rows), and so is a progressive file
// of more than 500 scans, which could take minutes to decode. Data errors
// libjpeg only warns about are not errors.
#pragma once

#include "raster/PictureInput.h"
#include "raster/PictureReader.h"

namespace rastrace {

Picture ReadJpeg(PictureInput& input);

}  // namespace rastrace
