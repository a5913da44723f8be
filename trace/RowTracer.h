// The runs of every copper colour of a conversion, found one row at a time
// from the row's pixels alone: what the command line traces a picture with
// as its rows stream past. Each pixel is classified once, whatever the
// number of colours, and the runs come from the scanner's own kernels
// (ScanRow for one exact colour, ScanByteRow over a row of classes).
#pragma once

#include "raster/PictureRows.h"
#include "trace/ColorMatch.h"
#include "trace/Outline.h"
#include "trace/Scanner.h"

#include <cstdint>
#include <optional>
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
    // the row, colour by colour in list order, each colour's runs left to
    // right, with the run ends of a raster scan. Not thread-safe: one
    // tracer per thread (they are cheap).
    template <class OnRun>
    void TraceRow(const uint8_t* pixels, OnRun&& onRun) {
        if (width_ == 0 || copper_.empty()) return;
        if (!matcher_) {
            detail::ScanRow(pixels, width_, copper_[0], [&](int32_t s, int32_t e) { onRun(size_t{0}, s, e); });
            return;
        }
        matcher_->ClassifyRow(pixels, width_, classes_.data());
        TraceClassRow(classes_.data(), onRun);
    }

    // The same runs from a row of classes (k + 1 for copper colour k):
    // colour by colour through the byte-row kernel for one colour, in one
    // pass over the row's runs of equal bytes for several, in which each
    // colour's runs still come left to right.
    template <class OnRun>
    void TraceClassRow(const uint8_t* classes, OnRun&& onRun) const {
        if (width_ == 0) return;
        if (copper_.size() == 1) {
            detail::ScanByteRow(classes, width_, uint8_t{1}, [&](int32_t s, int32_t e) { onRun(size_t{0}, s, e); });
            return;
        }
        const int32_t last = width_ - 1;
        for (int32_t i = 0; i < width_;) {
            const uint8_t value = classes[i];
            const int32_t end = detail::FindByte<false>(classes, i + 1, width_, value);
            if (value != kNoClass) onRun(static_cast<size_t>(value - 1), i, end == width_ ? last : end);
            i = end;
        }
    }

    // The row's classes into out (Width() bytes).
    void ClassifyRow(const uint8_t* pixels, uint8_t* out) const;

    // Every colour's runs of the row as half-open spans sorted by start
    // (CopperRowRuns' spans, for the outline tracer), replacing runs.
    void CopperSpans(const uint8_t* pixels, std::vector<Span>& runs);

private:
    // CopperSpans from a row of classes.
    void CopperClassSpans(const uint8_t* classes, std::vector<Span>& runs) const;

    int32_t width_;
    std::vector<uint32_t> copper_;
    // Unset for one colour matched exactly, which the pixel kernel scans
    // directly; otherwise every pixel is classified once into classes_.
    std::optional<ColorMatcher> matcher_;
    std::vector<uint8_t> classes_;
};

// The classes of a picture read by rows, held as runs (12 bytes a run, not
// a byte per pixel), speckles removed as options say: for speckle removal,
// which needs whole regions, on a picture that is never held whole. Bands
// of bandRows rows (0: the reader's own) are matched on threads workers.
// Checks that the file did not change while read. Throws the reader's
// errors, CheckMatchOptions' and "Out of memory" for more runs than
// options.memoryLimit (unset: the memory available now) holds.
ClassRuns ClassifyRows(PictureRows& rows, std::span<const uint32_t> copper, const MatchOptions& options, int threads,
                       int32_t bandRows = 0);

}  // namespace rastrace
