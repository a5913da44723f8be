// SPDX-License-Identifier: GPL-3.0-or-later
// One conversion: the output file, one scan worker (TScanThread) per
// colour, and every step that touches the file or the owner's state run on
// the owner thread through the hand-off queue.
//
// The first error of any worker (a failed write included) stops the other
// workers at their next row; the conversion then ends with that error.
//
// Thread rule: Start, DrainQueue, Stop and the destructor are called on the
// owner thread only; the owner's JobOwner callbacks (but Wake) run there
// too. Only the owner thread writes the output file. Workers only read the
// raster, which the job holds as an immutable shared snapshot.
//
// Records cross to the owner in blocks (up to a buffer's worth of text, in
// scan order), PADS numbers are taken one block at a time, and progress is
// stepped in blocks too, so a big scan does not wait on thread switches.
#pragma once

#include "formats/Formats.h"
#include "job/HandOffQueue.h"
#include "raster/Raster.h"
#include "trace/ColorMatch.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rastrace {

// What the owner of a job (the window, the command line, a test) provides.
class JobOwner {
public:
    virtual ~JobOwner() = default;
    // Any thread: make the owner thread call ConversionJob::DrainQueue soon.
    virtual void Wake() = 0;
    // Owner thread: the progress bar's range is 0..maximum, position 0.
    virtual void ProgressStart(int64_t maximum) = 0;
    // Owner thread: advance the progress position by steps. Runs inside a
    // worker's hand-off (as does NextPolyNumbers): it must not call Stop
    // or destroy the job.
    virtual void ProgressStep(int64_t steps) = 0;
    // Owner thread: NextPolyNumber for count items at once: advance the
    // item counter (FPolyCount) by count and return the first new number.
    virtual int32_t NextPolyNumbers(int32_t count) = 0;
    // Owner thread: the conversion has ended. On success the trailer is
    // written and the file closed: show the notice "转换完成！" / "提示".
    // On failure (error holds the first worker error, or the trailer's or
    // close's I/O error) the incomplete file has been dropped, and a file
    // the conversion was to replace is as it was: show error in the
    // standard error box. Either way the owner then sets FReady.
    // Called from DrainQueue after every worker has been joined and outside
    // any hand-off, so it may show a modal box, Start a new conversion, or
    // (when DrainQueue is driven by an event loop, not RunToCompletion)
    // destroy the job.
    virtual void ConversionFinished(const std::optional<std::string>& error) = 0;
};

// The values a conversion takes from the window when it starts.
struct ConversionRequest {
    OutputFormat format = OutputFormat::Pcb;
    std::string outputPath;                 // replaced whole once complete (OutputFile)
    std::vector<std::string> colorTexts;    // colour-list entries, integer text
    std::string xresText = "600";           // integer text
    std::string yresText = "600";           // integer text
    std::string widthText = "2";            // written unparsed
    int32_t layerNumber = 1;                // selected position + 1; 0 for none
    // Command line: write the records grouped by colour in list order (and
    // number PADS items in that order) instead of in order of arrival.
    bool groupByColor = false;
    // Tolerance, background colours and speckle removal. The defaults
    // (exact matching) scan the raster itself; anything else first builds
    // one class map that every colour's worker scans instead.
    MatchOptions match;
};

class ConversionJob {
public:
    ConversionJob(JobOwner& owner, std::shared_ptr<const Raster> raster);
    ~ConversionJob();  // Stop()
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // Parses the colours and both resolutions and checks request.match
    // (CheckMatchOptions), then creates the file,
    // writes the header, calls ProgressStart(height * colours) and starts
    // one worker per colour. Throws Error (a parse message or an I/O
    // error text) before any file is created or any worker started when
    // the request cannot start; nothing has changed then. An empty colour
    // list starts nothing and returns false. When a worker thread cannot
    // be made, throws Error("Thread creation error: <reason>") after
    // stopping the workers already started and dropping the file: the
    // conversion does not run at all. Not while Running() (throws
    // std::logic_error).
    bool Start(const ConversionRequest& request);

    // Owner thread: runs the queued hand-offs (records, progress, worker
    // ends; the last end finishes the conversion). Returns steps run.
    int DrainQueue();

    // Blocks the owner thread, draining, until the conversion has
    // finished (for the command line and tests).
    void RunToCompletion();

    // True from a successful Start until ConversionFinished has been called.
    bool Running() const;

    // Owner thread: the records written so far for each colour of the
    // last Start, in list order (final once ConversionFinished is called).
    const std::vector<int64_t>& TracksWritten() const;

    // Owner thread: the temporary file the running conversion writes before
    // it is renamed over the output at the end; empty when the output is
    // written directly (standard output, a device) or nothing runs.
    std::string TemporaryPath() const;

    // Stops the workers, joins them and drops the incomplete output (a file
    // it was to replace stays as it was); ConversionFinished is not called. Does nothing when not running.
    // Not from inside a hand-off (ProgressStep, NextPolyNumbers).
    void Stop();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rastrace
