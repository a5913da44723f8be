// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace/ColorCount.h"

#include "raster/BandPipeline.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rastrace {

namespace {

// A pixel's three bytes as one little-endian word (blue in the low byte),
// and back and forth to the packed colour (red in the low byte).
uint32_t RawPixel(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
}
constexpr uint32_t kNoRaw = 0xFFFFFFFFu;  // no pixel's word: its top byte is set
uint32_t RawToPacked(uint32_t raw) { return (raw & 0xFFu) << 16 | (raw & 0xFF00u) | raw >> 16; }

}  // namespace

// Open addressing from a pixel's word to its place in the list: a noisy
// scan has tens of thousands of colours and millions of runs, so the
// look-up is the hot path. Each slot holds the word beside the place, so
// a look-up reads one slot.
class ColorCounter::Index {
public:
    Index() : slots_(kInitialSlots) {}

    // The place of raw in counts, adding it at the end when new.
    size_t Find(uint32_t raw, std::vector<ColorCount>& counts) {
        size_t i = Hash(raw);
        for (;;) {
            const Slot slot = slots_[i];
            if (slot.raw == raw) return slot.place;
            if (slot.raw == kNoRaw) break;
            i = (i + 1) & (slots_.size() - 1);
        }
        const auto place = static_cast<uint32_t>(counts.size());
        counts.push_back(ColorCount{raw, 0});
        slots_[i] = Slot{raw, place};
        if (counts.size() * 2 > slots_.size()) Grow(counts);
        return place;
    }

    // Empty again, and small again.
    void Clear() { slots_.assign(kInitialSlots, Slot{}); }
    // Empty again for about as many colours as it held: it keeps its size,
    // unless that is far more than they needed (so that one part of many
    // colours does not make emptying it cost much for every part after).
    void Empty(size_t colours) {
        if (slots_.size() > kInitialSlots && slots_.size() > 8 * colours) {
            Clear();
        } else {
            std::fill(slots_.begin(), slots_.end(), Slot{});
        }
    }

private:
    struct Slot {
        uint32_t raw = kNoRaw;
        uint32_t place = 0;
    };
    static constexpr size_t kInitialSlots = 1024;

    size_t Hash(uint32_t raw) const { return static_cast<size_t>((raw * 0x9E3779B1u) >> 8) & (slots_.size() - 1); }

    void Grow(const std::vector<ColorCount>& counts) {
        slots_.assign(slots_.size() * 2, Slot{});
        for (uint32_t place = 0; place < counts.size(); ++place) {
            size_t i = Hash(counts[place].color);
            while (slots_[i].raw != kNoRaw) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = Slot{counts[place].color, place};
        }
    }

    std::vector<Slot> slots_;
};

// counts_ holds raw pixel words until Take turns them into colours.
ColorCounter::ColorCounter() : partIndex_(std::make_unique<Index>()), index_(std::make_unique<Index>()) {}
ColorCounter::~ColorCounter() = default;

namespace {

// The last pixel of the run of pixels equal to pixel x (of width). Five
// pixels a step, each pixel's bytes against the next one's, while 19 bytes
// are left in the row; then pixel by pixel.
int32_t RunEnd(const uint8_t* p, int32_t x, int32_t width) {
    int32_t end = x;
#if defined(__SSE2__)
    for (const int32_t wide = width - 7; end <= wide; end += 5) {
        const uint8_t* at = p + 3 * static_cast<size_t>(end);
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 3));
        const auto differ = static_cast<uint32_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(here, next))) & 0x7FFFu;
        if (differ != 0) return end + std::countr_zero(differ) / 3;
    }
#endif
    const uint32_t raw = RawPixel(p + 3 * static_cast<size_t>(x));
    while (end + 1 < width && RawPixel(p + 3 * static_cast<size_t>(end + 1)) == raw) ++end;
    return end;
}

}  // namespace

void ColorCounter::AddRow(const uint8_t* p, int32_t width, uint64_t times) {
    // Neighbouring pixels mostly share a colour: a whole run is counted
    // with one look-up.
    for (int32_t x = 0; x < width;) {
        const int32_t end = RunEnd(p, x, width);
        const size_t place = partIndex_->Find(RawPixel(p + 3 * static_cast<size_t>(x)), partCounts_);
        partCounts_[place].pixels += static_cast<uint64_t>(end + 1 - x) * times;
        x = end + 1;
    }
}

size_t ColorCounter::Place(uint32_t raw) {
    const size_t before = counts_.size();
    const size_t place = index_->Find(raw, counts_);
    if (counts_.size() != before) firstSeen_.push_back(part_ | newInPart_++);
    return place;
}

void ColorCounter::FlushPart() {
    for (const ColorCount& c : partCounts_) counts_[Place(c.color)].pixels += c.pixels;
    partIndex_->Empty(partCounts_.size());
    partCounts_.clear();
}

void ColorCounter::StartPart(int32_t part) {
    FlushPart();
    part_ = static_cast<uint64_t>(static_cast<uint32_t>(part)) << 32;
    newInPart_ = 0;
}

std::vector<ColorCount> ColorCounter::Take() {
    FlushPart();
    partIndex_->Clear();
    index_->Clear();
    std::vector<ColorCount> counts = std::move(counts_);
    counts_.clear();
    firstSeen_.clear();
    for (ColorCount& c : counts) c.color = RawToPacked(c.color);
    return counts;
}

std::vector<ColorCount> ColorCounter::TakeMerged(std::vector<ColorCounter>& counters) {
    if (counters.size() == 1) return counters[0].Take();
    // One table of every counter's colours: counts summed, each colour
    // first seen where its earliest counter first saw it.
    ColorCounter all;
    for (ColorCounter& counter : counters) {
        counter.FlushPart();
        for (size_t i = 0; i < counter.counts_.size(); ++i) {
            const size_t before = all.counts_.size();
            const size_t place = all.index_->Find(counter.counts_[i].color, all.counts_);
            if (all.counts_.size() != before) {
                all.firstSeen_.push_back(counter.firstSeen_[i]);
            } else {
                all.firstSeen_[place] = std::min(all.firstSeen_[place], counter.firstSeen_[i]);
            }
            all.counts_[place].pixels += counter.counts_[i].pixels;
        }
        counter.Take();
    }
    std::vector<uint32_t> order(all.counts_.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return all.firstSeen_[a] < all.firstSeen_[b]; });
    std::vector<ColorCount> counts;
    counts.reserve(order.size());
    for (const uint32_t i : order) counts.push_back(ColorCount{RawToPacked(all.counts_[i].color), all.counts_[i].pixels});
    return counts;
}

std::vector<ColorCount> CountColors(PictureRows& rows, int threads, const std::function<void(int32_t)>& progress,
                                    int32_t bandRows) {
    threads = std::max(threads, 1);
    // Two bands a worker between read and take. Each worker counts its
    // bands in one table, noting in which band (and where among the band's
    // new colours) each colour first came; the tables are merged at the end
    // in that order, which is the order of first appearance.
    const size_t slots = 2 * static_cast<size_t>(threads);
    std::vector<ColorCounter> counters(static_cast<size_t>(threads));
    RunBands(
        rows, threads, BandRowsFor(rows, bandRows), slots,
        [&](int worker, const Band& band, const uint8_t* first, ptrdiff_t stride) {
            ColorCounter& counter = counters[static_cast<size_t>(worker)];
            counter.StartPart(band.first);
            if (band.repeated) {
                counter.AddRow(first, rows.Width(), static_cast<uint64_t>(band.count));
            } else {
                for (int32_t i = 0; i < band.count; ++i) counter.AddRow(first + i * stride, rows.Width());
            }
        },
        [&](const Band& band) {
            if (progress) progress(band.count);
        });
    rows.CheckUnchanged();
    return ColorCounter::TakeMerged(counters);
}

std::vector<ColorCount> CountColors(const Raster& raster) { return CountColors(raster, {}); }

std::vector<ColorCount> CountColors(const Raster& raster, const std::function<void(int32_t rowsDone)>& progress) {
    ColorCounter counter;
    const int32_t interval = std::max<int32_t>(1, raster.Height() / 100);
    for (int32_t y = 0; y < raster.Height(); ++y) {
        if (progress && y > 0 && y % interval == 0) progress(y);
        counter.AddRow(raster.RowBytes(y).data(), raster.Width());
    }
    if (progress) progress(raster.Height());
    return counter.Take();
}

}  // namespace rastrace
