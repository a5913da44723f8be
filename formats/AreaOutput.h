// SPDX-License-Identifier: GPL-3.0-or-later
// Area output: traces the copper rows into outlines and writes them as a
// Gerber or KiCad file through a text sink, row by row, without a copy of
// the picture. The sink is the caller's (a file, a string, a pipe); this
// unit opens no files and starts no threads.
#pragma once

#include "raster/PictureRows.h"
#include "raster/Raster.h"
#include "trace/ColorMatch.h"
#include "trace/Outline.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rastrace {

enum class AreaFormat { Gerber, KiCad };

// Gives the copper runs of row (0 = top) into runs, replacing its content:
// sorted, not overlapping. Rows are asked for once each, top to bottom.
using RowRunsSource = std::function<void(int32_t row, std::vector<Span>& runs)>;
// The same, and returns how many rows from row on (at least 1) have these
// runs: the next row asked for is that many further down.
using SameRowRunsSource = std::function<int32_t(int32_t row, std::vector<Span>& runs)>;

struct AreaOptions {
    AreaFormat format = AreaFormat::Gerber;
    int32_t width = 0, height = 0;  // picture size in pixels
    int32_t xres = 600, yres = 600;  // dots per inch
    int32_t layer = 1;               // 0..8
    std::string name = "rastrace";   // the KiCad footprint name (FootprintNameFor(OUTPUT))
};

struct AreaStats {
    int64_t shapes = 0, holes = 0, vertices = 0, pixels = 0;
    uint64_t bytes = 0;
    size_t peakOpenVertices = 0;  // the most vertices held at once (the shapes being built)
};

// The largest coordinate, in nanometres either side of 0, that each format
// holds: Gerber's format 4.6 has four integer and six decimal digits; KiCad
// reads millimetres into 32-bit nanometres and limits them to 0.7071 of
// that range (the diagonal of its canvas), 1518.485686 mm.
inline constexpr int64_t kGerberMostNm = 9'999'999'999;
inline constexpr int64_t kKiCadMostNm = 1'518'485'686;

// A picture whose extent on one axis, at its resolution, is beyond what
// the format holds: every coordinate of the file lies between 0 and the
// picture's width and height, mirrored or not.
struct AreaSizeProblem {
    bool vertical = false;  // the height (the Y resolution), else the width
    // "The picture is 10160 mm tall at 1 dpi; a Gerber file holds at most
    // 9999.999999 mm: use a resolution of 2 dpi or more"
    std::string message;
};

// The first axis, width then height, whose extent the format cannot hold;
// nothing when both fit (or a resolution is 0, which WriteArea refuses).
std::optional<AreaSizeProblem> AreaSizeProblemOf(const AreaOptions& options);

// Throws Error("Floating point division by zero") for a resolution of 0,
// and Error with AreaSizeProblemOf's message for a picture the format
// cannot hold.
void CheckAreaSize(const AreaOptions& options);

// Writes the whole file: header, one shape per region, trailer. onRow(row)
// is called before each row is asked for (progress; it may throw to stop).
// Text reaches sink in pieces of about a megabyte. Throws CheckAreaSize's
// errors before anything is written, std::invalid_argument for a layer
// outside 0..8.
AreaStats WriteArea(const AreaOptions& options, const RowRunsSource& rows,
                    const std::function<void(std::string_view)>& sink,
                    const std::function<void(int32_t row)>& onRow = {});
// The same over rows that come with their repeats: onRow(row) is called
// for the rows asked for alone, and rows alike are traced once.
AreaStats WriteArea(const AreaOptions& options, const SameRowRunsSource& rows,
                    const std::function<void(std::string_view)>& sink,
                    const std::function<void(int32_t row)>& onRow = {});

// The source of the raster's copper: every pixel of any of colors (repeats
// ignored). The raster must outlive the source.
RowRunsSource CopperRows(const Raster& raster, std::vector<uint32_t> colors);

// The source of the copper that colors select under options: with exact
// matching the same as CopperRows; with a tolerance or speckle removal the
// class map is built first (on two threads; checkStop as BuildClassMap
// takes it) and every pixel of a copper class is copper. Throws what
// BuildClassMap throws.
RowRunsSource MatchedCopperRows(const Raster& raster, std::vector<uint32_t> colors, const MatchOptions& options,
                                const std::function<void()>& checkStop = {});

// The same copper from a picture read by rows, top to bottom, one band at
// a time: the rows the raster's source gives for the picture in memory.
// With speckle removal the rows are first classified into a class map (one
// byte per pixel). Rows that are one row (PictureRows::SameRowsAs) are
// read and matched once. rows must outlive the source; once the last row
// has been asked for, rows.CheckUnchanged() tells whether the file changed.
// With speckle removal, matchedPixels (when given) receives the pixels each
// colour matched before it, as ClassifyRows counts them; otherwise it is
// left empty.
SameRowRunsSource MatchedCopperRows(PictureRows& rows, std::vector<uint32_t> colors, const MatchOptions& options,
                                    std::vector<uint64_t>* matchedPixels = nullptr);

// WriteArea over the raster's copper colours, the picture's size taken from
// the raster.
AreaStats WriteCopperArea(const Raster& raster, std::span<const uint32_t> colors, AreaOptions options,
                          const std::function<void(std::string_view)>& sink,
                          const std::function<void(int32_t row)>& onRow = {});

}  // namespace rastrace
