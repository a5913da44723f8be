// SPDX-License-Identifier: GPL-3.0-or-later
// The synthetic board scan: a plausible printed-circuit board drawn into a
// 24-bit raster, for the sample picture and the benchmark.
//
// The one fact a caller must know: the picture is a pure function of the
// options. The same width, height, seed, noise and dpi give the same pixels
// on every machine (own random generator, no floating-point library
// functions whose results vary between libraries, no threads).
//
// Feature sizes are physical (mils) and follow the dots per inch; when no
// dpi is given, the shorter side of the picture is taken as 8.5 inches, so an
// A4 scan at 1200 dpi (10200 x 14040) draws at 1200 dpi and carries about
// half a million runs of the main copper colour.
#pragma once

#include "raster/Raster.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace rastrace::bench {

// The board's colours, packed 0x00BBGGRR like the command line's -c values.
inline constexpr uint32_t kSubstrateColor = 0x2E5424;   // R 36, G 84, B 46
inline constexpr uint32_t kCopperColor = 0x4088C4;      // top copper: R 196, G 136, B 64
inline constexpr uint32_t kCopper2Color = 0x60A4D6;     // second layer and SMD pads: R 214, G 164, B 96
inline constexpr uint32_t kHoleColor = 0x181818;        // drill holes
inline constexpr uint32_t kSilkWhiteColor = 0xE4ECEC;   // silkscreen: R 236, G 236, B 228
inline constexpr uint32_t kSilkYellowColor = 0x48D6E8;  // silkscreen: R 232, G 214, B 72

// The name of a palette colour ("substrate", "copper", ...), or "" for any
// other colour.
std::string_view PaletteName(uint32_t color);

struct BoardOptions {
    int32_t width = 600;
    int32_t height = 400;
    uint64_t seed = 1;
    // Anti-aliased copper edges and a sprinkling of single-pixel noise, as a
    // scanner gives: many distinct colours, about 20% more copper runs.
    bool noise = false;
    // Dots per inch the features are drawn at; 0 takes the shorter side as
    // 8.5 inches (and the longer one as at most 40 inches).
    double dpi = 0;
};

// The dots per inch GenerateBoard draws options at (options.dpi, or the
// value derived from the picture size).
double EffectiveDpi(const BoardOptions& options);

// Draws the board. Width and height must be at least 1; throws
// Error("Out of memory") when the raster cannot be had. The raster is
// stored bottom-up, the order of a bottom-up BMP file.
Raster GenerateBoard(const BoardOptions& options);

// A flatbed scanner's faults, applied to a drawn board by ApplyScanner in
// the order a scan meets them: dust on the glass, the optics' blur, uneven
// light, sensor noise, rounding to 8 bits, and the JPEG file it is saved as.
struct ScannerModel {
    // Blur by the binomial kernel of order blurOrder (order + 1 taps, in
    // both directions): a gaussian of sigma sqrt(order) / 2 pixels; order 6
    // is 1.22 pixels. 0 is no blur.
    int blurOrder = 6;
    // Sensor noise: a near-gaussian (sum of four uniforms) of this standard
    // deviation in levels, drawn for every channel of every pixel.
    double noiseSigma = 6;
    // Light: a smooth gain of 1 +- this across the picture (the lamp along
    // the rows, the carriage's travel down the columns).
    double lightVariation = 0.10;
    // Specks of dust (three in four dark, the rest bright), one to five
    // pixels across at 600 dpi.
    double dustPerSquareInch = 20;
    // The JPEG round trip's quality (libjpeg, 4:2:0 chroma); 0 is none.
    int jpegQuality = 90;
};

// Scans the drawn board in place as model says; seed and dpi (for the dust
// size and count) make it a pure function of its inputs. Throws Error when
// the JPEG library fails.
void ApplyScanner(Raster& raster, const ScannerModel& model, uint64_t seed, double dpi);

// The true copper of a drawn board, before any scanner fault: width x
// height bytes, row 0 at the top, 1 where the pixel shows either copper
// colour, else 0.
std::vector<uint8_t> CopperMask(const Raster& board);

// Runs of one exact colour, counted per row as maximal horizontal sequences
// of pixels of that colour.
struct ColorRuns {
    uint32_t color = 0;
    uint64_t runs = 0;
    uint64_t pixels = 0;
};

// Every colour of the raster with its runs, most runs first (ties: lower
// colour value first).
std::vector<ColorRuns> CountRuns(const Raster& raster);

}  // namespace rastrace::bench
