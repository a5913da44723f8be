// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/BandPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace rastrace {

namespace {

// Rows of a band where the reader has no preference: about two megabytes,
// where fewer reads and hand-overs and the cache's reach balance best.
constexpr uint64_t kBandBytes = uint64_t{2} << 20;

class Ordered {
public:
    Ordered(int64_t count, size_t slots, bool startsSideBySide)
        : count_(count), slots_(std::max<size_t>(slots, 1)), sideBySide_(startsSideBySide), done_(slots_, false) {}

    // A worker's loop: take the next item, start it (in item order unless
    // starts may run side by side), work on it, mark it done.
    void Work(int worker, const std::function<void(int, int64_t)>& start,
              const std::function<void(int, int64_t)>& work) noexcept {
        try {
            for (;;) {
                std::unique_lock starting(startMutex_);
                int64_t item = 0;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] {
                        return stop_ || next_ >= count_ || next_ - taken_ < static_cast<int64_t>(slots_);
                    });
                    if (stop_ || next_ >= count_) return;
                    item = next_++;
                }
                if (sideBySide_) starting.unlock();
                if (start) start(worker, item);
                if (!sideBySide_) starting.unlock();
                work(worker, item);
                {
                    std::lock_guard lock(mutex_);
                    done_[Slot(item)] = true;
                }
                changed_.notify_all();
            }
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    // The calling thread's loop: take each item in order.
    void Take(const std::function<void(int64_t)>& take) {
        for (int64_t item = 0; item < count_; ++item) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || done_[Slot(item)]; });
                if (stop_) return;
            }
            take(item);
            {
                std::lock_guard lock(mutex_);
                done_[Slot(item)] = false;
                ++taken_;
            }
            changed_.notify_all();
        }
    }

    // Everything on the calling thread, item by item.
    void Serial(const std::function<void(int, int64_t)>& start, const std::function<void(int, int64_t)>& work,
                const std::function<void(int64_t)>& take) {
        for (int64_t item = 0; item < count_; ++item) {
            if (start) start(0, item);
            work(0, item);
            take(item);
        }
    }

    void Fail(std::exception_ptr error) {
        {
            std::lock_guard lock(mutex_);
            if (!error_) error_ = error;
            stop_ = true;
        }
        changed_.notify_all();
    }

    void RethrowFailure() {
        if (error_) std::rethrow_exception(error_);
    }

private:
    size_t Slot(int64_t item) const { return static_cast<size_t>(item) % slots_; }

    const int64_t count_;
    const size_t slots_;
    const bool sideBySide_;

    std::mutex startMutex_;  // one start at a time, in item order, unless starts run side by side
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t next_ = 0;   // the next item to start
    int64_t taken_ = 0;  // items taken so far
    std::vector<bool> done_;
    bool stop_ = false;
    std::exception_ptr error_;
};

}  // namespace

void RunOrdered(int64_t count, int threads, size_t slots, bool startsSideBySide,
                const std::function<void(int worker, int64_t item)>& start,
                const std::function<void(int worker, int64_t item)>& work,
                const std::function<void(int64_t item)>& take) {
    if (count <= 0) return;
    Ordered ordered(count, slots, startsSideBySide);
    std::vector<std::thread> workers;
    try {
        for (int w = 0; w < std::max(threads, 1); ++w) {
            workers.emplace_back([&, w] { ordered.Work(w, start, work); });
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked: the ones made do all the work.
    }
    try {
        if (workers.empty()) {
            ordered.Serial(start, work, take);  // no thread could be made: all of it here
        } else {
            ordered.Take(take);
        }
    } catch (...) {
        ordered.Fail(std::current_exception());
    }
    for (std::thread& t : workers) t.join();
    ordered.RethrowFailure();
}

int32_t BandRowsFor(const PictureRows& rows, int32_t wanted) {
    if (wanted > 0) return wanted;
    return std::max(rows.BandRows(), RowsForBytes(rows.Width(), rows.Height(), kBandBytes));
}

namespace {

// The bands top to bottom: repeated rows in bands of their own, the others
// in bands of up to bandRows rows that stop where repeated rows begin.
std::vector<Band> PlanBands(const PictureRows& rows, int32_t bandRows, size_t slots) {
    const int32_t height = rows.Height();
    auto repeatsFrom = [&](int32_t row) { return rows.SameRowsAs(row).end - row; };
    std::vector<Band> bands;
    for (int32_t row = 0; row < height;) {
        Band band;
        band.first = row;
        band.slot = bands.size() % slots;
        if (const int32_t same = repeatsFrom(row); same > 1) {
            band.count = std::min(same, kMostRepeatedRows);
            band.repeated = true;
        } else {
            const auto most = static_cast<int32_t>(std::min<int64_t>(height, int64_t{row} + bandRows));
            int32_t end = row + 1;
            while (end < most && repeatsFrom(end) <= 1) ++end;
            band.count = end - row;
        }
        bands.push_back(band);
        row += band.count;
    }
    return bands;
}

}  // namespace

void RunBands(PictureRows& rows, int threads, int32_t bandRows, size_t slots,
              const std::function<void(int, const Band&, const uint8_t*, ptrdiff_t)>& work,
              const std::function<void(const Band&)>& take) {
    if (rows.Height() == 0) return;
    bandRows = std::max(bandRows, 1);
    slots = std::max<size_t>(slots, 1);
    const std::vector<Band> plan = PlanBands(rows, bandRows, slots);
    const auto bands = static_cast<int64_t>(plan.size());
    const ptrdiff_t stride = rows.NaturalStride();
    const size_t step = static_cast<size_t>(std::abs(stride));
    auto bandAt = [&](int64_t b) { return plan[static_cast<size_t>(b)]; };
    // Each worker reads its band into a buffer of its own.
    const int workers = std::max(threads, 1);
    std::vector<std::vector<uint8_t>> buffers(static_cast<size_t>(workers));
    std::vector<uint8_t*> firstRow(static_cast<size_t>(workers));
    RunOrdered(
        bands, workers, slots, rows.ConcurrentReads(),
        [&](int worker, int64_t b) {
            std::vector<uint8_t>& buffer = buffers[static_cast<size_t>(worker)];
            if (buffer.empty()) buffer.resize(static_cast<size_t>(bandRows) * step);
            const Band band = bandAt(b);
            const int32_t read = band.repeated ? 1 : band.count;
            uint8_t* first = stride < 0 ? buffer.data() + static_cast<size_t>(read - 1) * step : buffer.data();
            rows.ReadRows(band.first, read, first, stride);
            firstRow[static_cast<size_t>(worker)] = first;
        },
        [&](int worker, int64_t b) {
            const Band band = bandAt(b);
            work(worker, band, firstRow[static_cast<size_t>(worker)], band.repeated ? 0 : stride);
        },
        [&](int64_t b) { take(bandAt(b)); });
}

}  // namespace rastrace
