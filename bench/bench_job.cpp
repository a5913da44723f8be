// SPDX-License-Identifier: GPL-3.0-or-later
// Times a whole conversion (workers, hand-off queue, owner thread writing a
// real file) against the bare work it wraps: the same scans formatting the
// same records into memory, one thread per colour, no queue, no file.
//
//   bench_job [width height [repeats]]     default 10200 14040 5
//
// The picture is synthetic: every row is filled with runs of four colours
// in random order and of random lengths (8 to 200 pixels), so two colours
// give well over 500,000 runs. Prints the median of each timing and the
// ratio job / in-memory; the job should stay within 1.3 times.
#include "formats/Formats.h"
#include "job/ConversionJob.h"
#include "job/SimpleOwner.h"
#include "trace/Scanner.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace rastrace;

namespace {

constexpr uint32_t kPalette[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF};

std::shared_ptr<const Raster> MakePicture(int32_t width, int32_t height) {
    auto raster = std::make_shared<Raster>(width, height);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int32_t> length(8, 200);
    std::uniform_int_distribution<int> other(1, 3);
    int colour = 0;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* p = raster->RowBytes(y).data();
        for (int32_t x = 0; x < width;) {
            colour = (colour + other(random)) % 4;  // never the same colour twice in a row
            const uint32_t c = kPalette[colour];
            const int32_t end = std::min(width, x + length(random));
            for (; x < end; ++x, p += 3) {
                p[0] = static_cast<uint8_t>(c >> 16);
                p[1] = static_cast<uint8_t>(c >> 8);
                p[2] = static_cast<uint8_t>(c);
            }
        }
    }
    return raster;
}


double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct JobResult {
    double seconds;
    long long bytes;
};

JobResult TimeJob(const std::shared_ptr<const Raster>& raster, OutputFormat format, int colours,
                  const std::string& path) {
    SimpleOwner owner;  // drives the job on this thread, as the command line does
    ConversionRequest request;
    request.format = format;
    request.outputPath = path;
    for (int i = 0; i < colours; ++i) request.colorTexts.push_back(std::to_string(kPalette[i]));
    // Each repeat writes a new file: cutting the previous one's pages is
    // the file system's work, not the job's.
    ::unlink(path.c_str());
    const auto start = std::chrono::steady_clock::now();
    {
        ConversionJob job(owner, raster);
        job.Start(request);
        job.RunToCompletion();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (owner.Failure()) {
        std::fprintf(stderr, "conversion failed: %s\n", owner.Failure()->c_str());
        std::exit(1);
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const long long bytes = std::ftell(f);
    std::fclose(f);
    return {Seconds(elapsed), bytes};
}

struct MemoryResult {
    double seconds;
    long long bytes;
    long long runs;
};

// texts keep their capacity from one repeat to the next, so after the
// first the in-memory side pays for neither growth nor fresh pages.
MemoryResult TimeInMemory(const std::shared_ptr<const Raster>& raster, OutputFormat format, int colours,
                          std::vector<std::string>& texts) {
    texts.resize(static_cast<size_t>(colours));
    for (std::string& text : texts) text.clear();
    std::vector<long long> runs(static_cast<size_t>(colours), 0);
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < colours; ++i) {
            threads.emplace_back([&, i] {
                const TrackMapping mapping(600, 600, raster->Height());
                std::string& text = texts[static_cast<size_t>(i)];
                int32_t number = 1;
                ScanRuns(
                    *raster, kPalette[i], [](int32_t) {},
                    [&](const Run& run) {
                        AppendRecordLine(text, format, number++, mapping.Map(run), "2", "1");
                    });
                runs[static_cast<size_t>(i)] = number - 1;
            });
        }
        for (auto& t : threads) t.join();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    MemoryResult result{Seconds(elapsed), 0, 0};
    for (int i = 0; i < colours; ++i) {
        result.bytes += static_cast<long long>(texts[static_cast<size_t>(i)].size());
        result.runs += runs[static_cast<size_t>(i)];
    }
    return result;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t width = argc > 2 ? std::atoi(argv[1]) : 10200;
    const int32_t height = argc > 2 ? std::atoi(argv[2]) : 14040;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string path = "/tmp/rastrace_bench_job_" + std::to_string(::getpid()) + ".out";

    const auto t0 = std::chrono::steady_clock::now();
    const auto raster = MakePicture(width, height);
    std::printf("picture %d x %d (%.1f megapixels), made in %.2f s; %d repeats, medians\n", width, height,
                width * static_cast<double>(height) / 1e6, Seconds(std::chrono::steady_clock::now() - t0), repeats);
    std::printf("%-6s %7s %10s %10s %12s %12s %7s\n", "format", "colours", "runs", "MB", "in-memory s", "job s",
                "ratio");

    bool withinTarget = true;
    for (OutputFormat format : {OutputFormat::Pcb, OutputFormat::Asc}) {
        for (int colours : {2, 4}) {
            std::vector<double> memoryTimes, jobTimes;
            std::vector<std::string> texts;
            MemoryResult memory{};
            JobResult job{};
            for (int r = 0; r < repeats; ++r) {
                memory = TimeInMemory(raster, format, colours, texts);
                memoryTimes.push_back(memory.seconds);
                job = TimeJob(raster, format, colours, path);
                jobTimes.push_back(job.seconds);
            }
            const long long headerAndTrailer =
                static_cast<long long>(HeaderText(format).size() + TrailerText(format).size());
            if (job.bytes != memory.bytes + headerAndTrailer) {
                std::fprintf(stderr, "file holds %lld bytes, in-memory text %lld\n", job.bytes, memory.bytes);
                return 1;
            }
            const double ratio = Median(jobTimes) / Median(memoryTimes);
            withinTarget = withinTarget && ratio <= 1.3;
            std::printf("%-6s %7d %10lld %10.1f %12.3f %12.3f %7.2f\n", format == OutputFormat::Pcb ? "PCB" : "ASC",
                        colours, memory.runs, static_cast<double>(job.bytes) / 1e6, Median(memoryTimes),
                        Median(jobTimes), ratio);
        }
    }
    ::unlink(path.c_str());
    std::printf("job within 1.3 x in-memory: %s\n", withinTarget ? "yes" : "no");
    return 0;
}
