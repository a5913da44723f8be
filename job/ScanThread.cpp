// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/ScanThread.h"

#include "job/HandOffQueue.h"
#include "job/ItemCounter.h"

#include <algorithm>
#include <new>
#include <utility>

namespace rastrace {

TScanThread::TScanThread(ScanJobLink& link, ScanThreadParams params)
    : link_(link),
      index_(params.index),
      format_(params.format),
      groupByColor_(params.groupByColor),
      FBitmap(std::move(params.bitmap)),
      FColor(params.color),
      classes_(std::move(params.classes)),
      matcher_(std::move(params.matcher)),
      FXRes(params.xres),
      FYRes(params.yres),
      FWidthText(std::move(params.widthText)),
      FLayerText(std::move(params.layerText)) {}

TScanThread::~TScanThread() { Join(); }

void TScanThread::Launch() { thread_ = std::thread(&TScanThread::ThreadMain, this); }

void TScanThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void TScanThread::ThreadMain() noexcept {
    std::optional<std::string> error;
    try {
        Execute();
    } catch (const std::bad_alloc&) {
        error = "Out of memory";
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "Unknown error";
    }
    // A posted write still refers to this worker's buffer: see it through.
    try {
        link_.Wait(writeTicket_);
    } catch (const std::exception& e) {
        if (!error) error = e.what();
    } catch (...) {
    }
    // Give the kept runs and text back before waiting on the owner.
    runs_ = {};
    FRecord = {};
    writing_ = {};
    try {
        link_.HandOff([&] { link_.ConvertDone(index_, error); });
    } catch (...) {
        // Stopped: the job cleans up without this worker's end. ConvertDone
        // itself reports through the owner and does not throw.
    }
}

void TScanThread::Execute() {
    // The mapping first: a resolution of 0 fails before the first row step.
    mapping_ = TrackMapping(FXRes, FYRes, FBitmap->Height());
    progressInterval_ = std::max<int64_t>(1, FBitmap->Height() / kProgressParts);
    mayWrite_ = !groupByColor_ || index_ == 0;
    rowsPending_ = 0;
    rowsScanned_ = 0;
    rowsCounted_ = 0;
    runs_.clear();

    if (classes_) {
        // The first worker here builds the map; a stop ends the build too.
        classes_->Scan(
            static_cast<uint8_t>(index_ + 1),
            [this] {
                if (link_.StopRequested()) throw JobStopped();
            },
            [this](int32_t) { OnRow(); }, [this](const Run& run) { OnRun(run); });
    } else if (matcher_) {
        ScanMatchedRuns(
            *FBitmap, *matcher_, static_cast<uint8_t>(index_ + 1), [this](int32_t) { OnRow(); },
            [this](const Run& run) { OnRun(run); });
    } else if (ColorMatcher::ExactRowsBeatTheScan()) {
        // This worker's colour alone, matched exactly a row at a time: the
        // same runs as the pixel kernel's, found faster where rows are
        // classified sixteen pixels a step.
        const uint32_t color = static_cast<uint32_t>(FColor);
        const ColorMatcher exact(std::span<const uint32_t>(&color, 1), MatchOptions{});
        ScanMatchedRuns(
            *FBitmap, exact, uint8_t{1}, [this](int32_t) { OnRow(); }, [this](const Run& run) { OnRun(run); });
    } else {
        ScanRuns(
            *FBitmap, static_cast<uint32_t>(FColor), [this](int32_t) { OnRow(); },
            [this](const Run& run) { OnRun(run); });
    }

    if (!mayWrite_) {
        link_.WaitForTurn(index_);
        mayWrite_ = true;
    }
    if (!runs_.empty()) WriteRuns();
    if (rowsScanned_ > rowsCounted_) HandOverRows();
    link_.Wait(writeTicket_);
}

void TScanThread::OnRow() {
    // Runs before any pixel of the row is read, so a stop ends the scan here.
    if (link_.StopRequested()) throw JobStopped();
    ++rowsScanned_;
    if (++rowsPending_ < progressInterval_) return;
    if (mayWrite_ && !runs_.empty()) {
        WriteRuns();
    } else {
        HandOverRows();
    }
}

void TScanThread::OnRun(const Run& run) {
    runs_.push_back(run);
    if (mayWrite_ && runs_.size() >= kBlockRuns) WriteRuns();
}

int64_t TScanThread::RowsDone() const {
    if (mayWrite_ || runs_.empty()) return rowsScanned_;
    return std::min<int64_t>(rowsScanned_, runs_.front().row);
}

void TScanThread::WriteRuns() {
    for (size_t begin = 0; begin < runs_.size(); begin += kBlockRuns) {
        const size_t count = std::min(kBlockRuns, runs_.size() - begin);
        int32_t number = 0;
        if (format_ == OutputFormat::Asc) {
            link_.HandOff([&] { number = link_.NextPolyNumbers(static_cast<int32_t>(count)); });
        }
        FRecord.clear();
        for (size_t i = begin; i < begin + count; ++i) {
            AppendRecordLine(FRecord, format_, number, mapping_.Map(runs_[i]), FWidthText, FLayerText);
            number = WrappingAdd(number, 1);  // wraps like the owner's counter
        }
        // The block completes the rows before the next run still to write.
        const size_t next = begin + count;
        const int64_t upTo = next < runs_.size() ? std::min<int64_t>(rowsScanned_, runs_[next].row) : rowsScanned_;
        const int64_t rows = std::max<int64_t>(0, upTo - rowsCounted_);
        rowsCounted_ += rows;
        rowsPending_ = 0;
        link_.Wait(writeTicket_);  // the previous block is written: its buffer is free
        std::swap(FRecord, writing_);
        link_.Post(writeTicket_, [this, rows, count] {
            link_.WriteRecord(writing_);
            link_.CountTracks(index_, static_cast<int64_t>(count));
            link_.StepProgress(rows);
        });
    }
    runs_.clear();
}

void TScanThread::HandOverRows() {
    const int64_t rows = std::max<int64_t>(0, RowsDone() - rowsCounted_);
    rowsCounted_ += rows;
    rowsPending_ = 0;
    bool mayWrite = mayWrite_;
    link_.HandOff([&] {
        link_.StepProgress(rows);
        mayWrite = link_.MayWrite(index_);
    });
    mayWrite_ = mayWrite;
}

}  // namespace rastrace
