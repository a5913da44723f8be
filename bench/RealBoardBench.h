// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring a rule on the real-looking boards as a new user meets it: the
// scan written as a PNG, one click on each kind of surface, the real
// command-line converter run on it with --preview, and the preview read back.
#pragma once

#include "bench/RealBoard.h"
#include "bench/ScanQuality.h"
#include "raster/Raster.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rastrace::bench {

// A real board scanned: its drawing's truth and the scanner's picture.
struct ScannedRealBoard {
    Raster scan;
    std::vector<uint8_t> surface;  // Surface per pixel, as drawn
    std::vector<uint8_t> copper;   // the true copper
    double dpi = 600;
};

// The scanner at dpi: the default model, its blur widened at 1200 dpi and
// above (the optics blur about the same share of a millimetre).
ScannerModel ScannerAt(double dpi);

// Draws the board options give and scans it with ScannerAt(options.dpi).
ScannedRealBoard ScanRealBoard(const RealBoardOptions& options);

// A click a user makes: the colour of one scanned pixel well inside a large
// area of one surface.
struct Click {
    Surface surface;
    uint32_t color = 0;  // packed 0x00BBGGRR
    int32_t x = 0, y = 0;
};

// One click per surface the board shows: among the pixels whose square
// neighbourhood is wholly that surface in the drawing (the widest such
// neighbourhood, up to 7 x 7 at 600 dpi, that leaves enough pixels), the one
// whose scanned colour is nearest the median of theirs.
std::vector<Click> UserClicks(const ScannedRealBoard& board);

// "#RRGGBB".
std::string HexColor(uint32_t packed);

// Writes raster as an 8-bit RGB PNG stating dpi. Throws Error on failure.
void WritePng(const Raster& raster, const std::string& path, double dpi);

// Reads a preview PNG back as a mask (row 0 on top): 1 for every pixel that
// is not white. Throws Error when the file cannot be read or its size is
// not width x height.
std::vector<uint8_t> ReadPreviewMask(const std::string& path, int32_t width, int32_t height);

// Runs program with arguments (no shell), its output discarded; returns its
// exit status, or -1 when it could not be started or did not exit normally.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments);

// The arguments of one preview run, the resolution the one the file states
// (-x auto -y auto): today's colour rule (-c copper clicks, -b the others,
// -t tolerance, -s speckle) or the board rule (-r board, -c, -b, -H hole
// clicks; tolerance < 0 leaves it at its default).
std::vector<std::string> PreviewArguments(const std::vector<Click>& clicks, bool boardRule, int32_t tolerance,
                                          int32_t despeckle, const std::string& input, const std::string& preview);

}  // namespace rastrace::bench
