#include "trace/RowTracer.h"

#include "common/Error.h"
#include "raster/BandPipeline.h"

#include <algorithm>

namespace rastrace {

namespace {

// Exact matching of one colour needs no classes: the pixel kernel finds
// its runs in the row itself, unless classifying the row and scanning the
// classes is faster here. A colour with its top byte set is no pixel's
// colour; the class path leaves it out of the matcher, so it matches nothing.
bool ScansPixelsDirectly(std::span<const uint32_t> copper, const MatchOptions& options) {
    return copper.size() == 1 && !options.NeedsClassMap() && copper[0] <= 0x00FFFFFFu &&
           !ColorMatcher::ExactRowsBeatTheScan();
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

void RowTracer::CopperSpans(const uint8_t* pixels, std::vector<Span>& runs) {
    runs.clear();
    if (width_ == 0 || copper_.empty()) return;
    if (!matcher_) {
        // The kernel ends a run that reaches the last column at the last
        // column itself; the half-open end is one further then.
        const int32_t last = width_ - 1;
        const bool lastIsColor = PackColor(pixels + 3 * static_cast<size_t>(last)) == copper_[0];
        detail::ScanRow(pixels, width_, copper_[0], [&](int32_t s, int32_t e) {
            runs.push_back(Span{s, e == last && lastIsColor ? width_ : e});
        });
        return;
    }
    matcher_->ClassifyRow(pixels, width_, classes_.data());
    CopperClassSpans(classes_.data(), runs);
}

void RowTracer::CopperClassSpans(const uint8_t* classes, std::vector<Span>& runs) const {
    runs.clear();
    if (width_ == 0) return;
    const int32_t last = width_ - 1;
    TraceClassRow(classes, [&](size_t k, int32_t s, int32_t e) {
        runs.push_back(Span{s, e == last && classes[last] == k + 1 ? width_ : e});
    });
    if (copper_.size() > 1) {
        std::sort(runs.begin(), runs.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    }
}

ClassRuns ClassifyRows(PictureRows& rows, std::span<const uint32_t> copper, const MatchOptions& options, int threads,
                       int32_t bandRows) {
    // What a run costs while speckle removal works on it: the run and its
    // union-find entries.
    constexpr uint64_t kRunBytes = sizeof(ClassRun) + 9;
    const uint64_t limit = options.memoryLimit.value_or(MemoryAvailableNow());
    const int32_t width = rows.Width();
    ClassRuns runs;
    runs.width = width;
    threads = std::max(threads, 1);
    std::vector<RowTracer> tracers;
    std::vector<std::vector<uint8_t>> classes(static_cast<size_t>(threads), std::vector<uint8_t>(static_cast<size_t>(width)));
    for (int w = 0; w < threads; ++w) tracers.emplace_back(width, copper, options);
    const size_t slots = 2 * static_cast<size_t>(threads);
    std::vector<ClassRuns> found(slots);
    RowDespeckler despeckler(options.despeckle, rows.Height());
    RunBands(
        rows, threads, BandRowsFor(rows, bandRows), slots,
        [&](int worker, const Band& band, const uint8_t* first, ptrdiff_t stride) {
            ClassRuns& part = found[band.slot];
            part = ClassRuns();
            part.width = width;
            uint8_t* row = classes[static_cast<size_t>(worker)].data();
            for (int32_t i = 0; i < band.count; ++i) {
                tracers[static_cast<size_t>(worker)].ClassifyRow(first + i * stride, row);
                detail::AppendRowRuns(row, width, part);
            }
        },
        [&](const Band& band) {
            const ClassRuns& part = found[band.slot];
            if (band.first == 0) {
                // Room for as many runs as the first band's share foretells,
                // and a quarter more, so the runs are seldom moved.
                const uint64_t expected = part.spans.size() * (static_cast<uint64_t>(rows.Height()) / static_cast<uint64_t>(band.count) + 1) / 4 * 5;
                runs.spans.reserve(static_cast<size_t>(std::min(expected, limit / kRunBytes)));
                runs.rowStart.reserve(static_cast<size_t>(rows.Height()) + 1);
            }
            detail::AppendRuns(runs, part);
            if (runs.spans.size() > limit / kRunBytes) ThrowOutOfMemory();
            despeckler.AddRows(runs, band.first + band.count);  // while the workers match the next bands
        });
    rows.CheckUnchanged();
    despeckler.Finish(runs);
    return runs;
}

}  // namespace rastrace
