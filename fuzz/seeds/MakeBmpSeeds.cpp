// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the BMP seed files of the reader's fuzzer: one small picture
// (6 x 4 pixels, four colours, a run in every row) in every header kind,
// depth and compression the reader knows, plus a few broken files, each a
// few hundred bytes at most, built by the tests' BMP builder.
//
//   rastrace-make-bmp-seeds DIR          writes the files into DIR
//   rastrace-make-bmp-seeds --check DIR  exits 1 when DIR's files differ from
//                                        them, or a seed meant to load fails
#include "common/Error.h"
#include "raster/BmpReader.h"
#include "support/BmpBuilder.h"
#include "support/Files.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using rastrace::test::BmpBuilder;

// Palette indices, bottom row first (the order the file stores them).
const std::vector<std::vector<uint32_t>> kIndices = {
    {0, 0, 1, 1, 1, 0}, {2, 2, 2, 0, 3, 3}, {1, 0, 1, 0, 1, 0}, {3, 3, 3, 3, 2, 2}};
const std::vector<uint32_t> kPalette = {0xFFFFFF, 0xC86432, 0x32C864, 0x000000};  // 0x00RRGGBB

struct Seed {
    std::string name;
    bool loads;  // false: a broken file, which must fail with a reader message
    std::vector<uint8_t> bytes;
};

// The picture's rows as values of one channel layout: each palette colour
// split into its red, green and blue bytes and placed by the given shifts
// and widths.
std::vector<std::vector<uint32_t>> Channels(int redShift, int greenShift, int blueShift, int bits) {
    std::vector<std::vector<uint32_t>> rows;
    for (const auto& row : kIndices) {
        std::vector<uint32_t> out;
        for (uint32_t i : row) {
            const uint32_t c = kPalette[i];
            const uint32_t r = (c >> 16 & 0xFF) >> (8 - bits), g = (c >> 8 & 0xFF) >> (8 - bits),
                           b = (c & 0xFF) >> (8 - bits);
            out.push_back(r << redShift | g << greenShift | b << blueShift);
        }
        rows.push_back(out);
    }
    return rows;
}

BmpBuilder Base(uint32_t headerSize, uint16_t bitCount) {
    BmpBuilder b;
    b.headerSize = headerSize;
    b.width = 6;
    b.height = 4;
    b.bitCount = bitCount;
    return b;
}

// Palette indices as the depth can hold them (two colours at 1 bit). The
// core header has no colour count, so its table is full (2 to the depth);
// the others name the entries they hold in clrUsed.
BmpBuilder Indexed(uint32_t headerSize, uint16_t bitCount) {
    BmpBuilder b = Base(headerSize, bitCount);
    const uint32_t colours = std::min<uint32_t>(kPalette.size(), 1u << bitCount);
    b.palette.assign(kPalette.begin(), kPalette.begin() + colours);
    if (headerSize == 12) {
        b.palette.resize(1u << bitCount, 0x808080);
    } else {
        b.clrUsed = colours;
    }
    auto rows = kIndices;
    for (auto& row : rows)
        for (auto& i : row) i %= colours;
    b.pixels = rastrace::test::PackRows(rows, bitCount);
    return b;
}

BmpBuilder Direct24(uint32_t headerSize) {
    BmpBuilder b = Base(headerSize, 24);
    std::vector<std::vector<uint32_t>> rows;
    for (const auto& row : kIndices) {
        rows.emplace_back();
        for (uint32_t i : row) rows.back().push_back(kPalette[i]);
    }
    b.pixels = rastrace::test::PackRows(rows, 24);
    return b;
}

BmpBuilder BitFields(uint32_t headerSize, uint16_t bitCount, std::array<uint32_t, 4> masks,
                     const std::vector<std::vector<uint32_t>>& rows) {
    BmpBuilder b = Base(headerSize, bitCount);
    b.compression = 3;
    b.masks = masks;
    b.pixels = rastrace::test::PackRows(rows, bitCount);
    return b;
}

BmpBuilder RunLength(bool fourBit, bool skipIndexZero) {
    BmpBuilder b = Base(40, fourBit ? 4 : 8);
    b.compression = fourBit ? 2 : 1;
    b.palette = kPalette;
    b.clrUsed = static_cast<uint32_t>(kPalette.size());
    std::vector<std::vector<uint8_t>> rows;
    for (const auto& row : kIndices) rows.emplace_back(row.begin(), row.end());
    b.pixels = rastrace::test::EncodeRunLength(rows, fourBit, skipIndexZero);
    b.sizeImage = static_cast<uint32_t>(b.pixels.size());  // a reader takes no more of the stream
    return b;
}

BmpBuilder With(BmpBuilder b, const std::function<void(BmpBuilder&)>& change) {
    change(b);
    return b;
}

std::vector<Seed> Seeds() {
    const auto rgb555 = Channels(10, 5, 0, 5);
    const auto rgb565 = [] {
        auto rows = Channels(11, 5, 0, 5);  // green gets 6 bits: shift it up by one more
        for (auto& row : rows)
            for (auto& v : row) v = (v & 0xF81F) | ((v >> 5 & 0x1F) << 6);
        return rows;
    }();
    const auto xrgb = Channels(16, 8, 0, 8);
    const auto bgrx = Channels(8, 16, 24, 8);

    std::vector<Seed> seeds;
    const auto add = [&](std::string name, const BmpBuilder& b) { seeds.push_back({std::move(name), true, b.Build()}); };
    const auto addBroken = [&](std::string name, std::vector<uint8_t> bytes) {
        seeds.push_back({std::move(name), false, std::move(bytes)});
    };

    // The 12-byte core header: 3-byte colour table entries.
    for (uint16_t depth : {1, 4, 8}) add("core12_" + std::to_string(depth) + "bit", Indexed(12, depth));
    add("core12_24bit", Direct24(12));

    // The 40-byte header in every depth.
    for (uint16_t depth : {1, 4, 8}) add("info40_" + std::to_string(depth) + "bit", Indexed(40, depth));
    add("info40_16bit_555", With(Base(40, 16), [&](BmpBuilder& b) { b.pixels = rastrace::test::PackRows(rgb555, 16); }));
    add("info40_24bit", Direct24(40));
    add("info40_32bit", With(Base(40, 32), [&](BmpBuilder& b) { b.pixels = rastrace::test::PackRows(xrgb, 32); }));
    add("info40_8bit_topdown", With(Indexed(40, 8), [](BmpBuilder& b) {
            b.height = -4;
            auto rows = kIndices;
            std::reverse(rows.begin(), rows.end());
            b.pixels = rastrace::test::PackRows(rows, 8);
        }));
    add("info40_24bit_topdown", With(Direct24(40), [](BmpBuilder& b) { b.height = -4; }));
    add("info40_8bit_clrimportant", With(Indexed(40, 8), [](BmpBuilder& b) { b.clrImportant = 2; }));
    add("info40_4bit_gap", With(Indexed(40, 4), [](BmpBuilder& b) { b.gap = {0xAA, 0xBB, 0xCC, 0xDD}; }));

    // Run-length encodings, with and without deltas and early ends of line.
    add("info40_rle8", RunLength(false, false));
    add("info40_rle8_delta", RunLength(false, true));
    add("info40_rle4", RunLength(true, false));
    add("info40_rle4_delta", RunLength(true, true));
    add("info40_rle8_no_size", With(RunLength(false, false), [](BmpBuilder& b) { b.sizeImage = 0; }));

    // Bit fields after a 40-byte header, and inside the longer headers.
    add("info40_bitfields16_565", BitFields(40, 16, {0xF800, 0x07E0, 0x001F, 0}, rgb565));
    add("info40_bitfields32", BitFields(40, 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0}, xrgb));
    add("v2_52_bitfields32", BitFields(52, 32, {0x0000FF00, 0x00FF0000, 0xFF000000, 0}, bgrx));
    add("v3_56_bitfields16_555", BitFields(56, 16, {0x7C00, 0x03E0, 0x001F, 0x8000}, rgb555));
    add("os2_64_24bit", Direct24(64));
    add("v4_108_bitfields32", BitFields(108, 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, xrgb));
    add("v4_108_8bit", Indexed(108, 8));
    add("v5_124_bitfields16_565", BitFields(124, 16, {0xF800, 0x07E0, 0x001F, 0}, rgb565));
    add("v5_124_24bit", Direct24(124));

    // Broken files: each fails with one of the reader's messages.
    const std::vector<uint8_t> good = Indexed(40, 8).Build();
    addBroken("broken_truncated_palette", std::vector<uint8_t>(good.begin(), good.begin() + 60));
    addBroken("broken_truncated_header", std::vector<uint8_t>(good.begin(), good.begin() + 30));
    addBroken("broken_magic", With(Indexed(40, 8), [](BmpBuilder& b) { b.magic = "MB"; }).Build());
    addBroken("broken_header_size", With(Indexed(40, 8), [](BmpBuilder& b) { b.headerSize = 20; }).Build());
    addBroken("broken_depth", With(Direct24(40), [](BmpBuilder& b) { b.bitCount = 7; }).Build());
    addBroken("broken_rle8_with_24bit", With(Direct24(40), [](BmpBuilder& b) { b.compression = 1; }).Build());
    addBroken("broken_colour_count", With(Indexed(40, 8), [](BmpBuilder& b) { b.clrUsed = 0x10000000; }).Build());

    // Short files whose headers promise far more pixels than they hold
    // (2^20 x 65535 at 1 bit and run-length coded, 30000 x 2^20 at 24
    // bits): beyond any memory limit read whole, and a test of the
    // time and memory the rows of such a file may take.
    addBroken("short_1bit_huge", With(Indexed(40, 1), [](BmpBuilder& b) {
                  b.width = 1 << 20;
                  b.height = 65535;
              }).Build());
    addBroken("short_24bit_tall", With(Direct24(40), [](BmpBuilder& b) {
                  b.width = 30000;
                  b.height = 1 << 20;
              }).Build());
    addBroken("short_rle8_huge", With(RunLength(false, true), [](BmpBuilder& b) {
                  b.width = 1 << 20;
                  b.height = 65535;
              }).Build());
    return seeds;
}

bool Check(const std::filesystem::path& dir, const std::vector<Seed>& seeds) {
    bool ok = true;
    std::set<std::string> expected;
    for (const Seed& s : seeds) {
        const std::string file = s.name + ".bmp";
        expected.insert(file);
        const std::string bytes(s.bytes.begin(), s.bytes.end());
        if (rastrace::test::ReadBytes(dir / file) != bytes) {
            std::fprintf(stderr, "%s differs from the generated seed\n", file.c_str());
            ok = false;
        }
        std::string message;
        try {
            rastrace::LoadBitmapMemory(s.bytes);
        } catch (const rastrace::Error& e) {
            message = e.what();
        }
        if (s.loads != message.empty()) {
            std::fprintf(stderr, "%s %s\n", file.c_str(),
                         s.loads ? ("does not load: " + message).c_str() : "loads, but is meant to be broken");
            ok = false;
        }
        if (s.bytes.size() > 1024) {
            std::fprintf(stderr, "%s has %zu bytes: a seed should stay small\n", file.c_str(), s.bytes.size());
            ok = false;
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!expected.count(entry.path().filename().string())) {
            std::fprintf(stderr, "%s is not a generated seed\n", entry.path().filename().string().c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: %s [--check] DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[argc - 1];
    const std::vector<Seed> seeds = Seeds();
    if (check) return Check(dir, seeds) ? 0 : 1;

    std::filesystem::create_directories(dir);
    for (const Seed& s : seeds) rastrace::test::WriteFile(dir / (s.name + ".bmp"), s.bytes);
    std::printf("%zu seeds written to %s\n", seeds.size(), dir.string().c_str());
    return 0;
}
