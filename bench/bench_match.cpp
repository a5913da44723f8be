// SPDX-License-Identifier: GPL-3.0-or-later
// Times tolerant matching against the exact conversion it extends, on the
// A4 1200-dpi board scanned by the generator's scanner model.
//
//   bench_match [DIR [repeats]]       default /tmp/rastrace-bench-match 3
//
// Keeps the clean and the scanned picture as BMP files in DIR (made on the
// first run, about a minute). Each case is a whole ConversionJob writing a
// PCB file, timed from Start to the end (reading the file not included;
// the median time to read the BMP is printed apart, since the command
// line pays it for every case alike):
//   exact, clean   one colour, exact, on the clean board (what the
//                  README's table measures)
//   exact, scan    one colour, exact, on the scan
//   T 64           one copper and one background colour, tolerance 64, on the scan
//   T 64, N 16     the same with speckle removal 16
// Targets: T 64 within 1.5 times the exact conversion; N 16 adds at most
// half of that again.
#include "bench/BmpWriter.h"
#include "bench/BoardGenerator.h"
#include "job/ConversionJob.h"
#include "job/SimpleOwner.h"
#include "raster/BmpReader.h"
#include "trace/ColorMatch.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace rastrace;
using namespace rastrace::bench;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// CPU seconds of the whole process (every thread) so far: on a busy
// machine the wall time also counts waiting for a core.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Timing {
    double seconds;
    double cpu;
    long long bytes;
};

Timing TimeJob(const std::shared_ptr<const Raster>& raster, const MatchOptions& match, const std::string& path) {
    SimpleOwner owner;
    ConversionRequest request;
    request.outputPath = path;
    request.colorTexts = {std::to_string(kCopperColor)};
    request.xresText = request.yresText = "1200";
    request.match = match;
    ::unlink(path.c_str());
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    {
        ConversionJob job(owner, raster);
        job.Start(request);
        job.RunToCompletion();
    }
    const double seconds = Since(start);
    const double cpu = CpuSeconds() - cpuStart;
    if (owner.Failure()) {
        std::fprintf(stderr, "conversion failed: %s\n", owner.Failure()->c_str());
        std::exit(1);
    }
    return {seconds, cpu, static_cast<long long>(std::filesystem::file_size(path))};
}

std::string Ensure(const std::string& path, bool scan) {
    if (std::filesystem::exists(path)) return path;
    std::printf("making %s ...\n", path.c_str());
    std::fflush(stdout);
    const BoardOptions options{10200, 14040, 1, false, 1200};
    Raster board = GenerateBoard(options);
    if (scan) ApplyScanner(board, {}, options.seed, 1200);
    WriteBitmapFile(board, path + ".tmp", 47244);
    std::filesystem::rename(path + ".tmp", path);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp/rastrace-bench-match";
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::filesystem::create_directories(dir);
    const std::string out = dir + "/out-" + std::to_string(::getpid()) + ".pcb";

    struct Case {
        const char* name;
        bool scan;
        MatchOptions match;
    };
    MatchOptions t64;
    t64.tolerance = 64;
    t64.backgroundColors = {kSubstrateColor};
    MatchOptions t64n16 = t64;
    t64n16.despeckle = 16;
    const std::vector<Case> cases = {
        {"exact, clean", false, {}}, {"exact, scan", true, {}}, {"T 64", true, t64}, {"T 64, N 16", true, t64n16}};

    std::vector<double> medians, cpuMedians;
    double readClean = 0, readScan = 0;
    for (const bool scan : {false, true}) {
        const std::string path = Ensure(dir + (scan ? "/a4-scan.bmp" : "/a4-clean.bmp"), scan);
        std::vector<double> reads;
        std::shared_ptr<const Raster> raster;
        for (int r = 0; r < repeats; ++r) {
            raster.reset();
            const auto start = Clock::now();
            raster = std::make_shared<const Raster>(ReadBitmapFile(path));
            reads.push_back(Since(start));
        }
        (scan ? readScan : readClean) = Median(reads);
        for (const Case& c : cases) {
            if (c.scan != scan) continue;
            std::vector<double> times, cpus;
            Timing t{};
            for (int r = 0; r < repeats; ++r) {
                t = TimeJob(raster, c.match, out);
                times.push_back(t.seconds);
                cpus.push_back(t.cpu);
            }
            medians.push_back(Median(times));
            cpuMedians.push_back(Median(cpus));
            std::printf("%-12s %8.1f ms wall, %8.1f ms CPU (medians of %d), %lld bytes written\n", c.name,
                        medians.back() * 1000, cpuMedians.back() * 1000, repeats, t.bytes);
            std::fflush(stdout);
        }
        if (scan) {
            // The class map alone: matching on two threads, then speckle removal.
            std::vector<double> build, despeckle;
            const std::vector<uint32_t> copper = {kCopperColor};
            for (int r = 0; r < repeats; ++r) {
                auto start = Clock::now();
                ClassMap map = BuildClassMap(*raster, copper, t64, 2);
                build.push_back(Since(start));
                start = Clock::now();
                Despeckle(map, 16);
                despeckle.push_back(Since(start));
            }
            std::printf("class map alone: match %.1f ms (2 threads), speckle removal N 16 %.1f ms\n",
                        Median(build) * 1000, Median(despeckle) * 1000);
        }
    }
    ::unlink(out.c_str());
    std::printf("reading the BMP: clean %.1f ms, scan %.1f ms\n", readClean * 1000, readScan * 1000);
    const double exactClean = medians[0], exactScan = medians[1], tol = medians[2], tolN = medians[3];
    std::printf("wall: T 64 / exact (clean): %.2f; T 64 / exact (scan): %.2f; N 16 adds %.2f of T 64\n",
                tol / exactClean, tol / exactScan, (tolN - tol) / tol);
    std::printf("CPU:  T 64 / exact (clean): %.2f; T 64 / exact (scan): %.2f; N 16 adds %.2f of T 64\n",
                cpuMedians[2] / cpuMedians[0], cpuMedians[2] / cpuMedians[1],
                (cpuMedians[3] - cpuMedians[2]) / cpuMedians[2]);
    std::printf("with the file read, as the command line pays it: T 64 / exact (clean) %.2f, N 16 adds %.2f\n",
                (tol + readScan) / (exactClean + readClean), (tolN - tol) / (tol + readScan));
    return 0;
}
