// SPDX-License-Identifier: GPL-3.0-or-later
// Times the area outputs (Gerber, KiCad footprint) of a synthetic board
// scan against the PCB track conversion of the same colours, all from the
// same raster in memory, each writing a real file.
//
//   bench_area [width height [repeats]]     default 10200 14040 (A4 at 1200 dpi) 3
//
// The PCB side is the conversion job as the command line runs it (one
// worker per colour, the owner writing); the area side is WriteCopperArea on
// this thread writing through stdio ("1 thread"), and again fed by one
// scanning thread per colour as the conversion job's workers would feed it
// ("scan threads": ScanAheadRows, the rows' runs passing through a bounded
// ring of rows).
// Prints medians, file sizes and the shape, hole and vertex counts; the
// target is at most 1.5 times the PCB time and a smaller file.
#include "BoardGenerator.h"
#include "formats/AreaOutput.h"
#include "job/ConversionJob.h"
#include "job/SimpleOwner.h"
#include "trace/OutlineScanAhead.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace rastrace;

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Processor time of the whole process (every thread) during the last
// timed call: less sensitive than wall time to other work on the machine.
double g_lastCpu = 0;

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long long FileSize(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long long bytes = std::ftell(f);
    std::fclose(f);
    return bytes;
}

double TimePcb(const std::shared_ptr<const Raster>& raster, const std::vector<uint32_t>& colors,
               const std::string& path) {
    SimpleOwner owner;
    ConversionRequest request;
    request.format = OutputFormat::Pcb;
    request.outputPath = path;
    request.xresText = request.yresText = "1200";
    for (uint32_t c : colors) request.colorTexts.push_back(std::to_string(c));
    ::unlink(path.c_str());
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    {
        ConversionJob job(owner, raster);
        job.Start(request);
        job.RunToCompletion();
    }
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    g_lastCpu = CpuSeconds() - cpuStart;
    if (owner.Failure()) {
        std::fprintf(stderr, "conversion failed: %s\n", owner.Failure()->c_str());
        std::exit(1);
    }
    return s;
}

double TimeArea(const Raster& raster, const std::vector<uint32_t>& colors, AreaFormat format,
                const std::string& path, AreaStats& stats) {
    ::unlink(path.c_str());
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    AreaOptions options;
    options.format = format;
    options.xres = options.yres = 1200;
    options.name = "board";
    stats = WriteCopperArea(raster, colors, options, [&](std::string_view text) {
        if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
            std::perror("write");
            std::exit(1);
        }
    });
    if (std::fclose(f) != 0) {
        std::perror("close");
        std::exit(1);
    }
    g_lastCpu = CpuSeconds() - cpuStart;
    return Seconds(std::chrono::steady_clock::now() - start);
}

double TimeAreaScanAhead(const Raster& raster, const std::vector<uint32_t>& colors, AreaFormat format,
                         const std::string& path) {
    ::unlink(path.c_str());
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    AreaOptions options;
    options.format = format;
    options.width = raster.Width();
    options.height = raster.Height();
    options.xres = options.yres = 1200;
    options.name = "board";
    {
        ScanAheadRows ahead(raster, colors);
        WriteArea(options, [&](int32_t row, std::vector<Span>& runs) { ahead.Row(row, runs); },
                  [&](std::string_view text) { std::fwrite(text.data(), 1, text.size(), f); });
    }
    std::fclose(f);
    g_lastCpu = CpuSeconds() - cpuStart;
    return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    bench::BoardOptions board;
    board.width = argc > 2 ? std::atoi(argv[1]) : 10200;
    board.height = argc > 2 ? std::atoi(argv[2]) : 14040;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const std::string base = "/tmp/rastrace_bench_area_" + std::to_string(::getpid());

    const auto t0 = std::chrono::steady_clock::now();
    const auto raster = std::make_shared<const Raster>(bench::GenerateBoard(board));
    std::printf("board %d x %d, made in %.2f s; %d repeats, medians\n", board.width, board.height,
                Seconds(std::chrono::steady_clock::now() - t0), repeats);
    std::printf("%-8s %-7s %8s %7s %7s %8s %8s %8s %9s %10s\n", "colours", "format", "wall s", "x PCB", "cpu s", "MB",
                "shapes", "holes", "vertices", "peak open");
    const std::vector<std::vector<uint32_t>> colourSets = {{bench::kCopperColor},
                                                           {bench::kCopperColor, bench::kCopper2Color}};
    for (const auto& colors : colourSets) {
        std::vector<double> pcb, cpu;
        for (int i = 0; i < repeats; ++i) {
            pcb.push_back(TimePcb(raster, colors, base + ".pcb"));
            cpu.push_back(g_lastCpu);
        }
        const double pcbTime = Median(pcb);
        std::printf("%-8zu %-7s %8.3f %7s %7.3f %8.1f\n", colors.size(), "pcb", pcbTime, "1.00", Median(cpu),
                    FileSize(base + ".pcb") / 1e6);
        for (AreaFormat format : {AreaFormat::Gerber, AreaFormat::KiCad}) {
            const std::string path = base + (format == AreaFormat::Gerber ? ".gbr" : ".kicad_mod");
            std::vector<double> times, cpu;
            AreaStats stats;
            for (int i = 0; i < repeats; ++i) {
                times.push_back(TimeArea(*raster, colors, format, path, stats));
                cpu.push_back(g_lastCpu);
            }
            const double t = Median(times);
            std::printf("%-8zu %-7s %8.3f %7.2f %7.3f %8.1f %8lld %8lld %9lld %10zu\n", colors.size(),
                        format == AreaFormat::Gerber ? "gerber" : "kicad", t, t / pcbTime, Median(cpu),
                        FileSize(path) / 1e6,
                        static_cast<long long>(stats.shapes), static_cast<long long>(stats.holes),
                        static_cast<long long>(stats.vertices), stats.peakOpenVertices);
            std::vector<double> ahead;
            cpu.clear();
            for (int i = 0; i < repeats; ++i) {
                ahead.push_back(TimeAreaScanAhead(*raster, colors, format, path));
                cpu.push_back(g_lastCpu);
            }
            const double ta = Median(ahead);
            std::printf("%-8zu %-7s %8.3f %7.2f %7.3f %8.1f  (scan threads)\n", colors.size(),
                        format == AreaFormat::Gerber ? "gerber" : "kicad", ta, ta / pcbTime, Median(cpu),
                        FileSize(path) / 1e6);
            ::unlink(path.c_str());
        }
        ::unlink((base + ".pcb").c_str());
    }
    return 0;
}
