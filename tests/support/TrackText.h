// SPDX-License-Identifier: GPL-3.0-or-later
// Tracks and record texts one at a time, for tests that compare what the
// job writes with what the scanner and the formats give for each track.
#pragma once

#include "formats/Formats.h"
#include "raster/Raster.h"
#include "trace/Scanner.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rastrace::test {

// The whole scan with tracks: computes the mapping first (so a resolution
// of 0 fails before the first row step), then reports each run as a track.
void Scan(const Raster& raster, int32_t color, int32_t xres, int32_t yres,
          const std::function<void(int32_t row)>& onRow, const std::function<void(const Track&)>& onTrack);

// One record without its final CR LF ("FT", CR LF, the track line).
std::string PcbRecord(const Track& track, std::string_view width, std::string_view layer);
// One four-line item without its final CR LF; number is the item number.
std::string AscRecord(int32_t number, const Track& track, std::string_view width, std::string_view layer);

}  // namespace rastrace::test
