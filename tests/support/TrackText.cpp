// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TrackText.h"

namespace rastrace::test {

void Scan(const Raster& raster, int32_t color, int32_t xres, int32_t yres,
          const std::function<void(int32_t row)>& onRow, const std::function<void(const Track&)>& onTrack) {
    const TrackMapping mapping(xres, yres, raster.Height());
    ScanRuns(raster, static_cast<uint32_t>(color), onRow, [&](const Run& run) { onTrack(mapping.Map(run)); });
}

std::string PcbRecord(const Track& track, std::string_view width, std::string_view layer) {
    std::string text;
    AppendPcbRecordLine(text, track, width, layer);
    text.resize(text.size() - 2);
    return text;
}

std::string AscRecord(int32_t number, const Track& track, std::string_view width, std::string_view layer) {
    std::string text;
    AppendAscRecordLine(text, number, track, width, layer);
    text.resize(text.size() - 2);
    return text;
}

}  // namespace rastrace::test
