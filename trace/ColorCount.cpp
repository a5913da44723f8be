#include "trace/ColorCount.h"

#include "raster/BandPipeline.h"

#include <algorithm>

namespace rastrace {

namespace {

// Open addressing from packed colour to its place in the list: a noisy scan
// has tens of thousands of colours and millions of runs, so the look-up is
// the hot path.
class ColorIndexTable {
public:
    ColorIndexTable() : slots_(kInitialSlots, kEmpty) {}

    // The place of color in counts, adding it at the end when new.
    size_t Find(uint32_t color, std::vector<ColorCount>& counts) {
        size_t i = Hash(color);
        for (;;) {
            const uint32_t slot = slots_[i];
            if (slot == kEmpty) break;
            if (counts[slot].color == color) return slot;
            i = (i + 1) & (slots_.size() - 1);
        }
        const auto place = static_cast<uint32_t>(counts.size());
        counts.push_back(ColorCount{color, 0});
        slots_[i] = place;
        if (counts.size() * 2 > slots_.size()) Grow(counts);
        return place;
    }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    static constexpr size_t kInitialSlots = 1024;

    size_t Hash(uint32_t color) const {
        return static_cast<size_t>((color * 0x9E3779B1u) >> 8) & (slots_.size() - 1);
    }

    void Grow(const std::vector<ColorCount>& counts) {
        slots_.assign(slots_.size() * 2, kEmpty);
        for (uint32_t place = 0; place < counts.size(); ++place) {
            size_t i = Hash(counts[place].color);
            while (slots_[i] != kEmpty) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = place;
        }
    }

    std::vector<uint32_t> slots_;
};

}  // namespace

class ColorCounter::Index : public ColorIndexTable {};

ColorCounter::ColorCounter() : index_(std::make_unique<Index>()) {}
ColorCounter::~ColorCounter() = default;

void ColorCounter::AddRow(const uint8_t* p, int32_t width, uint64_t times) {
    int32_t x = 0;
    while (x < width) {
        // Neighbouring pixels mostly share a colour: count a whole run
        // with one look-up.
        const uint32_t color = PackColor(p + 3 * static_cast<size_t>(x));
        int32_t end = x + 1;
        while (end < width && PackColor(p + 3 * static_cast<size_t>(end)) == color) ++end;
        counts_[index_->Find(color, counts_)].pixels += static_cast<uint64_t>(end - x) * times;
        x = end;
    }
}

void ColorCounter::Add(const std::vector<ColorCount>& counts) {
    for (const ColorCount& c : counts) counts_[index_->Find(c.color, counts_)].pixels += c.pixels;
}

std::vector<ColorCount> ColorCounter::Take() {
    index_ = std::make_unique<Index>();
    return std::move(counts_);
}

std::vector<ColorCount> CountColors(PictureRows& rows, int threads, const std::function<void(int32_t)>& progress) {
    threads = std::max(threads, 1);
    // Two bands a worker between read and take; each band's colours are
    // counted by its worker alone and merged here in band order, which
    // keeps the order of first appearance.
    const size_t slots = 2 * static_cast<size_t>(threads);
    std::vector<ColorCounter> counters(static_cast<size_t>(threads));
    std::vector<std::vector<ColorCount>> found(slots);
    ColorCounter total;
    RunBands(
        rows, threads, BandRowsFor(rows, 0), slots,
        [&](int worker, const Band& band, const uint8_t* first, ptrdiff_t stride) {
            ColorCounter& counter = counters[static_cast<size_t>(worker)];
            if (band.repeated) {
                counter.AddRow(first, rows.Width(), static_cast<uint64_t>(band.count));
            } else {
                for (int32_t i = 0; i < band.count; ++i) counter.AddRow(first + i * stride, rows.Width());
            }
            found[band.slot] = counter.Take();
        },
        [&](const Band& band) {
            total.Add(found[band.slot]);
            if (progress) progress(band.count);
        });
    rows.CheckUnchanged();
    return total.Take();
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
