// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace/ColorMatch.h"

#include "common/Error.h"

#include <algorithm>
#ifdef __x86_64__
#include <immintrin.h>
#endif
#include <atomic>
#include <cstring>
#include <mutex>
#include <limits>
#include <new>
#include <thread>

namespace rastrace {

ClassMap::ClassMap(int32_t width, int32_t height, uint64_t memoryLimit) : ClassMap(width, height, true, memoryLimit) {}

ClassMap::ClassMap(int32_t width, int32_t height, bool zeroed, uint64_t memoryLimit) {
    if (width <= 0 || height <= 0) return;
    const uint64_t size = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (size > memoryLimit || size > std::numeric_limits<size_t>::max() / 2) ThrowOutOfMemory();
    try {
        data_ = zeroed ? std::make_unique<uint8_t[]>(static_cast<size_t>(size))
                       : std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
    width_ = width;
    height_ = height;
}

void CheckMatchOptions(const MatchOptions& options, size_t copperCount) {
    if (options.tolerance < 0 || options.tolerance > kMaxTolerance) {
        throw Error("Tolerance must be between 0 and 442");
    }
    if (options.despeckle < 0) throw Error("Speckle size must not be negative");
    if (options.NeedsClassMap() && copperCount > kMaxClasses) {
        throw Error("At most 255 colours can be traced with a tolerance or speckle removal");
    }
}

ColorMatcher::ColorMatcher(std::span<const uint32_t> copper, const MatchOptions& options)
    : ColorMatcher(copper, options, kNoClass) {}

ColorMatcher::ColorMatcher(std::span<const uint32_t> copper, const MatchOptions& options, uint8_t backgroundClass) {
    CheckMatchOptions(options, copper.size());
    // Exact matching takes any number of colours: the classes past the
    // last one a byte holds are shared by the rest.
    const size_t lastCopperClass = backgroundClass == kNoClass ? kMaxClasses : backgroundClass - 1u;
    limit_ = options.tolerance * options.tolerance + 1;
    auto add = [&](uint32_t color, uint8_t cls) {
        if (color > 0x00FFFFFFu) return;  // no pixel has this colour
        refs_.push_back(Reference{static_cast<int32_t>(color >> 16 & 0xFF), static_cast<int32_t>(color >> 8 & 0xFF),
                                  static_cast<int32_t>(color & 0xFF), cls});
    };
    for (size_t k = 0; k < copper.size(); ++k) add(copper[k], static_cast<uint8_t>(std::min(k + 1, lastCopperClass)));
    // A background colour that cannot win is left out: one equal to a
    // copper colour, or a repeat.
    const std::vector<uint32_t>& background = options.backgroundColors;
    for (size_t i = 0; i < background.size(); ++i) {
        const uint32_t color = background[i];
        if (std::find(copper.begin(), copper.end(), color) != copper.end()) continue;
        if (std::find(background.begin(), background.begin() + static_cast<std::ptrdiff_t>(i), color) !=
            background.begin() + static_cast<std::ptrdiff_t>(i)) {
            continue;
        }
        add(color, backgroundClass);
    }
    for (const Reference& ref : refs_) {
        if (ref.cls != kNoClass) {
            // The pixel's three bytes (blue, green, red) as one word.
            exactColors_.push_back(static_cast<uint32_t>(ref.b | ref.g << 8 | ref.r << 16));
            exactClasses_.push_back(ref.cls);
        }
        // Blue, green, red and 0 as four 16-bit lanes, then the class: the
        // vector kernel broadcasts each word as it is.
        packedRefs_.push_back(static_cast<uint64_t>(ref.b) | static_cast<uint64_t>(ref.g) << 16 |
                              static_cast<uint64_t>(ref.r) << 32);
        packedRefs_.push_back(ref.cls);
    }
}

uint8_t ColorMatcher::Classify(uint32_t color) const {
    const int32_t b = static_cast<int32_t>(color >> 16 & 0xFF), g = static_cast<int32_t>(color >> 8 & 0xFF),
                  r = static_cast<int32_t>(color & 0xFF);
    int32_t best = limit_;
    uint8_t cls = kNoClass;
    for (const Reference& ref : refs_) {
        const int32_t d = (b - ref.b) * (b - ref.b) + (g - ref.g) * (g - ref.g) + (r - ref.r) * (r - ref.r);
        if (d < best) {  // strictly nearer: on a tie the earlier colour stays
            best = d;
            cls = ref.cls;
        }
    }
    return cls;
}

namespace detail {
int matchKernels = kAllMatchKernels;
}  // namespace detail

namespace {

// Pixels per block of the row kernel: the best distances stay in L1.
constexpr int32_t kBlock = 256;

// One reference colour against a block of pixels, written so the compiler
// turns it into vector code: no branches, 32-bit lanes.
void NearerBlock(const uint8_t* __restrict p, int32_t count, int32_t rb, int32_t rg, int32_t rr, uint8_t cls,
                 int32_t* __restrict best, uint8_t* __restrict out) {
    for (int32_t i = 0; i < count; ++i) {
        const int32_t db = p[3 * i] - rb, dg = p[3 * i + 1] - rg, dr = p[3 * i + 2] - rr;
        const int32_t d = db * db + dg * dg + dr * dr;
        const bool nearer = d < best[i];
        best[i] = nearer ? d : best[i];
        out[i] = nearer ? cls : out[i];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define RASTRACE_MATCH_AVX2 1

// Eight pixels at a time with AVX2: each pixel's blue, green, red become
// 16-bit lanes (with a zero fourth lane), so one multiply-add gives
// dB² + dG² and dR² + 0, and one horizontal add the distance². Reads 32
// bytes from p: the caller keeps 11 pixels' bytes in reach. Returns the
// pixels done (a multiple of 8).
__attribute__((target("avx2"))) int32_t ClassifyAvx2(const uint8_t* p, int32_t width, const uint64_t* refs,
                                                     size_t refCount, int32_t limit, uint8_t* out) {
    // Low lane: bytes 0..15 (pixels 0..3 from byte 0); high lane: bytes 12..27 (pixels 4..7).
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i firstTwo = _mm256_setr_epi8(0, -1, 1, -1, 2, -1, -1, -1, 3, -1, 4, -1, 5, -1, -1, -1,  //
                                              0, -1, 1, -1, 2, -1, -1, -1, 3, -1, 4, -1, 5, -1, -1, -1);
    const __m256i lastTwo = _mm256_setr_epi8(6, -1, 7, -1, 8, -1, -1, -1, 9, -1, 10, -1, 11, -1, -1, -1,  //
                                             6, -1, 7, -1, 8, -1, -1, -1, 9, -1, 10, -1, 11, -1, -1, -1);
    const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                              0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i start = _mm256_set1_epi32(limit);
    int32_t x = 0;
    for (; x + 11 <= width; x += 8) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 3 * static_cast<size_t>(x)));
        v = _mm256_permutevar8x32_epi32(v, spread);
        const __m256i a = _mm256_shuffle_epi8(v, firstTwo);  // pixels 0, 1 | 4, 5
        const __m256i b = _mm256_shuffle_epi8(v, lastTwo);   // pixels 2, 3 | 6, 7
        __m256i best = start;
        __m256i cls = _mm256_setzero_si256();
        for (size_t k = 0; k < refCount; ++k) {
            const __m256i ref = _mm256_set1_epi64x(static_cast<long long>(refs[2 * k]));
            const __m256i da = _mm256_sub_epi16(a, ref);
            const __m256i db = _mm256_sub_epi16(b, ref);
            const __m256i d = _mm256_hadd_epi32(_mm256_madd_epi16(da, da), _mm256_madd_epi16(db, db));
            const __m256i nearer = _mm256_cmpgt_epi32(best, d);
            best = _mm256_min_epi32(best, d);
            cls = _mm256_blendv_epi8(cls, _mm256_set1_epi32(static_cast<int32_t>(refs[2 * k + 1])), nearer);
        }
        const __m256i packed = _mm256_shuffle_epi8(cls, lowBytes);
        const uint64_t bytes = static_cast<uint32_t>(_mm256_extract_epi32(packed, 0)) |
                               static_cast<uint64_t>(static_cast<uint32_t>(_mm256_extract_epi32(packed, 4))) << 32;
        __builtin_memcpy(out + x, &bytes, 8);
    }
    return x;
}

// Exact matching (tolerance 0) of eight pixels at a time: each pixel's
// three bytes become one 32-bit lane, compared with every copper colour
// from the last to the first, so the first equal colour is the one kept.
// Reads 32 bytes from p, as ClassifyAvx2. Returns the pixels done.
__attribute__((target("avx2"))) int32_t ClassifyExactAvx2(const uint8_t* p, int32_t width, const uint32_t* colors,
                                                          const uint8_t* classes, size_t count, uint8_t* out) {
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i widen = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                           0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                              0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    int32_t x = 0;
    for (; x + 11 <= width; x += 8) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 3 * static_cast<size_t>(x)));
        v = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(v, spread), widen);
        __m256i cls = _mm256_setzero_si256();
        for (size_t k = count; k-- > 0;) {
            const __m256i equal = _mm256_cmpeq_epi32(v, _mm256_set1_epi32(static_cast<int32_t>(colors[k])));
            cls = _mm256_blendv_epi8(cls, _mm256_set1_epi32(classes[k]), equal);
        }
        const __m256i packed = _mm256_shuffle_epi8(cls, lowBytes);
        const uint64_t bytes = static_cast<uint32_t>(_mm256_extract_epi32(packed, 0)) |
                               static_cast<uint64_t>(static_cast<uint32_t>(_mm256_extract_epi32(packed, 4))) << 32;
        __builtin_memcpy(out + x, &bytes, 8);
    }
    return x;
}

// The byte positions of one channel (0 blue, 1 green, 2 red) of 16
// pixels held in three 16-byte vectors: mask s picks, from vector s, the
// channel's bytes into their pixel positions (-1: none there).
struct ChannelMasks {
    alignas(16) int8_t masks[3][3][16] = {};
    constexpr ChannelMasks() {
        for (int c = 0; c < 3; ++c) {
            for (int s = 0; s < 3; ++s) {
                for (int pos = 0; pos < 16; ++pos) {
                    const int at = 3 * pos + c - 16 * s;
                    masks[c][s][pos] = at >= 0 && at < 16 ? static_cast<int8_t>(at) : -1;
                }
            }
        }
    }
};
constexpr ChannelMasks kChannelMasks;

// One channel of 16 pixels (v0..v2) as 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i Channel(__m128i v0, __m128i v1, __m128i v2, __m128i m0, __m128i m1,
                                                       __m128i m2) {
    return _mm256_cvtepu8_epi16(
        _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, m0), _mm_shuffle_epi8(v1, m1)), _mm_shuffle_epi8(v2, m2)));
}

// Sixteen pixels at a time with 16-bit lanes, for a tolerance of at most
// 255 (limit <= 65026): each channel's difference squared fits 16 bits
// unsigned, and their sum is added with unsigned saturation. A saturated
// sum is at least 65535 >= limit, so it never wins, and every sum below
// limit is exact: the result is the 32-bit rule's. Reads 48 bytes per 16
// pixels, never past the row. Returns the pixels done (a multiple of 16).
__attribute__((target("avx2"))) int32_t ClassifyAvx2Narrow(const uint8_t* p, int32_t width, const uint64_t* refs,
                                                           size_t refCount, int32_t limit, uint8_t* out) {
    auto mask = [](int c, int s) { return *reinterpret_cast<const __m128i*>(kChannelMasks.masks[c][s]); };
    const __m128i b0 = mask(0, 0), b1 = mask(0, 1), b2 = mask(0, 2);
    const __m128i g0 = mask(1, 0), g1 = mask(1, 1), g2 = mask(1, 2);
    const __m128i r0 = mask(2, 0), r1 = mask(2, 1), r2 = mask(2, 2);
    // Unsigned 16-bit order through signed compares: both sides biased by 0x8000.
    const __m256i bias = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
    const __m256i start = _mm256_xor_si256(_mm256_set1_epi16(static_cast<int16_t>(limit)), bias);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* q = p + 3 * static_cast<size_t>(x);
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 32));
        const __m256i pb = Channel(v0, v1, v2, b0, b1, b2), pg = Channel(v0, v1, v2, g0, g1, g2),
                      pr = Channel(v0, v1, v2, r0, r1, r2);
        __m256i best = start;
        __m256i cls = _mm256_setzero_si256();
        for (size_t k = 0; k < refCount; ++k) {
            const uint64_t ref = refs[2 * k];
            const __m256i db = _mm256_sub_epi16(pb, _mm256_set1_epi16(static_cast<int16_t>(ref & 0xFFFF)));
            const __m256i dg = _mm256_sub_epi16(pg, _mm256_set1_epi16(static_cast<int16_t>(ref >> 16 & 0xFFFF)));
            const __m256i dr = _mm256_sub_epi16(pr, _mm256_set1_epi16(static_cast<int16_t>(ref >> 32 & 0xFFFF)));
            const __m256i d = _mm256_adds_epu16(_mm256_adds_epu16(_mm256_mullo_epi16(db, db), _mm256_mullo_epi16(dg, dg)),
                                                _mm256_mullo_epi16(dr, dr));
            const __m256i biased = _mm256_xor_si256(d, bias);
            const __m256i nearer = _mm256_cmpgt_epi16(best, biased);  // strictly: a tie keeps the earlier colour
            best = _mm256_min_epi16(best, biased);
            cls = _mm256_blendv_epi8(cls, _mm256_set1_epi16(static_cast<int16_t>(refs[2 * k + 1])), nearer);
        }
        const __m128i packed = _mm_packus_epi16(_mm256_castsi256_si128(cls), _mm256_extracti128_si256(cls, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), packed);
    }
    return x;
}

// Bytes q..q+15 in the low 128-bit lane, q+48..q+63 in the high one.
__attribute__((target("avx2"))) inline __m256i LoadTwo(const uint8_t* q) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 48)), 1);
}

// One channel of 32 pixels (16 in each lane of v0..v2) as 16-bit lanes.
__attribute__((target("avx2,avx512f,avx512bw"))) inline __m512i Channel32(__m256i v0, __m256i v1, __m256i v2,
                                                                          __m256i m0, __m256i m1, __m256i m2) {
    return _mm512_cvtepu8_epi16(
        _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(v0, m0), _mm256_shuffle_epi8(v1, m1)), _mm256_shuffle_epi8(v2, m2)));
}

// The classes of 32 pixels whose channels pb, pg, pr are 16-bit lanes:
// the nearest reference below start, compared into masks.
__attribute__((target("avx2,avx512f,avx512bw"))) inline __m512i Nearest32(__m512i pb, __m512i pg, __m512i pr,
                                                                          const uint64_t* refs, size_t refCount,
                                                                          __m512i start) {
    __m512i best = start;
    __m512i cls = _mm512_setzero_si512();
    for (size_t k = 0; k < refCount; ++k) {
        const uint64_t ref = refs[2 * k];
        const __m512i db = _mm512_sub_epi16(pb, _mm512_set1_epi16(static_cast<int16_t>(ref & 0xFFFF)));
        const __m512i dg = _mm512_sub_epi16(pg, _mm512_set1_epi16(static_cast<int16_t>(ref >> 16 & 0xFFFF)));
        const __m512i dr = _mm512_sub_epi16(pr, _mm512_set1_epi16(static_cast<int16_t>(ref >> 32 & 0xFFFF)));
        const __m512i d = _mm512_adds_epu16(_mm512_adds_epu16(_mm512_mullo_epi16(db, db), _mm512_mullo_epi16(dg, dg)),
                                            _mm512_mullo_epi16(dr, dr));
        const __mmask32 nearer = _mm512_cmplt_epu16_mask(d, best);  // strictly: a tie keeps the earlier colour
        best = _mm512_min_epu16(best, d);
        cls = _mm512_mask_mov_epi16(cls, nearer, _mm512_set1_epi16(static_cast<int16_t>(refs[2 * k + 1])));
    }
    return cls;
}

// Byte 2w of the 16-bit lanes that hold channel c of 32 pixels: the byte
// of pixel w in the 96 bytes the pixels take.
struct ChannelIndex {
    alignas(64) uint8_t bytes[3][64] = {};
    constexpr ChannelIndex() {
        for (int c = 0; c < 3; ++c) {
            for (int w = 0; w < 32; ++w) bytes[c][2 * w] = static_cast<uint8_t>(3 * w + c);
        }
    }
};
constexpr ChannelIndex kChannelIndex;

// The classes of the 32 pixels at q (96 bytes, never more read).
__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"))) inline __m512i Nearest32Vbmi(const uint8_t* q,
                                                                                          const uint64_t* refs,
                                                                                          size_t refCount,
                                                                                          __m512i start) {
    constexpr __mmask64 kLowBytes = 0x5555555555555555ull;
    const __m512i lo = _mm512_loadu_si512(q), hi = _mm512_maskz_loadu_epi8(0xFFFFFFFFull, q + 64);
    const __m512i pb = _mm512_maskz_permutex2var_epi8(kLowBytes, lo, _mm512_load_si512(kChannelIndex.bytes[0]), hi);
    const __m512i pg = _mm512_maskz_permutex2var_epi8(kLowBytes, lo, _mm512_load_si512(kChannelIndex.bytes[1]), hi);
    const __m512i pr = _mm512_maskz_permutex2var_epi8(kLowBytes, lo, _mm512_load_si512(kChannelIndex.bytes[2]), hi);
    return Nearest32(pb, pg, pr, refs, refCount, start);
}

// The classes of ClassifyAvx512Narrow with AVX-512 VBMI: each channel of
// 32 pixels comes out of their 96 bytes in one byte permutation. Never
// reads past the row. Returns the pixels done (a multiple of 32).
__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"))) int32_t ClassifyAvx512Vbmi(const uint8_t* p, int32_t width,
                                                                                        const uint64_t* refs,
                                                                                        size_t refCount, int32_t limit,
                                                                                        uint8_t* out) {
    const __m512i start = _mm512_set1_epi16(static_cast<int16_t>(limit));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m512i cls = Nearest32Vbmi(p + 3 * static_cast<size_t>(x), refs, refCount, start);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, cls));
    }
    return x;
}

// ClassifyAvx512Vbmi's classes compared with value: the bits of 32 pixels a
// step, as 32-bit words into out. Returns the pixels done (a multiple of 32).
__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"))) int32_t MatchBitsAvx512Vbmi(
    const uint8_t* p, int32_t width, const uint64_t* refs, size_t refCount, int32_t limit, uint8_t value, uint8_t* out) {
    const __m512i start = _mm512_set1_epi16(static_cast<int16_t>(limit)), wanted = _mm512_set1_epi16(value);
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m512i cls = Nearest32Vbmi(p + 3 * static_cast<size_t>(x), refs, refCount, start);
        const uint32_t bits = _mm512_cmpeq_epi16_mask(cls, wanted);
        std::memcpy(out + x / 8, &bits, sizeof bits);
    }
    return x;
}

// The same with AVX-512 (BW): 32 pixels a step, compares into masks.
// Returns the pixels done (a multiple of 32).
__attribute__((target("avx2,avx512f,avx512bw"))) int32_t ClassifyAvx512Narrow(const uint8_t* p, int32_t width,
                                                                               const uint64_t* refs, size_t refCount,
                                                                               int32_t limit, uint8_t* out) {
    auto mask = [](int c, int s) { return *reinterpret_cast<const __m128i*>(kChannelMasks.masks[c][s]); };
    const __m256i b0 = _mm256_broadcastsi128_si256(mask(0, 0)), b1 = _mm256_broadcastsi128_si256(mask(0, 1)),
                  b2 = _mm256_broadcastsi128_si256(mask(0, 2));
    const __m256i g0 = _mm256_broadcastsi128_si256(mask(1, 0)), g1 = _mm256_broadcastsi128_si256(mask(1, 1)),
                  g2 = _mm256_broadcastsi128_si256(mask(1, 2));
    const __m256i r0 = _mm256_broadcastsi128_si256(mask(2, 0)), r1 = _mm256_broadcastsi128_si256(mask(2, 1)),
                  r2 = _mm256_broadcastsi128_si256(mask(2, 2));
    const __m512i start = _mm512_set1_epi16(static_cast<int16_t>(limit));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        // Pixels 0..15 in the low 128-bit lanes, 16..31 in the high ones.
        const uint8_t* q = p + 3 * static_cast<size_t>(x);
        const __m256i v0 = LoadTwo(q), v1 = LoadTwo(q + 16), v2 = LoadTwo(q + 32);
        const __m512i pb = Channel32(v0, v1, v2, b0, b1, b2), pg = Channel32(v0, v1, v2, g0, g1, g2),
                      pr = Channel32(v0, v1, v2, r0, r1, r2);
        const __m512i cls = Nearest32(pb, pg, pr, refs, refCount, start);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, cls));
    }
    return x;
}

// Byte j of the 32-bit lanes that hold sixteen pixels: lane j / 4 takes
// pixel j / 4's three bytes, its top byte is left to the mask.
struct SpreadPixels {
    alignas(64) int8_t bytes[64] = {};
    constexpr SpreadPixels() {
        for (int j = 0; j < 64; ++j) bytes[j] = static_cast<int8_t>(j % 4 < 3 ? 3 * (j / 4) + j % 4 : 0);
    }
};
constexpr SpreadPixels kSpreadPixels;

// Exact matching of sixteen pixels a step with AVX-512 (VBMI): one masked
// 48-byte load, each pixel's three bytes spread into a 32-bit lane, the
// colours compared into masks from the last to the first. Never reads past
// the row. Held colours (Held > 0) are broadcast once and stay in
// registers; with Held 0 any count is read as it comes. Returns the pixels
// done (a multiple of 16).
template <size_t Held>
__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"))) int32_t ExactAvx512(
    const uint8_t* p, int32_t width, const uint32_t* colors, const uint8_t* classes, size_t count, uint8_t* out) {
    const __m512i index = _mm512_load_si512(kSpreadPixels.bytes);
    constexpr __mmask64 kPixelBytes = 0x7777777777777777ull;  // bytes 0..2 of every lane
    constexpr __mmask64 kLoad = (__mmask64{1} << 48) - 1;
    __m512i heldColors[Held > 0 ? Held : 1], heldClasses[Held > 0 ? Held : 1];
    for (size_t k = 0; k < Held; ++k) {
        heldColors[k] = _mm512_set1_epi32(static_cast<int32_t>(colors[k]));
        heldClasses[k] = _mm512_set1_epi32(classes[k]);
    }
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m512i raw = _mm512_maskz_loadu_epi8(kLoad, p + 3 * static_cast<size_t>(x));
        const __m512i v = _mm512_maskz_permutexvar_epi8(kPixelBytes, index, raw);
        __m512i cls = _mm512_setzero_si512();
        if constexpr (Held > 0) {
            for (size_t k = Held; k-- > 0;) {
                cls = _mm512_mask_mov_epi32(cls, _mm512_cmpeq_epi32_mask(v, heldColors[k]), heldClasses[k]);
            }
        } else {
            for (size_t k = count; k-- > 0;) {
                const __mmask16 equal = _mm512_cmpeq_epi32_mask(v, _mm512_set1_epi32(static_cast<int32_t>(colors[k])));
                cls = _mm512_mask_mov_epi32(cls, equal, _mm512_set1_epi32(classes[k]));
            }
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm512_maskz_cvtepi32_epi8(0xFFFF, cls));
    }
    return x;
}

int32_t ClassifyExactAvx512(const uint8_t* p, int32_t width, const uint32_t* colors, const uint8_t* classes,
                            size_t count, uint8_t* out) {
    switch (count) {
        case 1: return ExactAvx512<1>(p, width, colors, classes, count, out);
        case 2: return ExactAvx512<2>(p, width, colors, classes, count, out);
        case 3: return ExactAvx512<3>(p, width, colors, classes, count, out);
        case 4: return ExactAvx512<4>(p, width, colors, classes, count, out);
        case 5: return ExactAvx512<5>(p, width, colors, classes, count, out);
        case 6: return ExactAvx512<6>(p, width, colors, classes, count, out);
        case 7: return ExactAvx512<7>(p, width, colors, classes, count, out);
        case 8: return ExactAvx512<8>(p, width, colors, classes, count, out);
        default: return ExactAvx512<0>(p, width, colors, classes, count, out);
    }
}

bool HaveAvx512Vbmi() {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vbmi");
    return have;
}

bool HaveAvx512() {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return have;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

}  // namespace

bool ColorMatcher::ExactRowsBeatTheScan() {
#ifdef RASTRACE_MATCH_AVX2
    return HaveAvx512Vbmi() && detail::matchKernels > 2;
#else
    return false;
#endif
}

bool ColorMatcher::HasBitKernel() const {
#ifdef RASTRACE_MATCH_AVX2
    return limit_ > 1 && limit_ <= 255 * 255 + 1 && HaveAvx512Vbmi() && detail::matchKernels > 3;
#else
    return false;
#endif
}

void ColorMatcher::MatchBits(const uint8_t* pixels, int32_t width, uint8_t value, uint64_t* bits) const {
    const auto words = static_cast<size_t>(std::max(width, 0) + 63) / 64;
    std::fill_n(bits, words, uint64_t{0});
    int32_t done = 0;
#ifdef RASTRACE_MATCH_AVX2
    if (HasBitKernel()) {
        done = MatchBitsAvx512Vbmi(pixels, width, packedRefs_.data(), refs_.size(), limit_, value,
                                   reinterpret_cast<uint8_t*>(bits));
    }
#endif
    for (int32_t x = done; x < width; ++x) {
        if (Classify(PackColor(pixels + 3 * static_cast<size_t>(x))) == value) bits[x / 64] |= uint64_t{1} << (x % 64);
    }
}

void ColorMatcher::ClassifyRow(const uint8_t* pixels, int32_t width, uint8_t* out) const {
    int32_t done = 0;
#ifdef RASTRACE_MATCH_AVX2
    if (HaveAvx2() && detail::matchKernels > 1 && limit_ == 1) {
        // Tolerance 0: equality, which a background colour never wins.
        if (HaveAvx512Vbmi() && detail::matchKernels > 2) {
            done = ClassifyExactAvx512(pixels, width, exactColors_.data(), exactClasses_.data(), exactColors_.size(), out);
        }
        done += ClassifyExactAvx2(pixels + 3 * static_cast<size_t>(done), width - done, exactColors_.data(),
                                  exactClasses_.data(), exactColors_.size(), out + done);
        for (int32_t x = done; x < width; ++x) out[x] = Classify(PackColor(pixels + 3 * static_cast<size_t>(x)));
        return;
    }
    if (HaveAvx2() && detail::matchKernels > 1) {
        if (limit_ <= 255 * 255 + 1) {
            if (HaveAvx512Vbmi() && detail::matchKernels > 3) {
                done = ClassifyAvx512Vbmi(pixels, width, packedRefs_.data(), refs_.size(), limit_, out);
            } else if (HaveAvx512() && detail::matchKernels > 2) {
                done = ClassifyAvx512Narrow(pixels, width, packedRefs_.data(), refs_.size(), limit_, out);
            }
            done += ClassifyAvx2Narrow(pixels + 3 * static_cast<size_t>(done), width - done, packedRefs_.data(),
                                       refs_.size(), limit_, out + done);
        } else {
            done = ClassifyAvx2(pixels, width, packedRefs_.data(), refs_.size(), limit_, out);
        }
        for (int32_t x = done; x < width; ++x) out[x] = Classify(PackColor(pixels + 3 * static_cast<size_t>(x)));
        return;
    }
#endif
    int32_t best[kBlock];
    for (int32_t x = done; x < width; x += kBlock) {
        const int32_t count = std::min(kBlock, width - x);
        std::fill_n(best, count, limit_);
        std::fill_n(out + x, count, kNoClass);
        for (const Reference& ref : refs_) {
            NearerBlock(pixels + 3 * static_cast<size_t>(x), count, ref.b, ref.g, ref.r, ref.cls, best, out + x);
        }
    }
}

namespace {

// Calls work(first, end) for bands of rows first..end-1 covering height
// rows, taken in turn from a shared counter over threads threads (the
// calling thread and helpers); the calling thread checks for a stop
// between its bands and tells the helpers through abandon. Rethrows the
// caller's exception once every helper has ended.
template <class Work>
void ForRowBands(int32_t height, int threads, const std::function<void()>& checkStop, Work&& work) {
    if (height <= 0) return;
    constexpr int32_t kBandRows = 64;
    std::atomic<int32_t> next{0};
    std::atomic<bool> abandon{false};
    std::exception_ptr helperError;
    std::mutex errorMutex;
    auto run = [&](bool caller) {
        while (!abandon.load(std::memory_order_relaxed)) {
            if (caller && checkStop) checkStop();
            const int32_t first = next.fetch_add(kBandRows);
            if (first >= height) return;
            try {
                work(first, std::min(height, first + kBandRows));
            } catch (...) {
                if (caller) throw;
                abandon = true;
                std::lock_guard lock(errorMutex);
                if (!helperError) helperError = std::current_exception();
                return;
            }
        }
    };
    std::vector<std::thread> helpers;
    const int extra = std::clamp(threads, 1, 16) - 1;
    try {
        for (int i = 0; i < extra && static_cast<int64_t>(i + 1) * kBandRows < height; ++i) {
            helpers.emplace_back(run, false);
        }
    } catch (const std::system_error&) {
        // Fewer helpers: the calling thread does their share.
    }
    try {
        run(true);
    } catch (...) {
        abandon = true;
        for (std::thread& t : helpers) t.join();
        throw;
    }
    for (std::thread& t : helpers) t.join();
    if (helperError) std::rethrow_exception(helperError);
}

uint64_t MemoryLimit(const MatchOptions& options) {
    return options.memoryLimit ? *options.memoryLimit : MemoryAvailableNow();
}

// The runs of raster's classes before speckle removal: rows matched into a
// row buffer and cut into runs while they are in cache, in bands of rows
// on threads threads, joined in row order.
ClassRuns MatchedRuns(const Raster& raster, const ColorMatcher& matcher, uint64_t memoryLimit, int threads,
                      const std::function<void()>& checkStop) {
    const int32_t width = raster.Width(), height = raster.Height();
    ClassRuns runs;
    runs.width = width;
    if (height <= 0) return runs;
    std::vector<ClassRuns> bands(static_cast<size_t>((height + 63) / 64));
    std::atomic<uint64_t> count{0};
    ForRowBands(height, threads, checkStop, [&](int32_t first, int32_t end) {
        std::vector<uint8_t> classes(static_cast<size_t>(width));
        ClassRuns& band = bands[static_cast<size_t>(first / 64)];
        band.width = width;
        for (int32_t y = first; y < end; ++y) {
            matcher.ClassifyRow(raster.RowBytes(y).data(), width, classes.data());
            detail::AppendRowRuns(classes.data(), width, band);
        }
        const uint64_t total = count.fetch_add(band.spans.size()) + band.spans.size();
        if (total > detail::ClassRunsWithin(memoryLimit)) ThrowOutOfMemory();
    });
    runs.spans.reserve(count.load());
    runs.rowStart.reserve(static_cast<size_t>(height) + 1);
    for (ClassRuns& band : bands) {
        detail::AppendRuns(runs, band);
        band = ClassRuns();
    }
    return runs;
}

// Writes runs into map, of the same size.
void Paint(const ClassRuns& runs, ClassMap& map) {
    for (int32_t y = 0; y < map.Height(); ++y) {
        uint8_t* row = map.Row(y);
        for (const ClassRun& run : runs.Row(y)) std::memset(row + run.start, run.cls, static_cast<size_t>(run.end - run.start));
    }
}

}  // namespace

ClassRuns BuildClassRuns(const Raster& raster, std::span<const uint32_t> copper, const MatchOptions& options,
                         int threads, const std::function<void()>& checkStop) {
    const ColorMatcher matcher(copper, options);
    ClassRuns runs = MatchedRuns(raster, matcher, MemoryLimit(options), threads, checkStop);
    if (options.despeckle > 1) Despeckle(runs, options.despeckle, checkStop, threads);
    return runs;
}

ClassMap MapOfRuns(const ClassRuns& runs, uint64_t memoryLimit) {
    ClassMap map = ClassMap::Unset(runs.width, runs.Height(), memoryLimit);  // the runs tile every row
    Paint(runs, map);
    return map;
}

ClassMap BuildClassMap(const Raster& raster, std::span<const uint32_t> copper, const MatchOptions& options,
                       int threads, const std::function<void()>& checkStop) {
    const ColorMatcher matcher(copper, options);
    ClassMap map = ClassMap::Unset(raster.Width(), raster.Height(), MemoryLimit(options));  // every row is written below
    if (options.despeckle > 1) {
        // Matched into runs, despeckled there, and the map written once.
        ClassRuns runs = MatchedRuns(raster, matcher, MemoryLimit(options), threads, checkStop);
        Despeckle(runs, options.despeckle, checkStop, threads);
        Paint(runs, map);
        return map;
    }
    ForRowBands(map.Height(), threads, checkStop, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; ++y) matcher.ClassifyRow(raster.RowBytes(y).data(), map.Width(), map.Row(y));
    });
    return map;
}

SharedClassMap::SharedClassMap(std::shared_ptr<const Raster> raster, std::vector<uint32_t> copper,
                               MatchOptions options)
    : raster_(std::move(raster)), copper_(std::move(copper)), options_(std::move(options)) {}

void SharedClassMap::Build(const std::function<void()>& checkStop) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return state_ != State::Building; });
    if (state_ == State::Built) return;
    if (state_ == State::Failed) std::rethrow_exception(error_);
    state_ = State::Building;
    lock.unlock();
    try {
        if (options_.despeckle > 1) {
            ClassRuns runs = BuildClassRuns(*raster_, copper_, options_, 2, checkStop);
            lock.lock();
            runs_ = std::move(runs);
        } else {
            ClassMap map = BuildClassMap(*raster_, copper_, options_, 2, checkStop);
            lock.lock();
            map_ = std::move(map);
        }
        state_ = State::Built;
    } catch (...) {
        if (!lock.owns_lock()) lock.lock();
        error_ = std::current_exception();
        state_ = State::Failed;
    }
    lock.unlock();
    changed_.notify_all();
    if (error_) std::rethrow_exception(error_);
}

const ClassMap& SharedClassMap::Get(const std::function<void()>& checkStop) {
    Build(checkStop);
    if (options_.despeckle > 1) {
        std::lock_guard lock(mutex_);
        if (!mapFromRuns_) {
            map_ = MapOfRuns(runs_, MemoryLimit(options_));
            mapFromRuns_ = true;
        }
    }
    return map_;
}

}  // namespace rastrace
