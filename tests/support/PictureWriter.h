// SPDX-License-Identifier: GPL-3.0-or-later
// Writes PNG, TIFF and JPEG files in memory for tests, with the same
// libraries the readers use (libpng, libtiff, libjpeg-turbo).
//
// The one fact a caller must know: samples are given row by row, top row
// first, channel values of each pixel together (planes are split by the
// writer where a TIFF asks for separate planes), each value in its own
// uint16_t whatever the bit depth; the writer packs them as the format
// stores them. A writer failure is a bug in the test: it throws
// std::runtime_error.
#pragma once

#include "raster/Raster.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace rastrace::test {

struct PngPicture {
    uint32_t width = 1;
    uint32_t height = 1;
    int colourType = 2;  // PNG_COLOR_TYPE_*: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int bitDepth = 8;
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette;  // red, green, blue per entry
    std::vector<uint8_t> paletteAlpha;  // tRNS entries, if any
    bool interlaced = false;
    std::optional<uint32_t> xPerUnit;  // pHYs, written when both are set
    std::optional<uint32_t> yPerUnit;
    int physUnit = 1;  // PNG_RESOLUTION_METER
};
std::vector<uint8_t> WritePng(const PngPicture& picture);

struct TiffPicture {
    uint32_t width = 1;
    uint32_t height = 1;
    uint16_t samplesPerPixel = 3;
    uint16_t bitsPerSample = 8;
    uint16_t photometric = 2;  // PHOTOMETRIC_*
    std::vector<uint16_t> samples;
    std::vector<uint16_t> colormap;      // all reds, then greens, then blues: 3 << bitsPerSample values
    std::vector<uint16_t> extraSamples;  // EXTRASAMPLE_* of the samples beyond the colour ones
    uint16_t planar = 1;                 // PLANARCONFIG_CONTIG; 2 separate
    uint16_t compression = 1;            // COMPRESSION_*
    uint32_t rowsPerStrip = 0;           // 0: all rows in one strip
    uint32_t tileWidth = 0;              // tiled when both tile sizes are set (multiples of 16)
    uint32_t tileLength = 0;
    uint16_t orientation = 1;            // ORIENTATION_TOPLEFT
    std::optional<float> xResolution;
    std::optional<float> yResolution;
    std::optional<uint16_t> resolutionUnit;
};
std::vector<uint8_t> WriteTiff(const TiffPicture& picture);

// One TIFF layout of a parameterised test: photometric interpretation,
// samples and depth, and what else to change in the picture.
struct TiffCase {
    const char* name;
    uint16_t photometric;
    uint16_t samplesPerPixel;
    uint16_t bits;
    std::function<void(TiffPicture&)> adjust;
};

// Makes the picture tiled, in tiles of 16 x 16.
inline void Tiles(TiffPicture& p) {
    p.tileWidth = 16;
    p.tileLength = 16;
}

struct JpegPicture {
    uint32_t width = 1;
    uint32_t height = 1;
    int components = 3;      // 1 grey, 3 RGB (stored as YCbCr), 4 CMYK (stored inverted, as Adobe's)
    std::vector<uint8_t> samples;
    int quality = 90;
    bool progressive = false;
    // Grey only: a progressive file of 640 scans (every coefficient band
    // sent one bit at a time), beyond what a reader should sit through.
    bool manyScans = false;
    int densityUnit = 0;     // JFIF: 0 aspect ratio only, 1 per inch, 2 per centimetre
    uint16_t xDensity = 1;
    uint16_t yDensity = 1;
};
// A width x height JPEG picture of components components, a smooth
// gradient (which JPEG keeps close).
JpegPicture JpegGradient(uint32_t width, uint32_t height, int components);
std::vector<uint8_t> WriteJpeg(const JpegPicture& picture);

// libjpeg-turbo's own decode of a JPEG file as RGB bytes, row by row, top
// first: what a JPEG reader must deliver.
std::vector<uint8_t> DecodeJpegRgb(const std::vector<uint8_t>& file);

// Picture values from a small fixed generator, so that every pixel differs
// from its neighbours and every sample value of a depth turns up; the
// first two are the ends of the range, where rounding goes wrong first.
std::vector<uint16_t> Samples(size_t count, int depth, uint32_t seed);

// One PNG layout of a parameterised test: colour type, depth, interlacing.
struct PngCase {
    const char* name;
    int colourType;
    int depth;
    bool interlaced;
};
// The channels a PNG colour type holds.
int PngChannels(int colourType);
// A width x height picture of the case: Samples from seed, and for a
// palette type a full palette with transparency entries (which the
// reader ignores: colours stay as stored).
PngPicture PngOfCase(const PngCase& c, uint32_t width, uint32_t height, uint32_t seed);
// A width x height picture of the TIFF case: Samples from seed, a full
// colour map for a palette, the samples past the colour ones marked as
// unassociated alpha. The case's adjust is left to the caller.
TiffPicture TiffOfCase(const TiffCase& c, uint32_t width, uint32_t height, uint32_t seed);

// A raster's pixel bytes (blue, green, red), row 0 at the top, no padding.
std::vector<uint8_t> RasterBytes(const Raster& raster);

// The CRC-32 a PNG chunk carries, over n bytes (the chunk's type and data).
uint32_t PngCrc(const uint8_t* data, size_t n);

}  // namespace rastrace::test
