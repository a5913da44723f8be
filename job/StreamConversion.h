// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's conversion of a picture read by rows: bands of rows
// flow from the file through the tracer and out as track records, so the
// picture is never held whole and memory stays that of a few bands.
//
// The one fact a caller must know: the text is exactly what a ConversionJob
// with groupByColor writes for the same picture and values: the header,
// the first colour's records as its rows pass, then each other colour's in
// list order (kept until then as 12-byte runs), then the trailer.
//
// Speckle removal needs whole regions, so with a speckle size above 1 the
// rows are classified into a class map (one byte per pixel, not the
// picture's three) before any record is written.
#pragma once

#include "formats/Formats.h"
#include "raster/PictureRows.h"
#include "trace/ColorMatch.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rastrace {

struct StreamRequest {
    OutputFormat format = OutputFormat::Pcb;
    std::vector<uint32_t> colors;  // packed 0x00BBGGRR, in list order, each once
    int32_t xres = 600, yres = 600;
    std::string widthText = "2";   // written as given
    std::string layerText = "1";
    MatchOptions match;
    int threads = 2;               // band workers
    int32_t bandRows = 0;          // rows read at once; 0: about a megabyte's worth
};

// Converts every row of rows, handing the file's text to write in pieces of
// about a megabyte (in order, one at a time, on a writing thread of its
// own, so a slow disk overlaps the tracing), and progress(steps) on the
// calling thread as work is done, height * colours
// steps in all. Returns the records written per colour. Throws the reader's
// errors (the text written so far is then incomplete: the caller drops it),
// CheckMatchOptions' errors and "Floating point division by zero" before
// anything is written, and what write or progress throw.
//
// With speckle removal, matchedPixels (when given) receives the pixels each
// colour matched before speckles were removed, so that a colour without
// records can be told from one that matched nothing; otherwise it is left
// empty.
std::vector<int64_t> ConvertRows(PictureRows& rows, const StreamRequest& request,
                                 const std::function<void(std::string_view)>& write,
                                 const std::function<void(int64_t steps)>& progress = {},
                                 std::vector<uint64_t>* matchedPixels = nullptr);

}  // namespace rastrace
