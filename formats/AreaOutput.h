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

// Writes the whole file: header, one shape per region, trailer. onRow(row)
// is called before each row is asked for (progress; it may throw to stop).
// Text reaches sink in pieces of about a megabyte. Throws
// Error("Floating point division by zero") for a resolution of 0 before
// anything is written, std::invalid_argument for a layer outside 0..8.
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
SameRowRunsSource MatchedCopperRows(PictureRows& rows, std::vector<uint32_t> colors, const MatchOptions& options);

// WriteArea over the raster's copper colours, the picture's size taken from
// the raster.
AreaStats WriteCopperArea(const Raster& raster, std::span<const uint32_t> colors, AreaOptions options,
                          const std::function<void(std::string_view)>& sink,
                          const std::function<void(int32_t row)>& onRow = {});

}  // namespace rastrace
