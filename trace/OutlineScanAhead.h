// SPDX-License-Identifier: GPL-3.0-or-later
// Copper rows scanned ahead: one thread per colour runs the run scanner's
// kernel over the rows while the caller traces the rows already done, as the
// conversion job's workers do for the track formats. The caller's thread
// merges each row's colours when every colour has it.
//
// The one fact a caller must know: rows are asked for in order, 0 first,
// each once; the scanners stay at most ringRows rows ahead, so memory is
// ringRows rows of runs per colour, never a copy of the picture. When a
// thread cannot be started, the rows are scanned on the caller's thread.
#pragma once

#include "raster/Raster.h"
#include "trace/Outline.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace rastrace {

class ScanAheadRows {
public:
    // Starts the scanners. Repeated colours count once; values above
    // 0x00FFFFFF match no pixel. The raster must outlive this object.
    ScanAheadRows(const Raster& raster, std::vector<uint32_t> colors, int32_t ringRows = 256);
    ~ScanAheadRows();  // stops the scanners and waits for them
    ScanAheadRows(const ScanAheadRows&) = delete;
    ScanAheadRows& operator=(const ScanAheadRows&) = delete;

    // The merged runs of row into runs (as CopperRowRuns gives them). Waits
    // for the scanners; rethrows what a scanner threw. Throws
    // std::logic_error when row is not the next row.
    void Row(int32_t row, std::vector<Span>& runs);

    bool Threaded() const { return !threads_.empty(); }

private:
    void Scan(size_t k);
    void Stop();

    static constexpr int32_t kBatch = 16;  // rows between hand-overs, to keep the lock quiet

    const Raster& raster_;
    std::vector<uint32_t> colors_;
    int32_t ring_;
    std::vector<std::vector<std::vector<Span>>> slots_;  // per colour, ring_ rows
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int32_t> scanned_;  // per colour: rows complete
    int32_t consumed_ = 0;          // rows the caller has taken (published per batch)
    int32_t next_ = 0;              // the next row the caller may ask for
    bool stop_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

}  // namespace rastrace
