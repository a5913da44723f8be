// SPDX-License-Identifier: GPL-3.0-or-later
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
    if (ScansPixelsDirectly(copper, options)) return;
    // Several colours matched exactly are the rule at tolerance 0 (each
    // pixel goes to the first colour equal to it); past the classes a byte
    // holds they go in further groups, which CheckMatchOptions allows only
    // for exact matching, where no two groups claim one pixel.
    MatchOptions rule = options;
    rule.despeckle = 0;
    for (size_t first = 0; first < copper.size(); first += kMaxClasses) {
        groups_.emplace_back(copper.subspan(first, std::min(kMaxClasses, copper.size() - first)), rule);
    }
    classes_.resize(static_cast<size_t>(width));
    if (copper.size() == 1 && groups_[0].HasBitKernel()) bits_.resize(static_cast<size_t>(width + 63) / 64);
}

void RowTracer::CopperSpans(const uint8_t* pixels, std::vector<Span>& runs) {
    runs.clear();
    if (width_ == 0 || copper_.empty()) return;
    // The kernels end a run that reaches the last column at the last
    // column itself; the half-open end is one further then.
    const int32_t last = width_ - 1;
    if (groups_.empty()) {
        const bool lastIsColor = PackColor(pixels + 3 * static_cast<size_t>(last)) == copper_[0];
        detail::ScanRow(pixels, width_, copper_[0], [&](int32_t s, int32_t e) {
            runs.push_back(Span{s, e == last && lastIsColor ? width_ : e});
        });
        return;
    }
    for (size_t g = 0; g < groups_.size(); ++g) {
        groups_[g].ClassifyRow(pixels, width_, classes_.data());
        TraceClassRow(classes_.data(), g, [&](size_t k, int32_t s, int32_t e) {
            runs.push_back(Span{s, e == last && classes_[static_cast<size_t>(last)] == k - g * kMaxClasses + 1 ? width_ : e});
        });
    }
    if (copper_.size() > 1) {
        std::sort(runs.begin(), runs.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    }
}

ClassRuns ClassifyRows(PictureRows& rows, std::span<const uint32_t> copper, const MatchOptions& options, int threads,
                       int32_t bandRows, const FinalRowsStep& onFinal, std::vector<uint64_t>* matchedPixels) {
    // Each run held also has its entry in the despeckler's table of holes.
    const uint64_t most = detail::ClassRunsWithin(options.memoryLimit.value_or(MemoryAvailableNow()), sizeof(uint32_t));
    const int32_t width = rows.Width();
    const ColorMatcher matcher(copper, options);
    ClassRuns runs;
    runs.width = width;
    threads = std::max(threads, 1);
    std::vector<std::vector<uint8_t>> classes(static_cast<size_t>(threads), std::vector<uint8_t>(static_cast<size_t>(width)));
    // Four bands a worker between read and take: the take's work (joining
    // the band, deciding speckles, handing rows on) comes in bursts, and
    // the workers go on meanwhile.
    const size_t slots = 4 * static_cast<size_t>(threads);
    std::vector<ClassRuns> found(slots);
    // Each band's regions are labelled by its worker; the bands are joined
    // as they are taken.
    std::vector<detail::RegionTable> labels(slots);
    // Each band's matched pixels a colour, before speckle removal.
    std::vector<std::vector<uint64_t>> matched(matchedPixels != nullptr ? slots : 0,
                                               std::vector<uint64_t>(copper.size()));
    if (matchedPixels != nullptr) matchedPixels->assign(copper.size(), 0);
    const bool despeckle = options.despeckle > 1;
    RowDespeckler despeckler(options.despeckle, rows.Height());
    int32_t given = 0;  // rows handed to onFinal
    // Rows handed on are let go of: the runs held are those speckle
    // removal still needs, a few times its size in rows. They go once they
    // are as many as the rows that stay, so each run is moved about once.
    auto handOn = [&] {
        if (!onFinal) return;
        if (despeckler.FinalRows() > given) onFinal(runs, given, despeckler.FinalRows());
        given = despeckler.FinalRows();
        if (given - runs.firstRow >= runs.Height() - given) despeckler.Discard(runs, given);
    };
    RunBands(
        rows, threads, BandRowsFor(rows, bandRows), slots,
        [&](int worker, const Band& band, const uint8_t* first, ptrdiff_t stride) {
            ClassRuns& part = found[band.slot];
            part = ClassRuns();
            part.width = width;
            uint8_t* row = classes[static_cast<size_t>(worker)].data();
            // A repeated band's row is classified once and its runs copied.
            for (int32_t i = 0; i < (band.repeated ? 1 : band.count); ++i) {
                matcher.ClassifyRow(first + i * stride, width, row);
                detail::AppendRowRuns(row, width, part);
            }
            if (band.repeated) {
                const size_t one = part.spans.size();
                part.spans.reserve(one * static_cast<size_t>(band.count));
                for (int32_t i = 1; i < band.count; ++i) {
                    for (size_t j = 0; j < one; ++j) part.spans.push_back(part.spans[j]);
                    part.rowStart.push_back(part.spans.size());
                }
            }
            if (despeckle) detail::LabelBand(part, band.first, rows.Height(), labels[band.slot]);
            if (matchedPixels != nullptr) {
                std::vector<uint64_t>& counts = matched[band.slot];
                std::fill(counts.begin(), counts.end(), 0);
                for (const ClassRun& run : part.spans) {
                    if (run.cls != kNoClass) counts[run.cls - 1u] += static_cast<uint64_t>(run.end - run.start);
                }
            }
        },
        [&](const Band& band) {
            const ClassRuns& part = found[band.slot];
            if (band.first == 0 && !onFinal) {
                // Room for as many runs as the first band's share foretells,
                // and a quarter more, so the runs are seldom moved.
                const uint64_t expected =
                    part.spans.size() * (static_cast<uint64_t>(rows.Height()) / static_cast<uint64_t>(band.count) + 1) / 4 * 5;
                runs.spans.reserve(static_cast<size_t>(std::min(expected, most)));
                runs.rowStart.reserve(static_cast<size_t>(rows.Height()) + 1);
            }
            if (matchedPixels != nullptr) {
                for (size_t k = 0; k < copper.size(); ++k) (*matchedPixels)[k] += matched[band.slot][k];
            }
            detail::AppendRuns(runs, part);
            if (runs.spans.size() > most) ThrowOutOfMemory();
            despeckler.AddBand(runs, band.first + band.count, labels[band.slot]);
            handOn();
        });
    rows.CheckUnchanged();
    despeckler.Finish(runs);
    handOn();
    return runs;
}

}  // namespace rastrace
