// SPDX-License-Identifier: GPL-3.0-or-later
// Bands of a picture's rows read in order and worked on by several threads
// at once, their results taken in band order on the calling thread: the
// streaming converter's one loop over a file.
//
// The one fact a caller must know: at most `slots` bands are read ahead of
// the one being taken, so memory stays that of a few bands whatever the
// picture's size; results live in the caller's slots (band % slots).
#pragma once

#include "raster/PictureRows.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace rastrace {

struct Band {
    int32_t first = 0;  // the band's first row (0 = top)
    int32_t count = 0;  // rows in the band
    size_t slot = 0;    // band number % slots: where its result is kept
    // Every row of the band is the same row (PictureRows::SameRowsAs):
    // only the first was read, and the band's stride is 0, so that row
    // first + i * stride is still row i; work on it once, then repeat.
    bool repeated = false;
};

// Runs items 0..count-1 on threads workers: start(worker, item) one at a
// time in item order (side by side where startsSideBySide), then
// work(worker, item) while other items are started and worked on, then
// take(item) on the calling thread, in item order, once its work is done.
// At most slots items are between their start and their take, so results
// kept per slot (item % slots) are never overwritten early. An exception
// from any of them stops everything (every worker is joined) and comes out
// of here. Without any thread, all of it runs here, item by item.
void RunOrdered(int64_t count, int threads, size_t slots, bool startsSideBySide,
                const std::function<void(int worker, int64_t item)>& start,
                const std::function<void(int worker, int64_t item)>& work,
                const std::function<void(int64_t item)>& take);

// The most rows a repeated band holds: what a band's work makes of it
// (records, runs) stays small, and its one row is worked on seldom.
inline constexpr int32_t kMostRepeatedRows = 4096;

// Rows a band of rows holds: wanted when above 0, else about two megabytes
// of pixels, or the reader's own band (a strip) where that is larger.
int32_t BandRowsFor(const PictureRows& rows, int32_t wanted);

// Reads every band of bandRows rows (the last may be shorter) top to bottom
// with rows.NaturalStride(); rows that are all one row (SameRowsAs) come
// as bands of their own, repeated, of up to kMostRepeatedRows rows, each
// one row read, so a file that promises many more rows than it holds
// costs the rows it holds. Reads happen one at a time, in band order, so
// a source read only forward is read as it must be (side by side where
// rows.ConcurrentReads()). work(worker, band,
// firstRow, stride) runs on worker 0..threads-1 for each band it read,
// while other bands are read and worked on; take(band) runs on the
// calling thread for each band in order once its work is done. An
// exception from a read, work or take stops everything (every worker is
// joined) and comes out of here.
void RunBands(PictureRows& rows, int threads, int32_t bandRows, size_t slots,
              const std::function<void(int worker, const Band& band, const uint8_t* firstRow, ptrdiff_t stride)>& work,
              const std::function<void(const Band& band)>& take);

}  // namespace rastrace
