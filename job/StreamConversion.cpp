// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/StreamConversion.h"

#include "raster/BandPipeline.h"
#include "common/IntText.h"
#include "job/ItemCounter.h"
#include "trace/RowTracer.h"
#include "trace/Scanner.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <memory>
#include <utility>

namespace rastrace {

namespace {

constexpr size_t kFlushBytes = size_t{1} << 20;
// Bands in flight: two per worker keeps both busy while one is taken.
constexpr size_t kSlotsPerWorker = 2;
// The largest PADS item number that fills exactly the eight digits of
// "JTPOLY00000000".
constexpr int32_t kPaddedItemMax = 99999999;
constexpr size_t kItemNumberAt = 6;  // after "JTPOLY"

// Writes pieces of text on a thread of its own, so that a slow disk (the
// file's write-back) and the tracing overlap. A piece may also be runs
// that the thread formats (through format) before writing them. At most
// kDepth pieces wait; their buffers come back for reuse. The first write
// error comes out of the next Push or of Finish. Without a thread, pieces
// are written at once.
class WriteBehind {
public:
    using Format = std::function<void(std::string& text, const std::vector<Run>& runs, int32_t number)>;

    WriteBehind(const std::function<void(std::string_view)>& write, Format format)
        : write_(write), format_(std::move(format)) {
        try {
            thread_ = std::thread([this] { Serve(); });
        } catch (const std::system_error&) {
        }
    }
    ~WriteBehind() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Queues text; gives back an empty buffer to fill next.
    std::string Push(std::string text) { return Queue(Piece{std::move(text), {}, 0}).text; }
    // Queues the records of runs, numbered from number; gives back an
    // empty vector to fill next.
    std::vector<Run> PushRuns(std::vector<Run> runs, int32_t number) {
        return Queue(Piece{std::string(), std::move(runs), number}).runs;
    }

    // Waits until every piece is written.
    void Finish() {
        if (!thread_.joinable()) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return error_ || (queue_.empty() && !writing_); });
        if (error_) std::rethrow_exception(error_);
    }

private:
    static constexpr size_t kDepth = 4;

    struct Piece {
        std::string text;
        std::vector<Run> runs;
        int32_t number;
    };

    void Write(Piece& piece) {
        if (!piece.runs.empty()) format_(piece.text, piece.runs, piece.number);
        write_(piece.text);
        piece.text.clear();
        piece.runs.clear();
    }

    // Queues piece; gives back an empty piece whose buffers may be reused.
    Piece Queue(Piece piece) {
        if (!thread_.joinable()) {
            Write(piece);
            return piece;
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return error_ || queue_.size() < kDepth; });
        if (error_) std::rethrow_exception(error_);
        queue_.push_back(std::move(piece));
        Piece spare{std::string(), {}, 0};
        if (!spares_.empty()) {
            spare = std::move(spares_.back());
            spares_.pop_back();
        }
        lock.unlock();
        changed_.notify_all();
        return spare;
    }

    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return closing_ || !queue_.empty(); });
            if (closing_ || error_) return;
            Piece piece = std::move(queue_.front());
            queue_.pop_front();
            writing_ = true;
            lock.unlock();
            std::exception_ptr error;
            try {
                Write(piece);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            writing_ = false;
            if (error) error_ = error;
            spares_.push_back(std::move(piece));
            changed_.notify_all();
        }
    }

    const std::function<void(std::string_view)>& write_;
    const Format format_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> queue_;
    std::vector<Piece> spares_;
    bool writing_ = false;
    bool closing_ = false;
    std::exception_ptr error_;
};

// Formats records and hands them on in large pieces; numbers PADS items.
class RecordWriter {
public:
    RecordWriter(const StreamRequest& request, int32_t height, const std::function<void(std::string_view)>& write)
        : request_(request),
          mapping_(request.xres, request.yres, height),
          behind_(write, [this](std::string& text, const std::vector<Run>& runs, int32_t number) {
              Format(text, runs.data(), runs.size(), number);
          }) {}

    // Takes count PADS numbers; returns the first.
    int32_t TakeNumbers(int32_t count) { return counter_.Take(count); }

    // Appends the records of count runs, numbered from number (ASC); notes
    // where each record starts in itemStarts when it is given.
    void Format(std::string& text, const Run* runs, size_t count, int32_t number,
                std::vector<uint32_t>* itemStarts = nullptr) const {
        for (size_t i = 0; i < count; ++i) {
            if (itemStarts != nullptr) itemStarts->push_back(static_cast<uint32_t>(text.size()));
            AppendRecordLine(text, request_.format, number, mapping_.Map(runs[i]), request_.widthText, request_.layerText);
            number = WrappingAdd(number, 1);
        }
    }

    void Text(std::string_view text) {
        text_ += text;
        if (text_.size() >= kFlushBytes) Flush();
    }
    // The records of runs, numbered on from the items so far, formatted
    // by the writing thread; gives back an empty vector to fill next.
    std::vector<Run> Records(std::vector<Run> runs) {
        if (runs.empty()) return runs;
        Flush();
        const int32_t number = TakeNumbers(static_cast<int32_t>(runs.size()));
        return behind_.PushRuns(std::move(runs), number);
    }
    // Hands the text so far on.
    void Flush() {
        if (text_.empty()) return;
        text_ = behind_.Push(std::move(text_));
        if (text_.capacity() < kFlushBytes) text_.reserve(kFlushBytes + kFlushBytes / 8);
    }
    // Hands the rest on and waits until all of it is written.
    void Finish() {
        Flush();
        behind_.Finish();
    }

private:
    const StreamRequest& request_;
    const TrackMapping mapping_;
    WriteBehind behind_;
    ItemCounter counter_;
    std::string text_;
};

class Progress {
public:
    explicit Progress(const std::function<void(int64_t)>& step) : step_(step) {}
    void Step(int64_t steps) {
        if (step_ && steps > 0) step_(steps);
    }

private:
    const std::function<void(int64_t)>& step_;
};

// The runs of one row, those of rows more alike below it: runs holds the
// first row's runs and gets rows - 1 copies, a row further down each.
void RepeatRowRuns(std::vector<Run>& runs, int32_t rows) {
    const size_t one = runs.size();
    if (one == 0 || rows <= 1) return;
    runs.reserve(one * static_cast<size_t>(rows));
    for (int32_t i = 1; i < rows; ++i) {
        for (size_t j = 0; j < one; ++j) runs.push_back(Run{runs[j].startCol, runs[j].endCol, runs[j].row + i});
    }
}

// Writes a kept colour's runs: chunks of them are formatted on threads
// workers while the chunks before are handed on in order, so a colour's
// turn costs little more than its writing. Steps the rows as they pass.
void WriteKept(const std::vector<Run>& runs, int32_t height, RecordWriter& out, Progress& progress, int threads) {
    constexpr size_t kChunkRuns = 16384;
    const size_t chunks = (runs.size() + kChunkRuns - 1) / kChunkRuns;
    // PADS numbers run on through the chunks in order.
    std::vector<int32_t> firstNumbers(chunks);
    for (size_t c = 0; c < chunks; ++c) {
        firstNumbers[c] = out.TakeNumbers(static_cast<int32_t>(std::min(kChunkRuns, runs.size() - c * kChunkRuns)));
    }
    const size_t slots = 2 * static_cast<size_t>(std::max(threads, 1));
    std::vector<std::string> texts(slots);
    int32_t row = 0;  // rows of this colour stepped so far
    RunOrdered(
        static_cast<int64_t>(chunks), threads, slots, true, {},
        [&](int, int64_t c) {
            const size_t begin = static_cast<size_t>(c) * kChunkRuns;
            std::string& text = texts[static_cast<size_t>(c) % slots];
            text.clear();
            out.Format(text, runs.data() + begin, std::min(kChunkRuns, runs.size() - begin), firstNumbers[static_cast<size_t>(c)]);
        },
        [&](int64_t c) {
            out.Text(texts[static_cast<size_t>(c) % slots]);
            const int32_t lastRow = runs[std::min(runs.size(), static_cast<size_t>(c + 1) * kChunkRuns) - 1].row;
            progress.Step(lastRow - row);
            row = lastRow;
        });
    progress.Step(height - row);
}

// The rows matched into class runs with speckles removed. The first
// colour's records are written as rows become final, while later rows are
// still read; the other colours' runs wait for their turn.
void ConvertThroughClassRuns(PictureRows& rows, const StreamRequest& request, RecordWriter& out, Progress& progress,
                            std::vector<int64_t>& tracks, std::vector<uint64_t>* matchedPixels) {
    const int32_t height = rows.Height();
    const size_t colors = request.colors.size();
    std::vector<std::vector<Run>> kept(colors);
    std::vector<Run> first;
    ClassifyRows(rows, request.colors, request.match, std::max(request.threads, 1), request.bandRows,
                 [&](const ClassRuns& classes, int32_t begin, int32_t end) {
                     ScanClassRunRows(classes, uint8_t{1}, begin, end, [](int32_t) {}, [&](const Run& run) { first.push_back(run); });
                     tracks[0] += static_cast<int64_t>(first.size());
                     first = out.Records(std::move(first));
                     for (size_t k = 1; k < colors; ++k) {
                         ScanClassRunRows(classes, static_cast<uint8_t>(k + 1), begin, end, [](int32_t) {},
                                          [&](const Run& run) { kept[k].push_back(run); });
                     }
                     progress.Step(end - begin);
                 },
                 matchedPixels);
    for (size_t k = 1; k < colors; ++k) {
        tracks[k] = static_cast<int64_t>(kept[k].size());
        WriteKept(kept[k], height, out, progress, std::max(request.threads, 1));
        kept[k] = {};
    }
}

}  // namespace

std::vector<int64_t> ConvertRows(PictureRows& rows, const StreamRequest& request,
                                 const std::function<void(std::string_view)>& write,
                                 const std::function<void(int64_t)>& progressStep,
                                 std::vector<uint64_t>* matchedPixels) {
    CheckMatchOptions(request.match, request.colors.size());
    if (matchedPixels != nullptr) matchedPixels->clear();
    const int32_t width = rows.Width(), height = rows.Height();
    RecordWriter out(request, height, write);  // both scales first: a resolution of 0 fails here
    Progress progress(progressStep);
    std::vector<int64_t> tracks(request.colors.size(), 0);
    out.Text(HeaderText(request.format));
    if (request.colors.empty()) {
        out.Text(TrailerText(request.format));
        out.Finish();
        return tracks;
    }

    if (request.match.despeckle > 1) {
        ConvertThroughClassRuns(rows, request, out, progress, tracks, matchedPixels);
    } else {
        const int threads = std::max(request.threads, 1);
        const size_t slots = kSlotsPerWorker * static_cast<size_t>(threads);
        const size_t colors = request.colors.size();
        std::vector<RowTracer> tracers;
        for (int w = 0; w < threads; ++w) tracers.emplace_back(width, request.colors, request.match);
        // Each slot: the band's runs, colour by colour, and the first
        // colour's records already formatted by the worker. A PADS item's
        // number depends on every band before it: the worker numbers from 0
        // (eight digits while a band holds fewer than 10^8 items) and notes
        // where each item starts, and the number is put in as the band is
        // taken (its eight digits hold every number up to 99999999; past
        // that the band is formatted again in order).
        std::vector<std::vector<std::vector<Run>>> found(slots, std::vector<std::vector<Run>>(colors));
        std::vector<std::string> formatted(slots);
        std::vector<std::vector<uint32_t>> itemStarts(slots);
        const bool asc = request.format == OutputFormat::Asc;
        // The other colours' runs wait for their turn here.
        std::vector<std::vector<Run>> kept(colors);
        RunBands(
            rows, threads, BandRowsFor(rows, request.bandRows), slots,
            [&](int worker, const Band& band, const uint8_t* first, ptrdiff_t stride) {
                std::vector<std::vector<Run>>& runs = found[band.slot];
                for (std::vector<Run>& r : runs) r.clear();
                RowTracer& tracer = tracers[static_cast<size_t>(worker)];
                // A repeated band's row is traced once; its runs are those
                // of every row of the band.
                const int32_t traced = band.repeated ? 1 : band.count;
                for (int32_t i = 0; i < traced; ++i) {
                    const int32_t row = band.first + i;
                    tracer.TraceRow(first + i * stride,
                                    [&](size_t k, int32_t s, int32_t e) { runs[k].push_back(Run{s, e, row}); });
                }
                if (band.repeated) {
                    for (std::vector<Run>& r : runs) RepeatRowRuns(r, band.count);
                }
                formatted[band.slot].clear();
                itemStarts[band.slot].clear();
                out.Format(formatted[band.slot], runs[0].data(), runs[0].size(), 0, asc ? &itemStarts[band.slot] : nullptr);
            },
            [&](const Band& band) {
                std::vector<std::vector<Run>>& runs = found[band.slot];
                const auto count = static_cast<int32_t>(runs[0].size());
                if (asc && count > 0) {
                    const int32_t number = out.TakeNumbers(count);
                    std::string& text = formatted[band.slot];
                    if (number >= 1 && number <= kPaddedItemMax - (count - 1)) {
                        for (int32_t i = 0; i < count; ++i) {
                            AppendDecimalPadded(text.data() + itemStarts[band.slot][static_cast<size_t>(i)] + kItemNumberAt,
                                                number + i, 8);
                        }
                    } else {
                        text.clear();
                        out.Format(text, runs[0].data(), runs[0].size(), number);
                    }
                }
                out.Text(formatted[band.slot]);
                tracks[0] += count;
                for (size_t k = 1; k < colors; ++k) kept[k].insert(kept[k].end(), runs[k].begin(), runs[k].end());
                progress.Step(band.count);
            });
        rows.CheckUnchanged();
        for (size_t k = 1; k < colors; ++k) {
            tracks[k] = static_cast<int64_t>(kept[k].size());
            WriteKept(kept[k], height, out, progress, threads);
            kept[k] = {};
        }
    }
    out.Text(TrailerText(request.format));
    out.Finish();
    return tracks;
}

}  // namespace rastrace
