#include "trace/RowTracer.h"

#include <algorithm>

namespace rastrace {

namespace {

// Exact matching of one colour needs no classes: the pixel kernel finds
// its runs in the row itself. A colour with its top byte set is no pixel's
// colour; the class path leaves it out of the matcher, so it matches nothing.
bool ScansPixelsDirectly(std::span<const uint32_t> copper, const MatchOptions& options) {
    return copper.size() == 1 && !options.NeedsClassMap() && copper[0] <= 0x00FFFFFFu;
}

}  // namespace

RowTracer::RowTracer(int32_t width, std::span<const uint32_t> copper, const MatchOptions& options)
    : width_(width), copper_(copper.begin(), copper.end()) {
    CheckMatchOptions(options, copper.size());
    if (!ScansPixelsDirectly(copper, options)) {
        // Exact matching of several colours is the rule at tolerance 0:
        // each pixel goes to the first colour equal to it.
        MatchOptions exact = options;
        exact.despeckle = 0;
        matcher_.emplace(copper, exact);
        classes_.resize(static_cast<size_t>(width));
    }
}

void RowTracer::ClassifyRow(const uint8_t* pixels, uint8_t* out) const {
    if (width_ == 0) return;
    if (matcher_) {
        matcher_->ClassifyRow(pixels, width_, out);
        return;
    }
    std::fill(out, out + width_, kNoClass);
    detail::ScanRow(pixels, width_, copper_[0], [&](int32_t s, int32_t e) {
        // A run that reaches the last column ends at it, inclusive.
        const int32_t end = e == width_ - 1 && PackColor(pixels + 3 * static_cast<size_t>(e)) == copper_[0] ? width_ : e;
        for (int32_t x = s; x < end; ++x) out[x] = 1;
    });
}

}  // namespace rastrace
