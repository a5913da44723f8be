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
constexpr int64_t kBandBytes = int64_t{2} << 20;

class Pipeline {
public:
    Pipeline(PictureRows& rows, int32_t bandRows, size_t slots)
        : rows_(rows),
          bandRows_(std::max(bandRows, 1)),
          slots_(std::max<size_t>(slots, 1)),
          bands_((static_cast<int64_t>(rows.Height()) + bandRows_ - 1) / bandRows_),
          stride_(rows.NaturalStride()),
          concurrent_(rows.ConcurrentReads()),
          done_(slots_, false) {}

    Band BandAt(int64_t b) const {
        const auto first = static_cast<int32_t>(b * bandRows_);
        return Band{first, std::min(bandRows_, rows_.Height() - first), static_cast<size_t>(b) % slots_};
    }

    // A worker's loop: read the next band, work on it, mark it done.
    void Work(int worker, const std::function<void(int, const Band&, const uint8_t*, ptrdiff_t)>& work) noexcept {
        try {
            const size_t step = static_cast<size_t>(std::abs(stride_));
            std::vector<uint8_t> buffer(static_cast<size_t>(bandRows_) * step);
            for (;;) {
                std::unique_lock reading(readMutex_);
                int64_t b = 0;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || next_ >= bands_ || next_ - taken_ < static_cast<int64_t>(slots_); });
                    if (stop_ || next_ >= bands_) return;
                    b = next_++;
                }
                const Band band = BandAt(b);
                uint8_t* first = stride_ < 0 ? buffer.data() + static_cast<size_t>(band.count - 1) * step : buffer.data();
                if (concurrent_) reading.unlock();  // bands in any order: read them side by side
                rows_.ReadRows(band.first, band.count, first, stride_);
                if (!concurrent_) reading.unlock();
                work(worker, band, first, stride_);
                {
                    std::lock_guard lock(mutex_);
                    done_[band.slot] = true;
                }
                changed_.notify_all();
            }
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    // The calling thread's loop: take each band in order.
    void Take(const std::function<void(const Band&)>& take) {
        for (int64_t b = 0; b < bands_; ++b) {
            const Band band = BandAt(b);
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || done_[band.slot]; });
                if (stop_) return;
            }
            take(band);
            {
                std::lock_guard lock(mutex_);
                done_[band.slot] = false;
                ++taken_;
            }
            changed_.notify_all();
        }
    }

    // Everything on the calling thread, band by band.
    void Serial(const std::function<void(int, const Band&, const uint8_t*, ptrdiff_t)>& work,
                const std::function<void(const Band&)>& take) {
        const size_t step = static_cast<size_t>(std::abs(stride_));
        std::vector<uint8_t> buffer(static_cast<size_t>(bandRows_) * step);
        for (int64_t b = 0; b < bands_; ++b) {
            const Band band = BandAt(b);
            uint8_t* first = stride_ < 0 ? buffer.data() + static_cast<size_t>(band.count - 1) * step : buffer.data();
            rows_.ReadRows(band.first, band.count, first, stride_);
            work(0, band, first, stride_);
            take(band);
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
    PictureRows& rows_;
    const int32_t bandRows_;
    const size_t slots_;
    const int64_t bands_;
    const ptrdiff_t stride_;
    const bool concurrent_;

    std::mutex readMutex_;  // one read at a time, in band order, unless reads may run side by side
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t next_ = 0;   // the next band to read
    int64_t taken_ = 0;  // bands taken so far
    std::vector<bool> done_;
    bool stop_ = false;
    std::exception_ptr error_;
};

}  // namespace

int32_t BandRowsFor(const PictureRows& rows, int32_t wanted) {
    if (wanted > 0) return wanted;
    const int64_t rowBytes = std::max<int64_t>(1, static_cast<int64_t>(rows.Width()) * 3);
    const int64_t natural = rows.BandRows();
    const int64_t rowsForBytes = std::max<int64_t>(1, kBandBytes / rowBytes);
    return static_cast<int32_t>(std::clamp<int64_t>(std::max(natural, rowsForBytes), 1, std::max(rows.Height(), 1)));
}

void RunBands(PictureRows& rows, int threads, int32_t bandRows, size_t slots,
              const std::function<void(int, const Band&, const uint8_t*, ptrdiff_t)>& work,
              const std::function<void(const Band&)>& take) {
    if (rows.Height() == 0) return;
    Pipeline pipeline(rows, bandRows, slots);
    std::vector<std::thread> workers;
    try {
        for (int w = 0; w < std::max(threads, 1); ++w) workers.emplace_back([&, w] { pipeline.Work(w, work); });
    } catch (const std::system_error&) {
        // Fewer threads than asked: the ones made do all the work; with
        // none, this thread reads and works band by band itself.
    }
    try {
        if (workers.empty()) {
            pipeline.Serial(work, take);  // no thread could be made: all of it here
        } else {
            pipeline.Take(take);
        }
    } catch (...) {
        pipeline.Fail(std::current_exception());
    }
    for (std::thread& t : workers) t.join();
    pipeline.RethrowFailure();
}

}  // namespace rastrace
