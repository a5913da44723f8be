// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/ScanQuality.h"

#include "trace/ColorMatch.h"

#include <algorithm>
#include <cstring>
#include <array>
#include <numeric>
#include <unordered_set>

namespace rastrace::bench {

namespace {

// 4-connected labels of a mask's set pixels, numbered from 1 in scan
// order; 0 for unset pixels. Returns the number of labels.
int32_t LabelMask(const std::vector<uint8_t>& mask, int32_t width, int32_t height, std::vector<int32_t>& labels) {
    const size_t n = mask.size();
    std::vector<int32_t> parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](int32_t a) {
        while (parent[static_cast<size_t>(a)] != a) {
            parent[static_cast<size_t>(a)] = parent[static_cast<size_t>(parent[static_cast<size_t>(a)])];
            a = parent[static_cast<size_t>(a)];
        }
        return a;
    };
    auto unite = [&](int32_t a, int32_t b) {
        a = find(a);
        b = find(b);
        if (a != b) parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
    };
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t i = y * width + x;
            if (!mask[static_cast<size_t>(i)]) continue;
            if (x > 0 && mask[static_cast<size_t>(i - 1)]) unite(i, i - 1);
            if (y > 0 && mask[static_cast<size_t>(i - width)]) unite(i, i - width);
        }
    }
    labels.assign(n, 0);
    std::vector<int32_t> number(n, 0);
    int32_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!mask[i]) continue;
        const auto root = static_cast<size_t>(find(static_cast<int32_t>(i)));
        if (number[root] == 0) number[root] = ++count;
        labels[i] = number[root];
    }
    return count;
}

}  // namespace

Recovery MeasureRecovery(const std::vector<uint8_t>& truth, const std::vector<uint8_t>& traced, int32_t width,
                         int32_t height, int64_t minRegion) {
    Recovery result;
    int64_t both = 0, either = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        both += truth[i] && traced[i];
        either += truth[i] || traced[i];
    }
    result.iou = either == 0 ? 1.0 : static_cast<double>(both) / static_cast<double>(either);

    std::vector<int32_t> trueLabels, tracedLabels;
    const int32_t trueCount = LabelMask(truth, width, height, trueLabels);
    const int32_t tracedCount = LabelMask(traced, width, height, tracedLabels);
    std::vector<int64_t> area(static_cast<size_t>(trueCount) + 1, 0);
    std::vector<RegionFault> box(static_cast<size_t>(trueCount) + 1,
                                 RegionFault{width, height, -1, -1, 0, false});
    std::unordered_set<uint64_t> pairs;
    for (size_t i = 0; i < truth.size(); ++i) {
        ++area[static_cast<size_t>(trueLabels[i])];
        RegionFault& b = box[static_cast<size_t>(trueLabels[i])];
        const auto x = static_cast<int32_t>(i % static_cast<size_t>(width)), y = static_cast<int32_t>(i / static_cast<size_t>(width));
        b.left = std::min(b.left, x);
        b.right = std::max(b.right, x);
        b.top = std::min(b.top, y);
        b.bottom = std::max(b.bottom, y);
        if (trueLabels[i] && tracedLabels[i]) {
            pairs.insert(static_cast<uint64_t>(trueLabels[i]) << 32 | static_cast<uint32_t>(tracedLabels[i]));
        }
    }
    // Per true region: how many traced regions meet it, and one of them;
    // per traced region: how many true regions it meets.
    std::vector<int32_t> tracedMet(static_cast<size_t>(trueCount) + 1, 0), oneTraced(static_cast<size_t>(trueCount) + 1, 0);
    std::vector<int32_t> trueMet(static_cast<size_t>(tracedCount) + 1, 0);
    for (const uint64_t pair : pairs) {
        const auto t = static_cast<size_t>(pair >> 32);
        const auto r = static_cast<size_t>(pair & 0xFFFFFFFFu);
        ++tracedMet[t];
        oneTraced[t] = static_cast<int32_t>(r);
        ++trueMet[r];
    }
    for (const uint64_t pair : pairs) {
        if (trueMet[static_cast<size_t>(pair & 0xFFFFFFFFu)] > 1) box[static_cast<size_t>(pair >> 32)].joined = true;
    }
    for (int32_t t = 1; t <= trueCount; ++t) {
        if (area[static_cast<size_t>(t)] < minRegion) continue;
        ++result.countedRegions;
        if (tracedMet[static_cast<size_t>(t)] == 1 && trueMet[static_cast<size_t>(oneTraced[static_cast<size_t>(t)])] == 1) {
            ++result.wholeRegions;
        } else {
            RegionFault fault = box[static_cast<size_t>(t)];
            fault.pieces = tracedMet[static_cast<size_t>(t)];
            result.faults.push_back(fault);
        }
    }
    result.connectivity = result.countedRegions == 0
                              ? 1.0
                              : static_cast<double>(result.wholeRegions) / static_cast<double>(result.countedRegions);
    return result;
}

uint32_t MedianColor(const Raster& raster, const std::vector<uint8_t>& mask, bool inside) {
    std::array<std::array<int64_t, 256>, 3> histogram{};
    int64_t count = 0;
    for (int32_t y = 0; y < raster.Height(); ++y) {
        const uint8_t* row = raster.RowBytes(y).data();
        for (int32_t x = 0; x < raster.Width(); ++x) {
            if ((mask[static_cast<size_t>(y) * static_cast<size_t>(raster.Width()) + static_cast<size_t>(x)] != 0) != inside) continue;
            for (int c = 0; c < 3; ++c) ++histogram[static_cast<size_t>(c)][row[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)]];
            ++count;
        }
    }
    if (count == 0) return 0;
    uint32_t color = 0;
    for (int c = 0; c < 3; ++c) {  // blue, green, red: bytes 2, 1, 0 of the packed colour
        int64_t seen = 0;
        int value = 0;
        while (seen + histogram[static_cast<size_t>(c)][static_cast<size_t>(value)] <= (count - 1) / 2) {
            seen += histogram[static_cast<size_t>(c)][static_cast<size_t>(value++)];
        }
        color |= static_cast<uint32_t>(value) << (8 * (2 - c));
    }
    return color;
}

namespace {

std::vector<uint8_t> InteriorOf(const Raster& board, uint32_t color) {
    const int32_t w = board.Width(), h = board.Height();
    std::vector<uint8_t> inner(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int32_t y = 1; y + 1 < h; ++y) {
        for (int32_t x = 1; x + 1 < w; ++x) {
            bool all = true;
            for (int32_t dy = -1; dy <= 1 && all; ++dy) {
                for (int32_t dx = -1; dx <= 1 && all; ++dx) all = board.PixelColor(x + dx, y + dy) == color;
            }
            inner[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = all;
        }
    }
    return inner;
}

}  // namespace

ScannedBoard ScanBoard(const BoardOptions& options, const ScannerModel& model, bool whiteSilk) {
    ScannedBoard result;
    result.scan = GenerateBoard(options);
    Raster& scan = result.scan;
    if (whiteSilk) {
        for (int32_t y = 0; y < scan.Height(); ++y) {
            uint8_t* row = scan.RowBytes(y).data();
            for (int32_t x = 0; x < scan.Width(); ++x) {
                uint8_t* p = row + 3 * static_cast<size_t>(x);
                if (PackColor(p) != kSilkYellowColor) continue;
                p[0] = kSilkWhiteColor >> 16 & 0xFF;
                p[1] = kSilkWhiteColor >> 8 & 0xFF;
                p[2] = kSilkWhiteColor & 0xFF;
            }
        }
    }
    result.truth = CopperMask(scan);
    // Copper inside: either copper colour all around.
    std::vector<uint8_t> copperInside = InteriorOf(scan, kCopperColor);
    const std::vector<uint8_t> copper2Inside = InteriorOf(scan, kCopper2Color);
    for (size_t i = 0; i < copperInside.size(); ++i) copperInside[i] |= copper2Inside[i];
    const std::vector<uint8_t> substrateInside = InteriorOf(scan, kSubstrateColor);
    const std::vector<uint8_t> whiteInside = InteriorOf(scan, kSilkWhiteColor);
    const std::vector<uint8_t> yellowInside = InteriorOf(scan, kSilkYellowColor);
    ApplyScanner(scan, model, options.seed, EffectiveDpi(options));
    result.copperClick = MedianColor(scan, copperInside);
    result.backgroundClick = MedianColor(scan, substrateInside);
    for (const auto* inside : {&whiteInside, &yellowInside}) {
        if (std::find(inside->begin(), inside->end(), 1) != inside->end()) result.silkClicks.push_back(MedianColor(scan, *inside));
    }
    return result;
}

Recovery TraceScannedBoard(const ScannedBoard& board, int32_t tolerance, int32_t despeckle, bool withSilk) {
    MatchOptions options;
    options.tolerance = tolerance;
    options.backgroundColors = {board.backgroundClick};
    if (withSilk) options.backgroundColors.insert(options.backgroundColors.end(), board.silkClicks.begin(), board.silkClicks.end());
    options.despeckle = despeckle;
    const std::vector<uint32_t> copper = {board.copperClick};
    const ClassMap map = BuildClassMap(board.scan, copper, options);
    const int32_t w = map.Width();
    std::vector<uint8_t> traced(board.truth.size());
    for (int32_t y = 0; y < map.Height(); ++y) {
        std::memcpy(traced.data() + static_cast<size_t>(y) * static_cast<size_t>(w), map.Row(y), static_cast<size_t>(w));
    }
    return MeasureRecovery(board.truth, traced, w, map.Height());
}

}  // namespace rastrace::bench
