// SPDX-License-Identifier: GPL-3.0-or-later
// How well a trace recovers a board's true copper: area (intersection over
// union) and connectivity (regions kept whole, without shorts or breaks).
// Masks are width x height bytes, row 0 at the top, non-zero for copper.
#pragma once

#include "bench/BoardGenerator.h"
#include "raster/Raster.h"

#include <cstdint>
#include <vector>

namespace rastrace::bench {

// A counted true region that did not come out whole: its bounding box,
// how many traced regions meet it (more than one: broken; none: lost), and
// whether one of them meets another true region too (a short).
struct RegionFault {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t pieces = 0;
    bool joined = false;
};

struct Recovery {
    double iou = 0;           // |true and traced| / |true or traced|; 1 when both are empty
    double connectivity = 0;  // share of counted true regions kept whole; 1 when none is counted
    int64_t countedRegions = 0;
    int64_t wholeRegions = 0;
    std::vector<RegionFault> faults;
};

// A true region (pixels joined by an edge) of at least minRegion pixels is
// kept whole when exactly one traced region meets it (shares a pixel) and
// that traced region meets no other true region: a break or a short loses it.
Recovery MeasureRecovery(const std::vector<uint8_t>& truth, const std::vector<uint8_t>& traced, int32_t width,
                         int32_t height, int64_t minRegion = 50);

// The per-channel median colour of the raster's pixels where mask is
// non-zero (or zero, when inside is false): the colour a user would pick
// as typical. 0 when there is no such pixel.
uint32_t MedianColor(const Raster& raster, const std::vector<uint8_t>& mask, bool inside = true);

// A drawn board scanned by the scanner model, with its true copper and the
// two clicks a user would make: the copper's and the substrate's median
// scanned colour, each taken over pixels whose 3 x 3 neighbourhood is
// wholly that feature in the drawing (a click lands inside, not on an edge).
struct ScannedBoard {
    Raster scan;
    std::vector<uint8_t> truth;
    uint32_t copperClick = 0;
    uint32_t backgroundClick = 0;
    // The silkscreen's clicks (white, then yellow), taken the same way.
    std::vector<uint32_t> silkClicks;
};

// whiteSilk repaints the yellow silkscreen white before the scan (to show
// what the yellow costs).
ScannedBoard ScanBoard(const BoardOptions& board, const ScannerModel& model, bool whiteSilk = false);

// Traces the copper click against the background click (and the silkscreen
// clicks as more background colours, when withSilk) with tolerance and
// speckle size (the conversion's class map) and measures the recovery.
Recovery TraceScannedBoard(const ScannedBoard& board, int32_t tolerance, int32_t despeckle, bool withSilk = false);

}  // namespace rastrace::bench
