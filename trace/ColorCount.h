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
    // Adds counts taken from another counter (the rows after those counted
    // here): colours new here come after those seen so far, in their order.
    void Add(const std::vector<ColorCount>& counts);
    // Every colour counted so far with its pixel count, in order of first
    // appearance; the counter is left empty.
    std::vector<ColorCount> Take();

private:
    class Index;
    std::vector<ColorCount> counts_;
    std::unique_ptr<Index> index_;
};

// Every colour of the picture with its pixel count, in order of first
// appearance from the top row, left to right: bands counted on threads
// workers, merged in order. progress(rows) is told of each band's rows as
// it is merged. Throws the reader's errors, and "Stream read error" when
// the file changed while it was read.
std::vector<ColorCount> CountColors(PictureRows& rows, int threads,
                                    const std::function<void(int32_t rows)>& progress = {});

// Every colour of the raster with its pixel count, in order of first
// appearance from the top row, left to right.
std::vector<ColorCount> CountColors(const Raster& raster);

// The same, telling progress the rows counted so far about every 1% of the
// rows and at the end (for a progress bar).
std::vector<ColorCount> CountColors(const Raster& raster, const std::function<void(int32_t rowsDone)>& progress);

}  // namespace rastrace
