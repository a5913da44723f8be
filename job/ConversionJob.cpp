// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/ConversionJob.h"

#include "common/Error.h"
#include "common/IntText.h"
#include "common/MessageText.h"
#include "job/OutputFile.h"
#include "job/ScanThread.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace rastrace {

// Owner-thread state is touched only on the owner thread: in Start, Stop,
// DrainQueue and the steps the workers hand over. What workers read
// directly is the stop flag and, under turnMutex_, the writing turn.
class ConversionJob::Impl final : public ScanJobLink {
public:
    Impl(JobOwner& owner, std::shared_ptr<const Raster> raster)
        : owner_(owner),
          raster_(raster ? std::move(raster) : std::make_shared<const Raster>()),
          queue_([this] { owner_.Wake(); }) {}

    bool Start(const ConversionRequest& request);
    int Drain();
    void RunToCompletion();
    void Stop();
    bool Running() const { return running_; }

    // ScanJobLink, worker side.
    void HandOff(const std::function<void()>& step) override { queue_.Run(step); }
    void Post(HandOffQueue::Ticket& ticket, std::function<void()> step) override {
        queue_.Post(ticket, std::move(step));
    }
    void Wait(HandOffQueue::Ticket& ticket) override { queue_.Wait(ticket); }
    bool StopRequested() const override { return stopping_.load(std::memory_order_relaxed); }
    void WaitForTurn(int index) override;

    // ScanJobLink, owner side.
    bool MayWrite(int index) override;
    int32_t NextPolyNumbers(int32_t count) override { return owner_.NextPolyNumbers(count); }
    void WriteRecord(std::string_view text) override {
        try {
            file_.Write(text);
        } catch (const std::exception& e) {
            Fail(e.what());
            throw;
        }
    }
    void StepProgress(int64_t rows) override {
        if (rows > 0) owner_.ProgressStep(rows);
    }
    void CountTracks(int index, int64_t tracks) override { tracks_[static_cast<size_t>(index)] += tracks; }
    const std::vector<int64_t>& TracksWritten() const { return tracks_; }
    std::string TemporaryPath() const { return running_ ? file_.TemporaryPath() : std::string(); }
    void ConvertDone(int index, const std::optional<std::string>& error) override;

private:
    // A worker could not be made: the conversion does not start at all.
    void AbandonStart();
    // The conversion has failed: keeps the first error and stops every
    // other worker at its next row, as their work would only be thrown away.
    void Fail(const std::string& error);
    void Finish();
    void JoinWorkers();
    void SetStopping();

    JobOwner& owner_;
    const std::shared_ptr<const Raster> raster_;
    HandOffQueue queue_;
    std::atomic<bool> stopping_{false};

    // The writing turn of grouped output: workers 0..turn_ may write.
    std::mutex turnMutex_;
    std::condition_variable turnChanged_;
    int turn_ = 0;

    // Owner thread only. The conversion's own copies of what it started with.
    bool running_ = false;
    OutputFormat format_ = OutputFormat::Pcb;
    bool groupByColor_ = false;
    int workersStarted_ = 0;
    int finishedWorkers_ = 0;
    std::vector<bool> ended_;
    std::vector<int64_t> tracks_;
    std::optional<std::string> firstError_;
    OutputFile file_;
    std::vector<std::unique_ptr<TScanThread>> workers_;
    // Set by the last ConvertDone; DrainQueue then joins the workers and
    // tells the owner, outside any step, so the owner may show a dialog or
    // stop, destroy or restart the job from ConversionFinished.
    bool finishPending_ = false;
    std::optional<std::string> finishError_;
};

bool ConversionJob::Impl::Start(const ConversionRequest& request) {
    if (running_) throw std::logic_error("ConversionJob::Start: a conversion is running");
    if (request.colorTexts.empty()) return false;

    // Every text is parsed before the file is touched: a bad value leaves
    // an existing file as it was and starts nothing.
    std::vector<int32_t> colors;
    colors.reserve(request.colorTexts.size());
    for (const std::string& text : request.colorTexts) colors.push_back(StrToInt(text));
    const int32_t xres = StrToInt(request.xresText);
    const int32_t yres = StrToInt(request.yresText);
    CheckMatchOptions(request.match, colors.size());
    std::shared_ptr<SharedClassMap> classes;
    std::shared_ptr<const ColorMatcher> matcher;
    if (request.match.NeedsClassMap()) {
        const std::vector<uint32_t> copper(colors.begin(), colors.end());
        if (MatchesRowByRow(request.match, copper.size())) {
            matcher = std::make_shared<const ColorMatcher>(copper, request.match);
        } else {
            classes = std::make_shared<SharedClassMap>(raster_, copper, request.match);
        }
    }

    OutputFile file = OutputFile::Create(request.outputPath);
    file.Write(HeaderText(request.format));
    const auto workerCount = static_cast<int>(colors.size());
    owner_.ProgressStart(static_cast<int64_t>(raster_->Height()) * workerCount);

    file_ = std::move(file);
    format_ = request.format;
    groupByColor_ = request.groupByColor;
    workersStarted_ = 0;
    finishedWorkers_ = 0;
    ended_.assign(colors.size(), false);
    tracks_.assign(colors.size(), 0);
    firstError_.reset();
    finishPending_ = false;
    finishError_.reset();
    {
        std::lock_guard lock(turnMutex_);
        turn_ = 0;
    }
    stopping_ = false;
    queue_.Reopen();
    running_ = true;

    const std::string layerText = IntToStr(request.layerNumber);
    for (int i = 0; i < workerCount; ++i) {
        ScanThreadParams params;
        params.index = i;
        params.bitmap = raster_;
        params.color = colors[static_cast<size_t>(i)];
        params.xres = xres;
        params.yres = yres;
        params.format = format_;
        params.widthText = request.widthText;
        params.layerText = layerText;
        params.groupByColor = groupByColor_;
        params.classes = classes;
        params.matcher = matcher;
        std::unique_ptr<TScanThread> worker;
        try {
            worker = std::make_unique<TScanThread>(*this, std::move(params));
            worker->Launch();
        } catch (const std::system_error& e) {
            const std::string message = "Thread creation error: " + TrimSystemText(e.code().message());
            AbandonStart();
            throw Error(message);
        } catch (const std::bad_alloc&) {
            AbandonStart();
            throw;
        }
        workers_.push_back(std::move(worker));
        ++workersStarted_;  // no worker's end is handled before Start returns
    }
    return true;
}

void ConversionJob::Impl::AbandonStart() {
    // A file without some of its colours would be a failure at the end
    // anyway: stop the workers already started and leave no file, so the
    // user hears of it once, now.
    Stop();
}

int ConversionJob::Impl::Drain() {
    const int ran = queue_.Drain();
    if (!finishPending_) return ran;
    finishPending_ = false;
    const std::optional<std::string> error = std::move(finishError_);
    finishError_.reset();
    // Every worker has had its ConvertDone run and is leaving its thread.
    JoinWorkers();
    owner_.ConversionFinished(error);  // last: the owner may destroy the job here
    return ran;
}

void ConversionJob::Impl::RunToCompletion() {
    while (running_ || finishPending_) {
        if (!finishPending_) queue_.WaitPending();
        Drain();
    }
}

void ConversionJob::Impl::Stop() {
    SetStopping();
    queue_.Close();
    JoinWorkers();
    file_.Abandon();
    file_ = OutputFile();
    running_ = false;
    finishPending_ = false;
    finishError_.reset();
}

void ConversionJob::Impl::WaitForTurn(int index) {
    std::unique_lock lock(turnMutex_);
    turnChanged_.wait(lock, [&] { return turn_ >= index || stopping_.load(); });
    if (turn_ < index) throw JobStopped();
}

bool ConversionJob::Impl::MayWrite(int index) {
    if (!groupByColor_) return true;
    std::lock_guard lock(turnMutex_);
    return turn_ >= index;
}

void ConversionJob::Impl::ConvertDone(int index, const std::optional<std::string>& error) {
    ++finishedWorkers_;
    if (error) Fail(*error);
    ended_[static_cast<size_t>(index)] = true;
    {
        std::lock_guard lock(turnMutex_);
        while (turn_ < workersStarted_ && ended_[static_cast<size_t>(turn_)]) ++turn_;
    }
    turnChanged_.notify_all();
    if (finishedWorkers_ == workersStarted_) Finish();
}

void ConversionJob::Impl::Fail(const std::string& error) {
    if (!firstError_) firstError_ = error;
    SetStopping();
}

void ConversionJob::Impl::Finish() {
    std::optional<std::string> error = firstError_;
    if (!error) {
        try {
            file_.Write(TrailerText(format_));
            file_.Close();
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    // A failed conversion leaves no partial file behind, and the file that
    // was there as it was.
    if (error) file_.Abandon();
    file_ = OutputFile();
    running_ = false;
    finishError_ = std::move(error);
    finishPending_ = true;
}

void ConversionJob::Impl::JoinWorkers() {
    for (auto& worker : workers_) worker->Join();
    workers_.clear();
}

void ConversionJob::Impl::SetStopping() {
    stopping_ = true;
    // Taking the lock orders the flag before any worker's next check of
    // the turn, so no waiter misses the wake-up.
    { std::lock_guard lock(turnMutex_); }
    turnChanged_.notify_all();
}

ConversionJob::ConversionJob(JobOwner& owner, std::shared_ptr<const Raster> raster)
    : impl_(std::make_unique<Impl>(owner, std::move(raster))) {}

ConversionJob::~ConversionJob() { impl_->Stop(); }

bool ConversionJob::Start(const ConversionRequest& request) { return impl_->Start(request); }

int ConversionJob::DrainQueue() { return impl_->Drain(); }

void ConversionJob::RunToCompletion() { impl_->RunToCompletion(); }

bool ConversionJob::Running() const { return impl_->Running(); }

const std::vector<int64_t>& ConversionJob::TracksWritten() const { return impl_->TracksWritten(); }

std::string ConversionJob::TemporaryPath() const { return impl_->TemporaryPath(); }

void ConversionJob::Stop() { impl_->Stop(); }

}  // namespace rastrace
