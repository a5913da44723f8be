// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-scanquality: how well one copper click and one background click
// recover the board generator's true copper from its scanner model's scans.
//
//   rastrace-scanquality [-W N] [-H N] [--dpi N] [--seeds N] [-t T]... [-s N]...
//                        [--blur ORDER] [--noise SIGMA] [--light PERCENT] [--dust N]
//                        [--jpeg QUALITY] [--white-silk] [--silk-clicks]
//
// The clicks are those of ScanBoard; --silk-clicks adds the silkscreen's
// as background colours, --white-silk repaints the yellow silkscreen white. Prints intersection over union and
// connectivity for every seed, tolerance and speckle size, and their means
// over the seeds.
#include "bench/BoardGenerator.h"
#include "bench/ScanQuality.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace rastrace;
using namespace rastrace::bench;

int main(int argc, char** argv) {
    int32_t width = 1200, height = 900, seeds = 4;
    double dpi = 600;
    std::vector<int32_t> tolerances, speckles;
    ScannerModel model;
    bool whiteSilk = false;
    bool silkClicks = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--white-silk" || arg == "--silk-clicks") {
            (arg == "--white-silk" ? whiteSilk : silkClicks) = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "option %s needs a value\n", arg.c_str());
            return 2;
        }
        const int value = std::atoi(argv[++i]);
        if (arg == "-W") width = value;
        else if (arg == "-H") height = value;
        else if (arg == "--dpi") dpi = value;
        else if (arg == "--seeds") seeds = value;
        else if (arg == "-t") tolerances.push_back(value);
        else if (arg == "-s") speckles.push_back(value);
        else if (arg == "--blur") model.blurOrder = value;
        else if (arg == "--noise") model.noiseSigma = value;
        else if (arg == "--light") model.lightVariation = value / 100.0;
        else if (arg == "--dust") model.dustPerSquareInch = value;
        else if (arg == "--jpeg") model.jpegQuality = value;
        else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    if (tolerances.empty()) tolerances = {64};
    if (speckles.empty()) speckles = {0, 16};
    std::printf("%d x %d at %.0f dpi; blur order %d, noise %.1f, light +-%.0f%%, dust %.0f/sq in, JPEG q%d%s\n", width,
                height, dpi, model.blurOrder, model.noiseSigma, model.lightVariation * 100, model.dustPerSquareInch,
                model.jpegQuality, whiteSilk ? ", silkscreen all white" : "");
    std::vector<double> sumIou(tolerances.size() * speckles.size()), sumConn(sumIou.size());
    for (int seed = 1; seed <= seeds; ++seed) {
        const ScannedBoard board = ScanBoard({width, height, static_cast<uint64_t>(seed), false, dpi}, model, whiteSilk);
        std::printf("seed %d: copper click %06X, background click %06X\n", seed, board.copperClick,
                    board.backgroundClick);
        for (size_t t = 0; t < tolerances.size(); ++t) {
            for (size_t s = 0; s < speckles.size(); ++s) {
                const Recovery r = TraceScannedBoard(board, tolerances[t], speckles[s], silkClicks);
                sumIou[t * speckles.size() + s] += r.iou;
                sumConn[t * speckles.size() + s] += r.connectivity;
                std::printf("  T %3d N %3d: IoU %.4f, connectivity %.4f (%lld of %lld regions whole)\n", tolerances[t],
                            speckles[s], r.iou, r.connectivity, static_cast<long long>(r.wholeRegions),
                            static_cast<long long>(r.countedRegions));
            }
        }
    }
    std::printf("means over %d seeds:\n", seeds);
    for (size_t t = 0; t < tolerances.size(); ++t) {
        for (size_t s = 0; s < speckles.size(); ++s) {
            std::printf("  T %3d N %3d: IoU %.4f, connectivity %.4f\n", tolerances[t], speckles[s],
                        sumIou[t * speckles.size() + s] / seeds, sumConn[t * speckles.size() + s] / seeds);
        }
    }
    return 0;
}
