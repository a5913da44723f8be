// SPDX-License-Identifier: GPL-3.0-or-later
// Rows scanned ahead by one thread per colour must be the rows the caller's
// own scan gives, in order, whatever the ring size; stopping early must not
// hang. Runs under ThreadSanitizer (label "job").
#include "formats/AreaOutput.h"
#include "trace/OutlineScanAhead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace rastrace;

namespace {

constexpr uint32_t kPalette[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x123456};

Raster RandomRaster(int32_t w, int32_t h, uint32_t seed) {
    Raster r(w, h);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = r.RowBytes(y).data();
        for (int32_t x = 0; x < w;) {
            const uint32_t c = kPalette[rng() % 4];
            const int32_t end = std::min(w, x + 1 + static_cast<int32_t>(rng() % 9));
            for (; x < end; ++x, p += 3) {
                p[0] = static_cast<uint8_t>(c >> 16);
                p[1] = static_cast<uint8_t>(c >> 8);
                p[2] = static_cast<uint8_t>(c);
            }
        }
    }
    return r;
}

bool SameRuns(const std::vector<Span>& a, const std::vector<Span>& b) { return a == b; }

}  // namespace

TEST(ScanAhead, GivesTheCallersOwnRowsForEveryRingSize) {
    const Raster r = RandomRaster(97, 300, 1);
    const std::vector<std::vector<uint32_t>> sets = {
        {kPalette[0]}, {kPalette[1], kPalette[0]}, {kPalette[0], kPalette[2], kPalette[3], kPalette[0]}};
    for (const auto& colors : sets) {
        std::vector<uint32_t> unique = colors;
        std::sort(unique.begin(), unique.end());
        unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
        for (int32_t ring : {1, 33, 40, 256, 1000}) {
            ScanAheadRows ahead(r, colors, ring);
            EXPECT_TRUE(ahead.Threaded());
            std::vector<Span> got, want;
            for (int32_t y = 0; y < r.Height(); ++y) {
                ahead.Row(y, got);
                CopperRowRuns(r, y, unique, want);
                ASSERT_TRUE(SameRuns(got, want)) << "row " << y << " ring " << ring;
            }
        }
    }
}

TEST(ScanAhead, AreaOutputIsTheSameAsFromTheCallersThread) {
    const Raster r = RandomRaster(150, 120, 2);
    const std::vector<uint32_t> colors = {kPalette[0], kPalette[3]};
    AreaOptions options;
    options.format = AreaFormat::KiCad;
    std::string direct, ahead;
    WriteCopperArea(r, colors, options, [&](std::string_view t) { direct += t; });
    options.width = r.Width();
    options.height = r.Height();
    ScanAheadRows rows(r, colors, 40);
    WriteArea(options, [&](int32_t y, std::vector<Span>& runs) { rows.Row(y, runs); },
              [&](std::string_view t) { ahead += t; });
    EXPECT_EQ(ahead, direct);
}

TEST(ScanAhead, StoppingEarlyDoesNotHangAndRowsMustComeInOrder) {
    const Raster r = RandomRaster(64, 2000, 3);
    for (int taken : {0, 1, 17, 500}) {
        ScanAheadRows ahead(r, {kPalette[0], kPalette[1]}, 40);
        std::vector<Span> runs;
        for (int32_t y = 0; y < taken; ++y) ahead.Row(y, runs);
        EXPECT_THROW(ahead.Row(taken + 1, runs), std::logic_error);
    }  // each destructor stops scanners that wait for room
}

TEST(ScanAhead, NoColourOrNoPixelsGiveEmptyRowsWithoutThreads) {
    const Raster r = RandomRaster(10, 5, 4);
    ScanAheadRows none(r, {0xFF000000u});
    EXPECT_FALSE(none.Threaded());
    std::vector<Span> runs = {{1, 2}};
    none.Row(0, runs);
    EXPECT_TRUE(runs.empty());
    const Raster empty;
    ScanAheadRows nothing(empty, {kPalette[0]});
    EXPECT_THROW(nothing.Row(0, runs), std::logic_error);
}
