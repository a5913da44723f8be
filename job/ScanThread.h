// SPDX-License-Identifier: GPL-3.0-or-later
// TScanThread: the scan worker of one colour. It scans the shared raster on
// its own thread and hands everything that touches the output file or the
// owner's state (records, PADS numbers, progress, its own end) to the
// owner thread through its job, waiting for each hand-off.
//
// The one fact a caller must know: a launched worker always ends with one
// ConvertDone hand-off (with or without an error) unless the job is
// stopped, and it must be joined before it is destroyed.
//
// Speed: runs are collected as compact Run values and turned into record
// text on the worker, a block of up to kBlockRuns records at a time, so
// the owner thread only copies finished text into the file. A block's
// write is posted without waiting: the worker formats the next block
// meanwhile, and waits for the write only before it posts the next one
// (two text buffers take turns), so a failed write still stops it.
#pragma once

#include "formats/Formats.h"
#include "job/HandOffQueue.h"
#include "raster/Raster.h"
#include "trace/ColorMatch.h"
#include "trace/Scanner.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace rastrace {

// What a scan worker needs from its conversion. The calls marked "owner
// thread" are made by the worker only from inside a step it hands over.
class ScanJobLink {
public:
    virtual ~ScanJobLink() = default;

    // Worker thread: runs step on the owner thread and waits for it;
    // rethrows what the step threw; JobStopped once the job is stopped.
    virtual void HandOff(const std::function<void()>& step) = 0;
    // Worker thread: queues step without waiting (see HandOffQueue::Post),
    // and waits for it later.
    virtual void Post(HandOffQueue::Ticket& ticket, std::function<void()> step) = 0;
    virtual void Wait(HandOffQueue::Ticket& ticket) = 0;
    // Worker thread: true once the job is being stopped.
    virtual bool StopRequested() const = 0;
    // Worker thread: blocks until worker index may write its records
    // (every worker before it in list order has ended); JobStopped when
    // the job is stopped meanwhile.
    virtual void WaitForTurn(int index) = 0;

    // Owner thread: whether worker index may write its records now.
    virtual bool MayWrite(int index) = 0;
    // Owner thread: takes count PADS item numbers; returns the first.
    virtual int32_t NextPolyNumbers(int32_t count) = 0;
    // Owner thread: writes whole record lines to the output file.
    virtual void WriteRecord(std::string_view text) = 0;
    // Owner thread: the worker has stepped rows more rows.
    virtual void StepProgress(int64_t rows) = 0;
    // Owner thread: worker index has written tracks more records.
    virtual void CountTracks(int /*index*/, int64_t /*tracks*/) {}
    // Owner thread: worker index has ended, error holding its failure.
    virtual void ConvertDone(int index, const std::optional<std::string>& error) = 0;
};

// The values a worker scans with, fixed when it is created.
struct ScanThreadParams {
    int index = 0;                        // position in the colour list
    std::shared_ptr<const Raster> bitmap;  // never null
    int32_t color = 0;                    // packed 0x00BBGGRR
    int32_t xres = 600, yres = 600;       // dots per inch
    OutputFormat format = OutputFormat::Pcb;
    std::string widthText, layerText;     // written as given
    // Write only after every earlier worker has ended (records grouped by
    // colour); until then keep the runs in memory and go on scanning.
    bool groupByColor = false;
    // Set when the conversion matches through a class map: the worker
    // scans the map's bytes equal to index + 1 instead of its colour.
    std::shared_ptr<SharedClassMap> classes;
    // Set instead when rows are matched one at a time (ScanMatchedRuns).
    std::shared_ptr<const ColorMatcher> matcher;
};

class TScanThread {
public:
    // Records per hand-off; also the PADS numbers taken at once.
    static constexpr size_t kBlockRuns = 4096;
    // Rows a worker may step without handing progress over: height / this.
    static constexpr int32_t kProgressParts = 100;

    TScanThread(ScanJobLink& link, ScanThreadParams params);
    ~TScanThread();  // joins a thread still running
    TScanThread(const TScanThread&) = delete;
    TScanThread& operator=(const TScanThread&) = delete;

    // Starts the worker's thread, which runs Execute and then hands over
    // ConvertDone. Throws std::system_error when no thread can be made.
    void Launch();
    void Join();

    // The worker's body: the scan of FColor over FBitmap. Throws what
    // ended it: a scan error, an error carried back from a hand-off, or
    // JobStopped. Runs on the worker's thread.
    void Execute();

private:
    void ThreadMain() noexcept;
    void OnRow();
    void OnRun(const Run& run);
    // Numbers (PADS), formats and writes the kept runs, in blocks; each
    // block carries the rows it completes.
    void WriteRuns();
    // Hands over the rows done since the last hand-off, and learns
    // whether this worker may write now.
    void HandOverRows();
    // The rows that count as done: all scanned rows, but while runs are
    // kept back for their turn only the rows before the first kept run,
    // so the progress bar follows the written work and reaches its end
    // with the last record, not when the scanning ends.
    int64_t RowsDone() const;

    ScanJobLink& link_;
    const int index_;
    const OutputFormat format_;
    const bool groupByColor_;

    std::shared_ptr<const Raster> FBitmap;
    int32_t FColor;
    std::shared_ptr<SharedClassMap> classes_;
    std::shared_ptr<const ColorMatcher> matcher_;
    int32_t FXRes;
    int32_t FYRes;
    std::string FWidthText;
    std::string FLayerText;
    std::string FRecord;  // the text of the block about to be written
    std::string writing_;  // the text of the block the owner is writing
    HandOffQueue::Ticket writeTicket_;

    TrackMapping mapping_;
    std::vector<Run> runs_;    // found and not yet written, in scan order
    int64_t rowsPending_ = 0;  // rows scanned since the last hand-off
    int64_t rowsScanned_ = 0;  // rows of the picture scanned so far
    int64_t rowsCounted_ = 0;  // rows handed over as progress so far
    int64_t progressInterval_ = 1;
    bool mayWrite_ = true;
    std::thread thread_;
};

}  // namespace rastrace
