// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-boardgen: writes a synthetic board scan as a BMP file and, on
// request, the run count of each colour in it.
//
//   rastrace-boardgen [-W N] [-H N] [-s N] [--dpi N] [--noise] [--style NAME] [--scan] [--mask FILE] [--stats] [OUTPUT]
//
// Numbers are integer text as the converter reads it (255, $FF, 0xFF).
// Exit status 0 on success, 2 on a bad command line, 1 on any other failure.
#include "bench/BmpWriter.h"
#include "bench/BoardGenerator.h"
#include "bench/RealBoardBench.h"
#include "common/Error.h"
#include "common/IntText.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

using rastrace::bench::BoardOptions;

// A fault of the command line itself: reported with the usage text.
struct UsageError : rastrace::Error {
    using rastrace::Error::Error;
};

constexpr const char* kUsage =
    "Usage: rastrace-boardgen [options] [OUTPUT.bmp]\n"
    "Draws a synthetic printed-circuit board scan and writes it as a 24-bit BMP.\n"
    "\n"
    "  -W, --width N     picture width in pixels (default 600)\n"
    "  -H, --height N    picture height in pixels (default 400)\n"
    "  -s, --seed N      random seed; the same seed gives the same picture (default 1)\n"
    "  -d, --dpi N       dots per inch the features are drawn at\n"
    "                    (default: the shorter side is 8.5 inches)\n"
    "  -n, --noise       anti-aliased edges and pixel noise, like a real scan\n"
    "      --no-noise    clean edges, exact colours (default)\n"
    "      --style NAME  a real-looking board instead: green, blue, red, black,\n"
    "                    green-yellow (mask and print colours), tinned or bare\n"
    "                    (no mask); drawn at --dpi (default 600)\n"
    "      --scan        scan the board: dust, blur, uneven light, sensor noise and\n"
    "                    a JPEG round trip at quality 90, like a flatbed scanner's file\n"
    "      --mask FILE   also write the true copper (before any scan fault) as a BMP:\n"
    "                    copper white, the rest black\n"
    "      --stats       print the runs of each colour (top colours and the palette)\n"
    "  -h, --help        this text\n"
    "\n"
    "Without OUTPUT nothing is written (useful with --stats).\n";

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void PrintStats(const rastrace::Raster& raster) {
    using namespace rastrace::bench;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<ColorRuns> runs = CountRuns(raster);
    uint64_t totalRuns = 0;
    for (const ColorRuns& r : runs) totalRuns += r.runs;
    std::printf("%-10s %-8s %12s %14s  %s\n", "color", "hex", "runs", "pixels", "name");
    auto line = [](const ColorRuns& r) {
        std::printf("%-10u %06X   %12llu %14llu  %s\n", r.color, r.color, static_cast<unsigned long long>(r.runs),
                    static_cast<unsigned long long>(r.pixels), std::string(PaletteName(r.color)).c_str());
    };
    // The palette first, in a fixed order, then the other busiest colours.
    for (uint32_t c : {kCopperColor, kCopper2Color, kSubstrateColor, kHoleColor, kSilkWhiteColor, kSilkYellowColor}) {
        ColorRuns found{c, 0, 0};
        for (const ColorRuns& r : runs) {
            if (r.color == c) found = r;
        }
        line(found);
    }
    int shown = 0;
    for (const ColorRuns& r : runs) {
        if (!PaletteName(r.color).empty()) continue;
        if (++shown > 6) break;
        line(r);
    }
    std::printf("distinct colors: %zu, total runs: %llu (counted in %.2f s)\n", runs.size(),
                static_cast<unsigned long long>(totalRuns), Seconds(start));
}

int Run(int argc, char** argv) {
    BoardOptions options;
    std::string output;
    bool stats = false;
    bool scan = false;
    std::string maskPath;
    std::optional<rastrace::bench::BoardStyle> style;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> int32_t {
            if (i + 1 >= argc) throw UsageError("Option " + std::string(arg) + " needs a value");
            int32_t v = 0;
            if (!rastrace::TryStrToInt(argv[++i], v)) throw UsageError(rastrace::NotValidIntegerMessage(argv[i]));
            return v;
        };
        if (arg == "-W" || arg == "--width") {
            options.width = value();
        } else if (arg == "-H" || arg == "--height") {
            options.height = value();
        } else if (arg == "-s" || arg == "--seed") {
            options.seed = static_cast<uint32_t>(value());
        } else if (arg == "-d" || arg == "--dpi") {
            options.dpi = value();
        } else if (arg == "-n" || arg == "--noise") {
            options.noise = true;
        } else if (arg == "--no-noise") {
            options.noise = false;
        } else if (arg == "--style") {
            if (i + 1 >= argc) throw UsageError("Option --style needs a value");
            style = rastrace::bench::BoardStyleNamed(argv[++i]);
            if (!style) throw UsageError("Unknown board style " + std::string(argv[i]));
        } else if (arg == "--scan") {
            scan = true;
        } else if (arg == "--mask") {
            if (i + 1 >= argc) throw UsageError("Option --mask needs a value");
            maskPath = argv[++i];
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("Unknown option " + std::string(arg));
        } else if (output.empty()) {
            output = arg;
        } else {
            throw UsageError("Only one output file may be given");
        }
    }
    if (options.width < 1 || options.height < 1) throw UsageError("Width and height must be at least 1");
    if (options.dpi < 0) throw UsageError("The dpi must not be negative");

    auto start = std::chrono::steady_clock::now();
    rastrace::Raster raster;
    std::vector<uint8_t> realCopper;
    if (style) {
        if (options.dpi == 0) options.dpi = 600;
        rastrace::bench::RealBoard board =
            rastrace::bench::DrawRealBoard({options.width, options.height, options.seed, options.dpi, *style});
        raster = std::move(board.picture);
        realCopper = std::move(board.copper);
    } else {
        raster = rastrace::bench::GenerateBoard(options);
    }
    const double dpi = rastrace::bench::EffectiveDpi(options);
    if (!maskPath.empty()) {
        const std::vector<uint8_t> mask = style ? realCopper : rastrace::bench::CopperMask(raster);
        rastrace::Raster picture(raster.Width(), raster.Height());
        for (int32_t y = 0; y < raster.Height(); ++y) {
            uint8_t* row = picture.RowBytes(y).data();
            for (int32_t x = 0; x < raster.Width(); ++x) {
                const uint8_t v = mask[static_cast<size_t>(y) * static_cast<size_t>(raster.Width()) + static_cast<size_t>(x)] ? 255 : 0;
                row[3 * static_cast<size_t>(x)] = row[3 * static_cast<size_t>(x) + 1] = row[3 * static_cast<size_t>(x) + 2] = v;
            }
        }
        rastrace::bench::WriteBitmapFile(picture, maskPath, static_cast<int32_t>(dpi / 0.0254 + 0.5));
    }
    if (scan) {
        rastrace::bench::ApplyScanner(raster, style ? rastrace::bench::ScannerAt(dpi) : rastrace::bench::ScannerModel{},
                                      options.seed, dpi);
    }
    const double generated = Seconds(start);
    if (!output.empty()) {
        start = std::chrono::steady_clock::now();
        rastrace::bench::WriteBitmapFile(raster, output, static_cast<int32_t>(dpi / 0.0254 + 0.5));
    }
    if (stats) {
        std::printf("%d x %d pixels at %.0f dpi, seed %llu, noise %s, scan %s: generated in %.2f s",
                    options.width, options.height, dpi, static_cast<unsigned long long>(options.seed),
                    options.noise ? "on" : "off", scan ? "on" : "off",
                    generated);
        if (!output.empty()) std::printf(", written in %.2f s", Seconds(start));
        std::printf("\n");
        PrintStats(raster);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "rastrace-boardgen: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rastrace-boardgen: %s\n", e.what());
        return 1;
    }
}
