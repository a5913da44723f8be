// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace/OutlineScanAhead.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace rastrace {

ScanAheadRows::ScanAheadRows(const Raster& raster, std::vector<uint32_t> colors, int32_t ringRows)
    : raster_(raster), ring_(std::max(ringRows, 2 * kBatch + 1)) {
    std::sort(colors.begin(), colors.end());
    colors.erase(std::unique(colors.begin(), colors.end()), colors.end());
    colors.erase(std::remove_if(colors.begin(), colors.end(), [](uint32_t c) { return c > 0x00FFFFFFu; }),
                 colors.end());
    colors_ = std::move(colors);
    if (raster_.Empty() || colors_.empty()) return;
    slots_.assign(colors_.size(), std::vector<std::vector<Span>>(static_cast<size_t>(ring_)));
    scanned_.assign(colors_.size(), 0);
    try {
        for (size_t k = 0; k < colors_.size(); ++k) threads_.emplace_back([this, k] { Scan(k); });
    } catch (const std::system_error&) {
        Stop();  // scan on the caller's thread instead
        slots_.clear();
    }
}

ScanAheadRows::~ScanAheadRows() { Stop(); }

void ScanAheadRows::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

void ScanAheadRows::Scan(size_t k) {
    const uint32_t color[] = {colors_[k]};
    const int32_t height = raster_.Height();
    try {
        for (int32_t row = 0; row < height; ++row) {
            if (row % kBatch == 0) {
                std::unique_lock<std::mutex> lock(mutex_);
                scanned_[k] = row;
                changed_.notify_all();
                changed_.wait(lock, [&] { return stop_ || row - consumed_ < ring_ - kBatch; });
                if (stop_) return;
            }
            CopperRowRuns(raster_, row, color, slots_[k][static_cast<size_t>(row % ring_)]);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        scanned_[k] = height;
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
        scanned_[k] = height;
    }
    changed_.notify_all();
}

void ScanAheadRows::Row(int32_t row, std::vector<Span>& runs) {
    if (row != next_ || row >= raster_.Height()) throw std::logic_error("ScanAheadRows: rows out of order");
    ++next_;
    if (slots_.empty()) {
        CopperRowRuns(raster_, row, colors_, runs);
        return;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
            return failure_ || std::all_of(scanned_.begin(), scanned_.end(), [&](int32_t s) { return s > row; });
        });
        if (failure_) std::rethrow_exception(failure_);
    }
    runs.clear();
    for (const auto& colour : slots_) {
        const auto& slot = colour[static_cast<size_t>(row % ring_)];
        runs.insert(runs.end(), slot.begin(), slot.end());
    }
    if (slots_.size() > 1) {
        std::sort(runs.begin(), runs.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    }
    if (next_ % kBatch == 0) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            consumed_ = next_;
        }
        changed_.notify_all();
    }
}

}  // namespace rastrace
