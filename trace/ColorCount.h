// SPDX-License-Identifier: GPL-3.0-or-later
// Counting the colours of a picture, for choosing which ones to trace.
#pragma once

#include "raster/PictureRows.h"
#include "raster/Raster.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace rastrace {

struct ColorCount {
    uint32_t color = 0;  // packed 0x00BBGGRR
    uint64_t pixels = 0;
};

// Counts colours row by row, for pictures that come a band at a time.
class ColorCounter {
public:
    ColorCounter();
    ~ColorCounter();
    ColorCounter(const ColorCounter&) = delete;
    ColorCounter& operator=(const ColorCounter&) = delete;

    // Counts the width pixels (blue, green, red) of the next row, times
    // rows alike.
    void AddRow(const uint8_t* pixels, int32_t width, uint64_t times = 1);
    // The rows counted from now on are part `part` of the picture: parts
    // are counted in increasing order, and TakeMerged puts each colour
    // where it first appeared, by part.
    void StartPart(int32_t part);
    // Every colour counted so far with its pixel count, in order of first
    // appearance; the counter is left empty.
    std::vector<ColorCount> Take();
    // The colours of several counters that counted the parts of one
    // picture between them (each part on one counter), merged: the pixel
    // counts summed, in order of first appearance over the parts. The
    // counters are left empty.
    static std::vector<ColorCount> TakeMerged(std::vector<ColorCounter>& counters);

private:
    class Index;
    // The colour's place in counts_, noting where it first came when new.
    size_t Place(uint32_t raw);
    // Moves the part's counts into the whole counts, in their order.
    void FlushPart();

    // A part's colours are counted first in a table of their own, which
    // stays small enough for the processor's cache, and join the whole
    // counts (a few times fewer look-ups, in a larger table) as the part ends.
    std::vector<ColorCount> partCounts_;
    std::unique_ptr<Index> partIndex_;
    std::vector<ColorCount> counts_;  // the colours as pixel words until taken
    std::vector<uint64_t> firstSeen_;  // per colour: its part and place among the part's new colours
    uint64_t part_ = 0;                // the current part, in the high half
    uint32_t newInPart_ = 0;
    std::unique_ptr<Index> index_;
};

// Every colour of the picture with its pixel count, in order of first
// appearance from the top row, left to right: bands counted on threads
// workers, each worker's counts merged at the end. progress(rows) is told
// of each band's rows as it is done, in band order. Throws the reader's errors, and "Stream read error" when
// the file changed while it was read.
// Bands of bandRows rows (0: BandRowsFor's choice).
std::vector<ColorCount> CountColors(PictureRows& rows, int threads,
                                    const std::function<void(int32_t rows)>& progress = {}, int32_t bandRows = 0);

// Every colour of the raster with its pixel count, in order of first
// appearance from the top row, left to right.
std::vector<ColorCount> CountColors(const Raster& raster);

// The same, telling progress the rows counted so far about every 1% of the
// rows and at the end (for a progress bar).
std::vector<ColorCount> CountColors(const Raster& raster, const std::function<void(int32_t rowsDone)>& progress);

}  // namespace rastrace
