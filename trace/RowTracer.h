// SPDX-License-Identifier: GPL-3.0-or-later
// The runs of every copper colour of a conversion, found one row at a time
// from the row's pixels alone: what the command line traces a picture with
// as its rows stream past. Each pixel is classified once (once per 255
// colours), and the runs come from the scanner's own kernels (ScanRow for
// one exact colour, ScanByteRow and FindByte over a row of classes).
#pragma once

#include "raster/PictureRows.h"
#include "trace/ColorMatch.h"
#include "trace/Outline.h"
#include "trace/Scanner.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace rastrace {

class RowTracer {
public:
    // Throws CheckMatchOptions' errors.
    RowTracer(int32_t width, std::span<const uint32_t> copper, const MatchOptions& options);

    int32_t Width() const { return width_; }
    size_t Colors() const { return copper_.size(); }

    // Calls onRun(k, startCol, endCol) for every run of copper colour k in
    // the row, each colour's runs left to right, with the run ends of a
    // raster scan. Not thread-safe: one tracer per thread (they are cheap).
    template <class OnRun>
    void TraceRow(const uint8_t* pixels, OnRun&& onRun) {
        if (width_ == 0 || copper_.empty()) return;
        if (groups_.empty()) {
            detail::ScanRow(pixels, width_, copper_[0], [&](int32_t s, int32_t e) { onRun(size_t{0}, s, e); });
            return;
        }
        if (!bits_.empty()) {
            groups_[0].MatchBits(pixels, width_, uint8_t{1}, bits_.data());
            detail::ScanBitRow(bits_.data(), width_, [&](int32_t s, int32_t e) { onRun(size_t{0}, s, e); });
            return;
        }
        for (size_t g = 0; g < groups_.size(); ++g) {
            groups_[g].ClassifyRow(pixels, width_, classes_.data());
            TraceClassRow(classes_.data(), g, onRun);
        }
    }

    // Every colour's runs of the row as half-open spans sorted by start
    // (CopperRowRuns' spans, for the outline tracer), replacing runs.
    void CopperSpans(const uint8_t* pixels, std::vector<Span>& runs);

private:
    // The runs of a row of classes of group g (class c is copper colour
    // g * kMaxClasses + c - 1): through the byte-row kernel for a group of
    // one colour, else in one pass over the row's runs of equal bytes, in
    // which each colour's runs still come left to right.
    template <class OnRun>
    void TraceClassRow(const uint8_t* classes, size_t g, OnRun&& onRun) const {
        const size_t base = g * kMaxClasses;
        if (copper_.size() - base == 1) {
            detail::ScanByteRow(classes, width_, uint8_t{1}, [&](int32_t s, int32_t e) { onRun(base, s, e); });
            return;
        }
        const int32_t last = width_ - 1;
        for (int32_t i = 0; i < width_;) {
            const uint8_t value = classes[i];
            const int32_t end = detail::FindByte<false>(classes, i + 1, width_, value);
            if (value != kNoClass) onRun(base + value - 1, i, end == width_ ? last : end);
            i = end;
        }
    }

    int32_t width_;
    std::vector<uint32_t> copper_;
    // Empty for one colour matched exactly, which the pixel kernel scans
    // directly. Otherwise the colours in groups of as many as a class byte
    // tells apart (more than one group only for exact matching), each
    // pixel classified once per group into classes_.
    std::vector<ColorMatcher> groups_;
    std::vector<uint8_t> classes_;
    // For one colour matched with a tolerance where the bit kernel is
    // there: the row's matches as bits, which TraceRow scans instead.
    std::vector<uint64_t> bits_;
};

// The classes of a picture read by rows, held as runs (12 bytes a run, not
// a byte per pixel), speckles removed as options say: for speckle removal,
// which needs whole regions, on a picture that is never held whole. Bands
// of bandRows rows (0: the reader's own) are matched on threads workers.
// Checks that the file did not change while read. Throws the reader's
// errors, CheckMatchOptions' and "Out of memory" for more runs than
// options.memoryLimit (unset: the memory available now) holds.
//
// onFinal(runs, first, end), when given, is called on the calling thread
// as rows first..end-1 of runs become final (speckle removal decides a
// few times options.despeckle rows behind the last row read), top to
// bottom, every row once. Rows may be handed on before the file is found
// changed or a later band fails to read. Rows handed on are let go of, so
// the runs held stay a few times options.despeckle rows, and none are
// left to return.
//
// matchedPixels, when given, receives the pixels each copper colour
// matched before speckle removal (one count a colour, in list order): a
// colour whose pixels were all speckles has a count but no runs.
using FinalRowsStep = std::function<void(const ClassRuns& runs, int32_t first, int32_t end)>;
ClassRuns ClassifyRows(PictureRows& rows, std::span<const uint32_t> copper, const MatchOptions& options, int threads,
                       int32_t bandRows = 0, const FinalRowsStep& onFinal = {},
                       std::vector<uint64_t>* matchedPixels = nullptr);

}  // namespace rastrace
