// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-twosided: writes the scans of both sides of a synthetic two-layer
// board and the truth about it (holes, pads, nets, the map between the scans).
//
//   rastrace-twosided [--seed N] [--dpi D] [--bottom-dpi D] [--width-mm MM] [--height-mm MM] [--turn DEG] [--scale S] [--hidden F] [--spurious F] DIR
//
// Exit status 0 on success, 2 on a bad command line, 1 on any other failure.
#include "bench/TwoSidedBoard.h"
#include "common/Error.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "Usage: rastrace-twosided [options] DIR\n"
    "Draws a two-layer board, scans both sides and writes DIR/top.bmp, DIR/bottom.bmp and DIR/truth.txt.\n"
    "\n"
    "  --seed N         random seed; the same seed gives the same files (default 1)\n"
    "  --dpi D          resolution of the top scan (default 600)\n"
    "  --bottom-dpi D   resolution of the bottom scan (default: the top's)\n"
    "  --width-mm MM    board width (default 160)\n"
    "  --height-mm MM   board height (default 100)\n"
    "  --turn DEG       the bottom turns by a multiple of 90 plus up to DEG degrees (default 5)\n"
    "  --scale S        the bottom's scale differs by up to S per axis (default 0.003)\n"
    "  --hidden F       share of the holes one scan does not show (default 0)\n"
    "  --spurious F     round lid-coloured spots that are no hole, as a share of the holes (default 0)\n";

bool Number(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    rastrace::bench::TwoSidedOptions options;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg.substr(0, 2) == "--") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "rastrace-twosided: The option %s needs a value.\n%s", argv[i], kUsage);
                return 2;
            }
            double v = 0;
            if (!Number(argv[i + 1], v)) {
                std::fprintf(stderr, "rastrace-twosided: The value \"%s\" of %s is not a number.\n", argv[i + 1], argv[i]);
                return 2;
            }
            ++i;
            if (arg == "--seed") {
                // Integer text, all 64 bits of it.
                char* end = nullptr;
                errno = 0;
                const unsigned long long seed = std::strtoull(argv[i], &end, 10);
                if (errno || *end || argv[i][0] == '-') {
                    std::fprintf(stderr, "rastrace-twosided: The seed \"%s\" is not a whole number from 0 to 18446744073709551615.\n", argv[i]);
                    return 2;
                }
                options.seed = seed;
            }
            else if (arg == "--dpi") options.dpi = v;
            else if (arg == "--bottom-dpi") options.bottomDpi = v;
            else if (arg == "--width-mm") options.widthMm = v;
            else if (arg == "--height-mm") options.heightMm = v;
            else if (arg == "--turn") options.maxTurnDeg = v;
            else if (arg == "--scale") options.maxScale = v;
            else if (arg == "--hidden") options.hiddenHoleShare = v;
            else if (arg == "--spurious") options.spuriousHoleShare = v;
            else {
                std::fprintf(stderr, "rastrace-twosided: %s is not an option.\n%s", argv[i - 1], kUsage);
                return 2;
            }
            continue;
        }
        if (!dir.empty()) {
            std::fprintf(stderr, "rastrace-twosided: Only one output folder may be given.\n%s", kUsage);
            return 2;
        }
        dir = argv[i];
    }
    if (dir.empty()) {
        std::fprintf(stderr, "rastrace-twosided: The output folder is missing.\n%s", kUsage);
        return 2;
    }
    try {
        const auto t0 = std::chrono::steady_clock::now();
        const auto board = rastrace::bench::MakeTwoSidedBoard(options);
        rastrace::bench::WriteTwoSidedBoard(board, options, dir);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::fprintf(stderr, "rastrace-twosided: %zu holes, %zu pads, %d nets, %d of %d connections routed, %.2f s.\n", board.holes.size(),
                     board.pads.size(), board.nets, board.routedConnections, board.routedConnections + board.droppedConnections, s);
    } catch (const rastrace::Error& e) {
        std::fprintf(stderr, "rastrace-twosided: %s\n", e.what());
        return 1;
    }
    return 0;
}
