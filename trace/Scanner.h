// SPDX-License-Identifier: GPL-3.0-or-later
// The run scanner: finds every horizontal run of one exact colour in the
// 24-bit raster and maps it to a track in mils, Y axis up.
//
// Rows are scanned from the top (row 0) down, columns left to right. A run
// that ends inside its row ends at the first column that does not match; a
// run that reaches the last column ends at the last column itself (so a
// lone match in the last column gives a track of length zero).
//
// Coordinates: the scale 1000/resolution is divided in extended precision,
// then stored as a single-precision float; each coordinate is the exact
// product of an integer and that float, rounded to nearest, ties to even.
#pragma once

#include "raster/Raster.h"
#include "trace/ClassMap.h"

#include <algorithm>
#include <bit>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstdint>

namespace rastrace {

// A track: a straight segment in mils.
struct Track {
    int64_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    friend bool operator==(const Track&, const Track&) = default;
};

// A run in pixel terms: columns startCol..endCol of row (0 = top).
struct Run {
    int32_t startCol = 0, endCol = 0, row = 0;
};

// Mils per pixel for a resolution in dots per inch, as a single-precision
// float. Throws Error("Floating point division by zero") for 0.
float ScaleFor(int32_t resolution);

// R(value * scale): the exact product, rounded to nearest with ties to even.
int64_t MapToMils(int64_t value, float scale);

// A scale split once into its 24-bit integer mantissa and power of two, so
// that each product is one multiplication and a rounding shift.
class MilsScale {
public:
    MilsScale() = default;
    explicit MilsScale(float scale);
    // MapToMils(value, scale).
    int64_t operator()(int64_t value) const {
        const int64_t product = value * mantissa_;
        if (product == 0) return 0;
        if (shift_ <= 0) return product << -shift_;  // only for scales of 2^23 and more
        const bool negative = product < 0;
        const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
        uint64_t quotient = 0;  // for shifts of 64 and more: magnitude < 2^57, far below half of 2^shift
        if (shift_ < 64) {
            quotient = magnitude >> shift_;
            const uint64_t remainder = magnitude & ((uint64_t{1} << shift_) - 1);
            const uint64_t half = uint64_t{1} << (shift_ - 1);
            if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
        }
        return negative ? -static_cast<int64_t>(quotient) : static_cast<int64_t>(quotient);
    }

private:
    int64_t mantissa_ = 0;
    int shift_ = 0;  // the product is divided by 2^shift (multiplied for shift <= 0)
};

// The mapping of one scan: both scales and the picture's last row.
struct TrackMapping {
    float sx = 0, sy = 0;
    int32_t lastRow = -1;

    TrackMapping() = default;
    // Computes both scales (either may throw) for a picture of height rows.
    TrackMapping(int32_t xres, int32_t yres, int32_t height);

    Track Map(const Run& run) const {
        const int64_t y = my_(static_cast<int64_t>(lastRow) - run.row);
        return Track{mx_(run.startCol), y, mx_(run.endCol), y};
    }

private:
    MilsScale mx_, my_;
};

// Calls onRow(row) at the start of every row, before any of its pixels is
// read, and onRun(Run) for every run of color in scan order. Either
// callback may throw to end the scan. Reads the raster only.
template <class OnRow, class OnRun>
void ScanRuns(const Raster& raster, uint32_t color, OnRow&& onRow, OnRun&& onRun);

// The same scan over a class map: runs of the bytes equal to value, with
// the same row steps and the same run ends as a raster scan of a colour.
template <class OnRow, class OnRun>
void ScanClassRuns(const ClassMap& map, uint8_t value, OnRow&& onRow, OnRun&& onRun);

// ---------------------------------------------------------------------------

namespace detail {

// Scans one row of width pixels (width >= 1) for runs of color. Reads only
// the width*3 pixel bytes. Calls emit(startCol, endCol) per run.
template <class Emit>
inline void ScanRow(const uint8_t* p, int32_t width, uint32_t color, Emit&& emit) {
    static_assert(std::endian::native == std::endian::little, "pixel loads assume little-endian");
    const int32_t last = width - 1;
    const uint32_t stored = (color & 0xFFu) << 16 | (color & 0xFF00u) | (color >> 16 & 0xFFu);
    // Every pixel but the last is compared through a 4-byte load whose top
    // byte belongs to the next pixel; the last one through its 3 bytes, so
    // the padding is never read.
    auto match = [&](int32_t i) {
        if (i < last) {
            uint32_t v;
            __builtin_memcpy(&v, p + 3 * static_cast<size_t>(i), 4);
            return (v & 0x00FFFFFFu) == stored;
        }
        return PackColor(p + 3 * static_cast<size_t>(i)) == color;
    };
#ifdef __SSE2__
    // Four pixels (12 bytes) at a time through a 16-byte load, as long as
    // the load stays inside the row's pixel bytes: whole blocks without a
    // match, or wholly matching, are passed over at once.
    const __m128i pattern = _mm_setr_epi8(
        static_cast<char>(stored), static_cast<char>(stored >> 8), static_cast<char>(stored >> 16),
        static_cast<char>(stored), static_cast<char>(stored >> 8), static_cast<char>(stored >> 16),
        static_cast<char>(stored), static_cast<char>(stored >> 8), static_cast<char>(stored >> 16),
        static_cast<char>(stored), static_cast<char>(stored >> 8), static_cast<char>(stored >> 16), 0, 0, 0, 0);
    const int32_t blockEnd = width - 6;  // 3*i + 16 <= 3*width for every block start i <= blockEnd
    auto equalBytes = [&](int32_t i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * static_cast<size_t>(i)));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern))) & 0x0FFFu;
    };
    // Bit 3k is set when all three bytes of pixel i+k are equal.
    auto anyMatch = [](unsigned m) { return (m & m >> 1 & m >> 2 & 0x249u) != 0; };
#endif
    int32_t i = 0;
    while (i < width) {
#ifdef __SSE2__
        while (i <= blockEnd && !anyMatch(equalBytes(i))) i += 4;
#endif
        while (i < width && !match(i)) ++i;
        if (i == width) break;
        const int32_t start = i++;
#ifdef __SSE2__
        while (i <= blockEnd && equalBytes(i) == 0x0FFFu) i += 4;
#endif
        while (i < width && match(i)) ++i;
        emit(start, i == width ? last : i);
        ++i;  // the pixel that ended the run cannot start one
    }
}

// The first column from i on (i <= width) whose byte equals value (when
// equal is true) or differs from it (when false); width when there is none.
// Reads only the width bytes of the row.
template <bool equal>
inline int32_t FindByte(const uint8_t* row, int32_t i, int32_t width, uint8_t value) {
#ifdef __SSE2__
    const __m128i pattern = _mm_set1_epi8(static_cast<char>(value));
    for (; i + 16 <= width; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern)));
        if (!equal) m ^= 0xFFFFu;
        if (m != 0) return i + std::countr_zero(m);
    }
#endif
    while (i < width && (row[i] == value) != equal) ++i;
    return i;
}

// The byte-row kernel: ScanRow's runs for a row of class bytes, where a
// pixel matches when its byte equals value. A run ends at the first column
// that does not match, or at the last column when it reaches it.
template <class Emit>
inline void ScanByteRow(const uint8_t* row, int32_t width, uint8_t value, Emit&& emit) {
    const int32_t last = width - 1;
    int32_t i = 0;
    while (i < width) {
        i = FindByte<true>(row, i, width, value);
        if (i == width) break;
        const int32_t start = i;
        i = FindByte<false>(row, i + 1, width, value);
        emit(start, i == width ? last : i);
        ++i;  // the pixel that ended the run cannot start one
    }
}

// FindByte for a row of bits (bit x of word x / 64): the first column from
// i on (i <= width) whose bit is set (when set is true) or clear; width
// when there is none. Bits past width are not looked at.
template <bool set>
inline int32_t FindBit(const uint64_t* bits, int32_t i, int32_t width) {
    if (i >= width) return width;
    const auto words = static_cast<size_t>(width + 63) / 64;
    auto w = static_cast<size_t>(i) / 64;
    uint64_t m = (set ? bits[w] : ~bits[w]) & (~uint64_t{0} << (i % 64));
    while (m == 0) {
        if (++w == words) return width;
        m = set ? bits[w] : ~bits[w];
    }
    return std::min(width, static_cast<int32_t>(w * 64) + std::countr_zero(m));
}

// The byte-row kernel's runs for a row of bits, where a pixel matches when
// its bit is set.
template <class Emit>
inline void ScanBitRow(const uint64_t* bits, int32_t width, Emit&& emit) {
    const int32_t last = width - 1;
    int32_t i = 0;
    while (i < width) {
        i = FindBit<true>(bits, i, width);
        if (i == width) break;
        const int32_t start = i;
        i = FindBit<false>(bits, i + 1, width);
        emit(start, i == width ? last : i);
        ++i;  // the pixel that ended the run cannot start one
    }
}

}  // namespace detail

template <class OnRow, class OnRun>
void ScanRuns(const Raster& raster, uint32_t color, OnRow&& onRow, OnRun&& onRun) {
    const int32_t height = raster.Height();
    // A value with its top byte set is no pixel's colour: rows are still stepped.
    const int32_t width = color > 0x00FFFFFFu ? 0 : raster.Width();
    for (int32_t r = 0; r < height; ++r) {
        onRow(r);
        if (width == 0) continue;
        const uint8_t* p = raster.RowBytes(r).data();
        detail::ScanRow(p, width, color, [&](int32_t s, int32_t e) { onRun(Run{s, e, r}); });
    }
}

template <class OnRow, class OnRun>
void ScanClassRuns(const ClassMap& map, uint8_t value, OnRow&& onRow, OnRun&& onRun) {
    const int32_t width = map.Width();
    for (int32_t r = 0; r < map.Height(); ++r) {
        onRow(r);
        if (width == 0) continue;
        detail::ScanByteRow(map.Row(r), width, value, [&](int32_t s, int32_t e) { onRun(Run{s, e, r}); });
    }
}

}  // namespace rastrace
