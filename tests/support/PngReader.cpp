#include "support/PngReader.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#ifdef RASTRACE_HAVE_ZLIB
#include <zlib.h>
#endif

namespace rastrace::test {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& why) {
    throw std::runtime_error("PNG " + path.string() + ": " + why);
}

uint32_t BeU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Reverses the per-row filters in place; rows are 1 filter byte + rowBytes.
void Unfilter(std::vector<uint8_t>& raw, size_t rows, size_t rowBytes, size_t pixelBytes,
              const std::filesystem::path& path) {
    std::vector<uint8_t> previous(rowBytes, 0);
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* line = raw.data() + y * (rowBytes + 1);
        const uint8_t filter = line[0];
        uint8_t* cur = line + 1;
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= pixelBytes ? cur[i - pixelBytes] : 0;
            const int b = previous[i];
            const int c = i >= pixelBytes ? previous[i - pixelBytes] : 0;
            switch (filter) {
                case 0: break;
                case 1: cur[i] = static_cast<uint8_t>(cur[i] + a); break;
                case 2: cur[i] = static_cast<uint8_t>(cur[i] + b); break;
                case 3: cur[i] = static_cast<uint8_t>(cur[i] + (a + b) / 2); break;
                case 4: cur[i] = static_cast<uint8_t>(cur[i] + Paeth(a, b, c)); break;
                default: Fail(path, "unknown filter");
            }
        }
        std::memcpy(previous.data(), cur, rowBytes);
    }
}

}  // namespace

bool PngSupported() {
#ifdef RASTRACE_HAVE_ZLIB
    return true;
#else
    return false;
#endif
}

PngImage ReadPng(const std::filesystem::path& path) {
#ifndef RASTRACE_HAVE_ZLIB
    Fail(path, "built without zlib");
#else
    std::ifstream file(path, std::ios::binary);
    if (!file) Fail(path, "cannot open");
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) Fail(path, "no PNG signature");

    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colourType = 0;
    std::vector<std::array<uint8_t, 4>> palette;
    std::vector<uint8_t> transparent;  // tRNS body
    std::vector<uint8_t> compressed;
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = BeU32(&bytes[at]);
        if (length > bytes.size() - at - 12) Fail(path, "chunk past the end");
        const std::string type(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
        const uint8_t* data = &bytes[at + 8];
        if (type == "IHDR") {
            width = BeU32(data);
            height = BeU32(data + 4);
            depth = data[8];
            colourType = data[9];
            if (data[12] != 0) Fail(path, "interlaced files are not read");
        } else if (type == "PLTE") {
            for (uint32_t i = 0; i + 3 <= length; i += 3) palette.push_back({data[i], data[i + 1], data[i + 2], 255});
        } else if (type == "tRNS") {
            transparent.assign(data, data + length);
        } else if (type == "IDAT") {
            compressed.insert(compressed.end(), data, data + length);
        } else if (type == "IEND") {
            break;
        }
        at += 12 + length;
    }

    size_t channels = 0;
    switch (colourType) {
        case 0: channels = 1; break;
        case 2: channels = 3; break;
        case 3: channels = 1; break;
        case 4: channels = 2; break;
        case 6: channels = 4; break;
        default: Fail(path, "unknown colour type");
    }
    if (width == 0 || height == 0 || width > 1u << 16 || height > 1u << 16) Fail(path, "odd size");
    const size_t bitsPerPixel = channels * depth;
    const size_t rowBytes = (width * bitsPerPixel + 7) / 8;
    std::vector<uint8_t> raw(height * (rowBytes + 1));
    uLongf rawSize = raw.size();
    if (uncompress(raw.data(), &rawSize, compressed.data(), compressed.size()) != Z_OK || rawSize != raw.size()) {
        Fail(path, "bad compressed data");
    }
    Unfilter(raw, height, rowBytes, std::max<size_t>(1, bitsPerPixel / 8), path);

    for (size_t i = 0; i < transparent.size() && i < palette.size() && colourType == 3; ++i) palette[i][3] = transparent[i];

    PngImage image;
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    image.rgba.resize(static_cast<size_t>(width) * height * 4);
    const int maxSample = (1 << depth) - 1;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = raw.data() + y * (rowBytes + 1) + 1;
        // Sample s of the row, at full precision, and as 8 bits.
        auto sample = [&](size_t s) -> int {
            if (depth == 16) return row[2 * s] << 8 | row[2 * s + 1];
            if (depth == 8) return row[s];
            const size_t bit = s * depth;
            return (row[bit / 8] >> (8 - depth - bit % 8)) & maxSample;
        };
        auto eight = [&](size_t s) -> uint8_t {
            const int v = sample(s);
            if (depth == 16) return static_cast<uint8_t>(v >> 8);
            return static_cast<uint8_t>(v * 255 / maxSample);
        };
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* out = image.rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
            const size_t s = static_cast<size_t>(x) * channels;
            switch (colourType) {
                case 0: {
                    out[0] = out[1] = out[2] = eight(s);
                    out[3] = transparent.size() >= 2 && sample(s) == (transparent[0] << 8 | transparent[1]) ? 0 : 255;
                    break;
                }
                case 2: {
                    for (int c = 0; c < 3; ++c) out[c] = eight(s + c);
                    bool clear = transparent.size() >= 6;
                    for (int c = 0; c < 3 && clear; ++c) clear = sample(s + c) == (transparent[2 * c] << 8 | transparent[2 * c + 1]);
                    out[3] = clear ? 0 : 255;
                    break;
                }
                case 3: {
                    const int index = sample(s);
                    if (static_cast<size_t>(index) >= palette.size()) Fail(path, "index beyond the palette");
                    std::memcpy(out, palette[static_cast<size_t>(index)].data(), 4);
                    break;
                }
                case 4:
                    out[0] = out[1] = out[2] = eight(s);
                    out[3] = eight(s + 1);
                    break;
                case 6:
                    for (int c = 0; c < 4; ++c) out[c] = eight(s + c);
                    break;
            }
        }
    }
    return image;
#endif
}

}  // namespace rastrace::test
