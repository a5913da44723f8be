// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Error.h"
#include "support/Pixels.h"
#include "formats/Formats.h"
#include "job/ConversionJob.h"
#include "job/HandOffQueue.h"
#include "job/OutputFile.h"
#include "job/ScanThread.h"
#include "support/Files.h"
#include "support/TrackText.h"
#include "trace/Scanner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace rastrace;
namespace fs = std::filesystem;
using rastrace::test::ReadBytes;
using rastrace::test::Scan;
using rastrace::test::WriteBytes;

namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kWhite = 0xFFFFFF;

using test::SetPixel;

template <class ColorAt>
std::shared_ptr<const Raster> MakeRaster(int32_t width, int32_t height, ColorAt colorAt) {
    auto r = std::make_shared<Raster>(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) SetPixel(*r, x, y, colorAt(x, y));
    }
    return r;
}

// Every pixel one of red, green, blue or white at random: thousands of
// short runs per colour, so every worker hands over several blocks.
std::shared_ptr<const Raster> NoisyRaster(int32_t width, int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    const uint32_t palette[] = {kRed, kGreen, kBlue, kWhite};
    return MakeRaster(width, height, [&](int32_t, int32_t) { return palette[random() % 4]; });
}


// Records the owner calls, and that each ran on the owner thread.
class TestOwner : public JobOwner {
public:
    void Wake() override {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        wake_.notify_all();
    }
    void ProgressStart(int64_t maximum) override {
        CheckThread();
        ++progressStarts;
        progressMax = maximum;
        progress = 0;
    }
    void ProgressStep(int64_t steps) override {
        CheckThread();
        EXPECT_GT(steps, 0);
        progress += steps;
        ++progressSteps;
    }
    int32_t NextPolyNumbers(int32_t count) override {
        CheckThread();
        EXPECT_GT(count, 0);
        progressAtNumbers.emplace_back(polyCount + 1, progress);
        const int32_t first = polyCount + 1;
        polyCount += count;
        return first;
    }
    void ConversionFinished(const std::optional<std::string>& error) override {
        CheckThread();
        EXPECT_FALSE(job->Running()) << "still running when told it finished";
        finished.push_back(error);
    }

    // Blocks until Wake was called since the last wait.
    void WaitWoken() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return woken_; });
        woken_ = false;
    }

    void CheckThread() {
        if (std::this_thread::get_id() != ownerThread) offThreadCalls++;
    }

    ConversionJob* job = nullptr;
    std::thread::id ownerThread = std::this_thread::get_id();
    std::atomic<int> offThreadCalls{0};
    int progressStarts = 0;
    int64_t progressMax = -1;
    int64_t progress = 0;
    int progressSteps = 0;
    int32_t polyCount = 0;
    // (first number taken, progress position then) for every NextPolyNumbers.
    std::vector<std::pair<int32_t, int64_t>> progressAtNumbers;
    std::vector<std::optional<std::string>> finished;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
};

// A job with its owner, writing into a fresh folder.
class JobTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = rastrace::test::MakeTempFolder("rastrace_job_");
    }
    void TearDown() override {
        EXPECT_EQ(owner_.offThreadCalls.load(), 0) << "an owner callback ran off the owner thread";
        fs::remove_all(dir_);
    }

    ConversionJob& Job(std::shared_ptr<const Raster> raster) {
        job_ = std::make_unique<ConversionJob>(owner_, std::move(raster));
        owner_.job = job_.get();
        return *job_;
    }

    ConversionRequest Request(std::vector<uint32_t> colors, OutputFormat format = OutputFormat::Pcb) {
        ConversionRequest request;
        request.format = format;
        request.outputPath = (dir_ / "out.txt").string();
        for (uint32_t c : colors) request.colorTexts.push_back(std::to_string(c));
        request.xresText = "1000";  // coordinates equal pixels: every run has its own record text
        request.yresText = "1000";
        return request;
    }

    // Converts and drains to the end.
    std::string Convert(const std::shared_ptr<const Raster>& raster, const ConversionRequest& request) {
        ConversionJob& job = Job(raster);
        EXPECT_TRUE(job.Start(request));
        job.RunToCompletion();
        return ReadBytes(request.outputPath);
    }

    fs::path dir_;
    TestOwner owner_;
    std::unique_ptr<ConversionJob> job_;
};

// The record lines of one colour in scan order, as the single-colour scan
// gives them (ASC without the item number: the text after "JTPOLY00000000").
std::vector<std::string> ExpectedRecords(const Raster& raster, uint32_t color, const ConversionRequest& request) {
    std::vector<std::string> records;
    Scan(raster, static_cast<int32_t>(color), 1000, 1000, [](int32_t) {}, [&](const Track& t) {
        std::string line;
        AppendRecordLine(line, request.format, 0, t, request.widthText, std::to_string(request.layerNumber));
        records.push_back(request.format == OutputFormat::Pcb ? line : line.substr(14));
    });
    return records;
}

// Walks a whole file: header, then records that are each, whole, the next
// record of one of the colours in scan order, until all are used, then the
// trailer. Returns the ASC item numbers in file order.
std::vector<int64_t> WalkRecords(const std::string& bytes, OutputFormat format,
                                 const std::vector<std::vector<std::string>>& expected) {
    std::vector<int64_t> numbers;
    const std::string_view header = HeaderText(format);
    EXPECT_EQ(bytes.compare(0, header.size(), header), 0) << "header";
    size_t pos = header.size();
    std::vector<size_t> next(expected.size(), 0);
    for (;;) {
        if (format == OutputFormat::Asc && bytes.compare(pos, 6, "JTPOLY") == 0) {
            const size_t digitsEnd = bytes.find(' ', pos);
            EXPECT_GE(digitsEnd - pos, 14u) << "fewer than eight digits";
            numbers.push_back(std::stoll(bytes.substr(pos + 6, digitsEnd - pos - 6)));
            pos = digitsEnd;
        }
        size_t c = 0;
        while (c < expected.size() &&
               (next[c] == expected[c].size() || bytes.compare(pos, expected[c][next[c]].size(), expected[c][next[c]]) != 0)) {
            ++c;
        }
        if (c == expected.size()) break;
        pos += expected[c][next[c]++].size();
    }
    for (size_t c = 0; c < expected.size(); ++c) EXPECT_EQ(next[c], expected[c].size()) << "records of colour " << c;
    EXPECT_EQ(bytes.substr(pos), TrailerText(format)) << "not a record or the trailer at byte " << pos;
    return numbers;
}

void ExpectNumbersCover(std::vector<int64_t> numbers, int64_t first) {
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 0; i < numbers.size(); ++i) {
        ASSERT_EQ(numbers[i], first + static_cast<int64_t>(i)) << "numbers not distinct or with gaps";
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Hand-off queue

TEST(HandOffQueue, RunsStepsOnTheOwnerAndCarriesErrorsBack) {
    std::atomic<int> wakes{0};
    HandOffQueue queue([&] { ++wakes; });
    std::thread::id ranOn;
    std::string caught;
    std::thread worker([&] {
        queue.Run([&] { ranOn = std::this_thread::get_id(); });
        try {
            queue.Run([] { throw Error("Disk full"); });
        } catch (const Error& e) {
            caught = e.what();
        }
    });
    int ran = 0;
    while (ran < 2) {
        queue.WaitPending();
        ran += queue.Drain();
    }
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(caught, "Disk full");
    EXPECT_EQ(wakes.load(), 2);
    EXPECT_FALSE(queue.Pending());
}

TEST(HandOffQueue, CloseFailsWaitingAndLaterRuns) {
    HandOffQueue queue(nullptr);
    std::atomic<bool> stepRan{false};
    std::atomic<int> stopped{0};
    std::thread waiting([&] {
        try {
            queue.Run([&] { stepRan = true; });
        } catch (const JobStopped&) {
            ++stopped;
        }
    });
    queue.WaitPending();
    queue.Close();
    waiting.join();
    EXPECT_THROW(queue.Run([&] { stepRan = true; }), JobStopped);
    EXPECT_EQ(queue.Drain(), 0);
    EXPECT_FALSE(stepRan.load());
    EXPECT_EQ(stopped.load(), 1);
    queue.WaitPending();  // returns at once on a closed queue
}

// A posted step lets its worker go on; it still runs in order of arrival,
// and its error, or the queue's closing, reaches the worker at Wait.
TEST(HandOffQueue, PostedStepsRunInOrderAndReportAtWait) {
    HandOffQueue queue(nullptr);
    std::vector<int> order;
    HandOffQueue::Ticket ticket;
    queue.Post(ticket, [&] { order.push_back(1); });
    EXPECT_TRUE(ticket.Posted());
    std::thread worker([&] { queue.Run([&] { order.push_back(2); }); });
    while (order.size() < 2) {
        queue.WaitPending();
        queue.Drain();
    }
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_NO_THROW(queue.Wait(ticket));
    EXPECT_FALSE(ticket.Posted());
    EXPECT_NO_THROW(queue.Wait(ticket)) << "waiting for nothing returns at once";

    queue.Post(ticket, [] { throw Error("Disk full"); });
    queue.Drain();
    try {
        queue.Wait(ticket);
        FAIL() << "the step's error is lost";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }

    queue.Post(ticket, [&] { order.push_back(3); });
    queue.Close();
    EXPECT_THROW(queue.Wait(ticket), JobStopped);
    EXPECT_EQ(order.size(), 2u);
}

// A step that runs a nested event loop (a modal box) may drain again from
// inside itself: that drain runs nothing, and the step queued meanwhile
// runs after the outer step, so a nested drain can never run a worker's
// end (and join workers) while an outer step's worker waits on it.
TEST(HandOffQueue, DrainInsideAStepRunsNothing) {
    HandOffQueue queue(nullptr);
    std::atomic<bool> outerRunning{false};
    int nestedRan = -1;
    std::vector<std::string> order;  // touched by steps only, on this thread
    std::thread first([&] {
        queue.Run([&] {
            order.push_back("outer begins");
            outerRunning = true;
            while (!queue.Pending()) std::this_thread::yield();
            nestedRan = queue.Drain();
            order.push_back("outer ends");
        });
    });
    std::thread second([&] {
        while (!outerRunning) std::this_thread::yield();
        queue.Run([&] { order.push_back("inner"); });
    });
    int ran = 0;
    while (ran < 2) {
        queue.WaitPending();
        ran += queue.Drain();
    }
    first.join();
    second.join();
    EXPECT_EQ(nestedRan, 0);
    EXPECT_EQ(order, (std::vector<std::string>{"outer begins", "outer ends", "inner"}));
}

// ---------------------------------------------------------------------------
// Output file

struct CreateFailure {
    const char* name;
    const char* path;  // below the test folder; "" for the folder itself
    const char* message;
};

// One path component longer than any file system allows (255 bytes).
constexpr char kLongName[] =
    "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
    "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
    "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
    "nnnnnnnnnnnnnnnnnnnnn";

class UncreatableFiles : public JobTest, public ::testing::WithParamInterface<CreateFailure> {};

TEST_P(UncreatableFiles, StartNothingAndGiveTheIoErrorText) {
    WriteBytes(dir_ / "plain", "x");
    ConversionRequest request = Request({kRed});
    request.outputPath = (dir_ / GetParam().path).string();
    ConversionJob& job = Job(NoisyRaster(4, 4, 1));
    try {
        job.Start(request);
        FAIL() << "started with " << request.outputPath;
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), GetParam().message);
    }
    EXPECT_FALSE(job.Running());
    EXPECT_EQ(owner_.progressStarts, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UncreatableFiles,
    ::testing::Values(CreateFailure{"MissingFolder", "missing/out.PCB", "File not found"},
                      CreateFailure{"Folder", "", "File access denied"},
                      CreateFailure{"BelowAFile", "plain/out.PCB", "Invalid filename"},
                      CreateFailure{"NameTooLong", kLongName, "Invalid filename"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobTest, OutputFileReplacesTheOldFileOnlyWhenClosed) {
    const fs::path path = dir_ / "out.PCB";
    WriteBytes(path, std::string(5000, 'o'));
    ::chmod(path.c_str(), 0640);
    std::string expected;
    {
        OutputFile file = OutputFile::Create(path.string());
        // Small pieces, then one larger than the buffer, then small again.
        for (int i = 0; i < 1000; ++i) expected += "FT\r\n" + std::to_string(i) + "\r\n";
        file.Write(expected);
        const std::string big(OutputFile::kBufferSize + 17, 'b');
        file.Write(big);
        file.Write("tail");
        expected += big + "tail";
        EXPECT_EQ(ReadBytes(path), std::string(5000, 'o')) << "the old file changes only at the end";
        OutputFile moved = std::move(file);
        moved.Close();
    }
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // Abandoned, or gone out of scope without Close: the old file stays.
    for (bool abandon : {true, false}) {
        OutputFile file = OutputFile::Create(path.string());
        file.Write(std::string(OutputFile::kBufferSize * 2, 'p'));
        if (abandon) {
            file.Abandon();
            EXPECT_THROW(file.Write("x"), Error);
        }
    }
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "a temporary file is left";
}

TEST(OutputFile, StandardOutputIsNeitherClosedNorRemoved) {
    OutputFile out = OutputFile::Create("-");
    out.Abandon();
    EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);
    OutputFile again = OutputFile::Create("-");
    again.Close();
    EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);
}

// ---------------------------------------------------------------------------
// Conversion job

class EachFormat : public JobTest, public ::testing::WithParamInterface<OutputFormat> {};

TEST_P(EachFormat, ColourWithoutPixelsGivesHeaderAndTrailerOnly) {
    const auto raster = MakeRaster(7, 5, [](int32_t, int32_t) { return kWhite; });
    const ConversionRequest request = Request({kRed}, GetParam());
    const std::string bytes = Convert(raster, request);
    EXPECT_EQ(bytes, std::string(HeaderText(GetParam())) + std::string(TrailerText(GetParam())));
    ASSERT_EQ(owner_.finished.size(), 1u);
    EXPECT_EQ(owner_.finished[0], std::nullopt);
    EXPECT_EQ(owner_.progressStarts, 1);
    EXPECT_EQ(owner_.progressMax, 5);
    EXPECT_EQ(owner_.progress, 5);
    EXPECT_EQ(owner_.polyCount, 0);
    EXPECT_FALSE(job_->Running());
}

TEST_P(EachFormat, ThreeColoursGiveEveryRecordWholeOnceInScanOrder) {
    const auto raster = NoisyRaster(300, 100, 7);
    const ConversionRequest request = Request({kRed, kGreen, kBlue}, GetParam());
    owner_.polyCount = 41;
    const std::string bytes = Convert(raster, request);

    ASSERT_EQ(owner_.finished.size(), 1u);
    EXPECT_EQ(owner_.finished[0], std::nullopt);
    EXPECT_EQ(owner_.progressMax, 3 * 100);
    EXPECT_EQ(owner_.progress, 3 * 100);
    EXPECT_LE(owner_.progressSteps, 3 * 120) << "progress must not be handed over row by row";

    std::vector<std::vector<std::string>> expected;
    for (uint32_t c : {kRed, kGreen, kBlue}) expected.push_back(ExpectedRecords(*raster, c, request));
    ASSERT_GT(expected[0].size(), TScanThread::kBlockRuns) << "raster too small to need several blocks";
    const std::vector<int64_t> numbers = WalkRecords(bytes, GetParam(), expected);

    if (GetParam() == OutputFormat::Asc) {
        const size_t total = expected[0].size() + expected[1].size() + expected[2].size();
        ASSERT_EQ(numbers.size(), total);
        ExpectNumbersCover(numbers, 42);
        EXPECT_EQ(owner_.polyCount, 41 + static_cast<int32_t>(total));
        // A second conversion continues from the owner's counter.
        const std::string again = Convert(raster, Request({kGreen}, GetParam()));
        ExpectNumbersCover(WalkRecords(again, GetParam(), {expected[1]}), 42 + static_cast<int64_t>(total));
    }
}

TEST_P(EachFormat, GroupedOutputIsTheColoursInListOrderAndRepeatable) {
    const auto raster = NoisyRaster(300, 60, 11);
    ConversionRequest request = Request({kBlue, kRed, kGreen}, GetParam());
    request.groupByColor = true;
    owner_.polyCount = 7;

    // The whole file, built from the single-colour scans.
    std::string expected(HeaderText(GetParam()));
    int32_t number = 8;
    for (uint32_t c : {kBlue, kRed, kGreen}) {
        Scan(
            *raster, static_cast<int32_t>(c), 1000, 1000, [](int32_t) {},
            [&](const Track& t) { AppendRecordLine(expected, GetParam(), number++, t, "2", "1"); });
    }
    expected += TrailerText(GetParam());

    const std::string first = Convert(raster, request);
    EXPECT_TRUE(first == expected) << "not the colours' records in list order";
    if (GetParam() == OutputFormat::Asc) owner_.polyCount = 7;
    const std::string second = Convert(raster, request);
    EXPECT_TRUE(first == second) << "grouped output differs between runs";
    EXPECT_EQ(owner_.finished, (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
}

INSTANTIATE_TEST_SUITE_P(Formats, EachFormat, ::testing::Values(OutputFormat::Pcb, OutputFormat::Asc),
                         [](const auto& info) { return info.param == OutputFormat::Pcb ? "Pcb" : "Asc"; });

TEST_F(JobTest, TwoColoursFillTheProgressBarExactly) {
    // 301 rows: progress goes over every 3 rows, and one row is left at the
    // end; the second colour is absent, so no record carries its rows.
    const auto raster = NoisyRaster(50, 301, 3);
    Convert(raster, Request({kRed, 0x123456}));
    EXPECT_EQ(owner_.progressMax, 2 * 301);
    EXPECT_EQ(owner_.progress, 2 * 301);
}

TEST_F(JobTest, GroupedProgressFollowsTheWrittenRecordsAndCountsTracks) {
    // Red in every row: the second worker keeps its runs until the first
    // has ended, and its rows count only as its records are written, so
    // the bar does not reach its end while those records are still to come.
    const int32_t height = 400;
    const auto raster = MakeRaster(64, height, [](int32_t x, int32_t y) {
        return x % 2 == 0 ? kRed : y % 4 == 0 ? kBlue : kWhite;
    });
    ConversionRequest request = Request({kBlue, kRed}, OutputFormat::Asc);
    request.groupByColor = true;
    Convert(raster, request);
    ASSERT_EQ(owner_.finished, (std::vector<std::optional<std::string>>{std::nullopt}));
    EXPECT_EQ(job_->TracksWritten(), (std::vector<int64_t>{height / 4 * 32, height * 32}));
    const int32_t firstRed = height / 4 * 32 + 1;
    const auto redStart = std::find_if(owner_.progressAtNumbers.begin(), owner_.progressAtNumbers.end(),
                                       [&](const auto& p) { return p.first == firstRed; });
    ASSERT_NE(redStart, owner_.progressAtNumbers.end());
    EXPECT_EQ(redStart->second, height) << "only the blue rows are done when red starts writing";
    EXPECT_EQ(owner_.progress, 2 * height);
}

TEST_F(JobTest, EmptyColourListStartsNothing) {
    ConversionJob& job = Job(NoisyRaster(4, 4, 1));
    EXPECT_FALSE(job.Start(Request({})));
    EXPECT_FALSE(job.Running());
    EXPECT_FALSE(fs::exists(dir_ / "out.txt"));
    EXPECT_EQ(owner_.progressStarts, 0);
}

TEST_F(JobTest, ResolutionZeroFailsEveryWorkerAndLeavesNoFile) {
    ConversionRequest request = Request({kRed, kGreen});
    request.xresText = "0";
    const std::string bytes = Convert(NoisyRaster(20, 20, 5), request);
    ASSERT_EQ(owner_.finished.size(), 1u);
    EXPECT_EQ(owner_.finished[0], "Floating point division by zero");
    EXPECT_FALSE(fs::exists(request.outputPath));
    EXPECT_EQ(owner_.progress, 0) << "no row is stepped before the scale is known";
}

struct FailedWrite {
    const char* name;
    const char* path;
    uint32_t pictureWidth;  // wide pictures overflow the buffer while scanning
    const char* error;      // nullptr: success
};

class WriteFailures : public JobTest, public ::testing::WithParamInterface<FailedWrite> {};

TEST_P(WriteFailures, AreReportedAndNeverRemoveADevice) {
    const FailedWrite& c = GetParam();
    // Every other pixel red: the ASC text of a 1024-wide picture exceeds the buffer.
    const auto raster = MakeRaster(static_cast<int32_t>(c.pictureWidth), 64,
                                   [](int32_t x, int32_t) { return x % 2 == 0 ? kRed : kWhite; });
    ConversionRequest request = Request({kRed, kWhite}, OutputFormat::Asc);
    request.outputPath = c.path;
    ConversionJob& job = Job(raster);
    ASSERT_TRUE(job.Start(request));
    job.RunToCompletion();
    ASSERT_EQ(owner_.finished.size(), 1u);
    if (c.error) {
        EXPECT_EQ(owner_.finished[0], c.error);
    } else {
        EXPECT_EQ(owner_.finished[0], std::nullopt);
    }
    EXPECT_TRUE(fs::is_character_file(c.path));
}

INSTANTIATE_TEST_SUITE_P(Devices, WriteFailures,
                         ::testing::Values(FailedWrite{"FullAtClose", "/dev/full", 8, "Disk full"},
                                           FailedWrite{"FullWhileScanning", "/dev/full", 1024, "Disk full"},
                                           FailedWrite{"Null", "/dev/null", 1024, nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadText {
    const char* name;
    const char* xres;
    const char* yres;
    const char* color;
    const char* message;
};

class BadTexts : public JobTest, public ::testing::WithParamInterface<BadText> {};

TEST_P(BadTexts, ThrowBeforeTheFileIsTouched) {
    const BadText& c = GetParam();
    ConversionRequest request = Request({});
    request.colorTexts = {"255", c.color};
    request.xresText = c.xres;
    request.yresText = c.yres;
    WriteBytes(request.outputPath, "earlier output");
    const std::string fresh = (dir_ / "fresh.PCB").string();
    ConversionJob& job = Job(NoisyRaster(4, 4, 1));
    for (const std::string& path : {request.outputPath, fresh}) {
        request.outputPath = path;
        try {
            job.Start(request);
            ADD_FAILURE() << "started";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(ReadBytes(dir_ / "out.txt"), "earlier output");
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_FALSE(job.Running());
    EXPECT_EQ(owner_.progressStarts, 0);
}

INSTANTIATE_TEST_SUITE_P(Texts, BadTexts,
                         ::testing::Values(BadText{"EmptyX", "", "600", "0", "'' is not a valid integer value"},
                                           BadText{"LettersY", "600", "abc", "0", "'abc' is not a valid integer value"},
                                           BadText{"Colour", "600", "600", "12 ", "'12 ' is not a valid integer value"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A new file is never made; a file that was there stays as it was.
TEST_F(JobTest, StopMidwayLeavesWhatWasThereAndReportsNothing) {
    const auto raster = NoisyRaster(1000, 400, 13);
    for (bool grouped : {false, true}) {
        ConversionRequest request = Request({kRed, kGreen, kBlue});
        request.groupByColor = grouped;
        if (grouped) WriteBytes(request.outputPath, "earlier output");
        ConversionJob& job = Job(raster);
        ASSERT_TRUE(job.Start(request));
        while (owner_.progress < owner_.progressMax / 3) {
            owner_.WaitWoken();
            job.DrainQueue();
        }
        EXPECT_TRUE(job.Running());
        job.Stop();
        EXPECT_FALSE(job.Running());
        if (grouped) {
            EXPECT_EQ(ReadBytes(request.outputPath), "earlier output");
        } else {
            EXPECT_FALSE(fs::exists(request.outputPath));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), grouped ? 1 : 0)
            << "a temporary file is left";
        EXPECT_LT(owner_.progress, owner_.progressMax);
        job.Stop();  // stopping an idle job does nothing
    }
    EXPECT_TRUE(owner_.finished.empty());
}

TEST_F(JobTest, StopReleasesWorkersWaitingForTheOwnerOrTheirTurn) {
    // No rows: worker 0 waits in its end hand-off, which nobody drains;
    // the later grouped workers wait for their turn.
    ConversionRequest request = Request({kRed, kGreen, kBlue});
    request.groupByColor = true;
    {
        ConversionJob& job = Job(std::make_shared<const Raster>());
        ASSERT_TRUE(job.Start(request));
        owner_.WaitWoken();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        job_.reset();  // the destructor stops
    }
    EXPECT_FALSE(fs::exists(request.outputPath));
    EXPECT_TRUE(owner_.finished.empty());
}

// The window's way: the owner thread sleeps until Wake, then drains.
TEST_F(JobTest, OwnerThreadDrainsWhenWoken) {
    const auto raster = NoisyRaster(200, 50, 17);
    const ConversionRequest request = Request({kRed, kGreen}, OutputFormat::Asc);
    std::thread ownerThread([&] {
        owner_.ownerThread = std::this_thread::get_id();
        ConversionJob job(owner_, raster);
        owner_.job = &job;
        job.Start(request);
        while (owner_.finished.empty()) {
            owner_.WaitWoken();
            job.DrainQueue();
        }
        owner_.job = nullptr;
    });
    ownerThread.join();
    ASSERT_EQ(owner_.finished.size(), 1u);
    EXPECT_EQ(owner_.finished[0], std::nullopt);
    ExpectNumbersCover(WalkRecords(ReadBytes(request.outputPath), OutputFormat::Asc,
                                   {ExpectedRecords(*raster, kRed, request), ExpectedRecords(*raster, kGreen, request)}),
                       1);
}

// The first failed write stops the workers that have nothing to write yet
// at their next row: they do not scan the rest of the picture for a file
// that will be thrown away.
TEST_F(JobTest, AWriteErrorStopsEveryOtherWorker) {
    const auto raster = NoisyRaster(1000, 2000, 19);
    for (bool grouped : {false, true}) {
        ConversionRequest request = Request({kRed, 0x123456, 0x654321});
        request.outputPath = "/dev/full";
        request.groupByColor = grouped;
        ConversionJob& job = Job(raster);
        ASSERT_TRUE(job.Start(request));
        // Every worker hands over its first rows and waits for the owner,
        // red with its first block posted: the race is over before it starts.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        job.RunToCompletion();
        ASSERT_EQ(owner_.finished.size(), 1u);
        EXPECT_EQ(owner_.finished[0], "Disk full");
        owner_.finished.clear();
        // Red's first block goes out after twenty rows; the other two colours
        // have no pixels and would otherwise scan all 2000 rows.
        EXPECT_LT(owner_.progress, owner_.progressMax / 10) << "grouped " << grouped;
    }
}

// A file-size limit makes the writes fail half-way, as a full disk does:
// the conversion fails with "Disk full" and the old file is untouched.
TEST_F(JobTest, AFullDiskLeavesTheOldFile) {
    const ConversionRequest request = Request({kRed, kGreen});
    WriteBytes(request.outputPath, "earlier output");
    ConversionJob& job = Job(NoisyRaster(1000, 200, 23));
    {
        const rastrace::test::FileSizeLimit limit(100000);
        ASSERT_TRUE(limit.Set());
        ASSERT_TRUE(job.Start(request));
        job.RunToCompletion();
    }
    ASSERT_EQ(owner_.finished.size(), 1u);
    EXPECT_EQ(owner_.finished[0], "Disk full");
    EXPECT_EQ(ReadBytes(request.outputPath), "earlier output");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "a temporary file is left";
}
