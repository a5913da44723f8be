// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/SideTrace.h"

#include "board/Holes.h"
#include "formats/AreaOutput.h"
#include "trace/ColorMatch.h"

#include <algorithm>
#include <map>

namespace rastrace {

namespace {

// The rows of a picture as they pass on to the copper rule, with the hole
// colour's runs of each row kept aside until the row's copper is traced.
// The copper rule reads ahead of the rows it hands on (the board rule's
// window, speckle removal's whole picture), so the runs wait here, keyed
// by the rows that are one row alike.
class HoleTapRows final : public PictureRows {
public:
    HoleTapRows(std::unique_ptr<PictureRows> source, const HolePixels& holes)
        : PictureRows(source->Width(), source->Height(), source->Facts()), source_(std::move(source)), holes_(holes) {}

    bool AnyOrder() const override { return source_->AnyOrder(); }
    int32_t BandRows() const override { return source_->BandRows(); }
    ptrdiff_t NaturalStride() const override { return source_->NaturalStride(); }
    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        source_->ReadRows(first, count, dst, stride);
        if (!holes_.Any()) return;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t row = first + i;
            const RowRange same = source_->SameRowsAs(row);
            Entry& entry = kept_[same.first];
            entry.end = same.end;
            holes_.Runs(dst + i * stride, Width(), entry.runs);
        }
    }
    void CheckUnchanged() override { source_->CheckUnchanged(); }
    bool HoldsWholePicture() const override { return source_->HoldsWholePicture(); }
    bool FilledIn() const override { return source_->FilledIn(); }
    RowRange SameRowsAs(int32_t row) const override { return source_->SameRowsAs(row); }

    // The hole runs of row; the rows above it are let go of.
    void HoleRunsAt(int32_t row, std::vector<Span>& runs) {
        runs.clear();
        while (!kept_.empty() && kept_.begin()->second.end <= row) kept_.erase(kept_.begin());
        auto it = kept_.upper_bound(row);
        if (it == kept_.begin()) return;
        --it;
        if (it->second.end > row) runs = it->second.runs;
    }

private:
    struct Entry {
        int32_t end = 0;
        std::vector<Span> runs;
    };
    std::unique_ptr<PictureRows> source_;
    const HolePixels& holes_;
    std::map<int32_t, Entry> kept_;
};

// a less b: the parts of a (sorted runs) that no run of b covers.
void Subtract(const std::vector<Span>& a, const std::vector<Span>& b, std::vector<Span>& out) {
    out.clear();
    size_t j = 0;
    for (Span run : a) {
        int32_t start = run.start;
        while (j < b.size() && b[j].end <= start) ++j;
        for (size_t k = j; k < b.size() && b[k].start < run.end; ++k) {
            if (b[k].start > start) out.push_back({start, b[k].start});
            start = std::max(start, b[k].end);
        }
        if (start < run.end) out.push_back({start, run.end});
    }
}

}  // namespace

HolePixels::HolePixels(const SideRequest& side) {
    if (side.colors.holes.empty()) return;
    MatchOptions match;
    // The board rule takes every pixel to its nearest pick, however far.
    match.tolerance = side.tolerance == 0 && side.rule == TraceRule::Board ? kMaxTolerance : side.tolerance;
    match.backgroundColors = side.colors.copper;
    match.backgroundColors.insert(match.backgroundColors.end(), side.colors.noncopper.begin(),
                                  side.colors.noncopper.end());
    matcher_ = std::make_unique<ColorMatcher>(side.colors.holes, match);
}

void HolePixels::Runs(const uint8_t* pixels, int32_t width, std::vector<Span>& runs) const {
    runs.clear();
    if (!matcher_) return;
    classes_.resize(static_cast<size_t>(width));
    matcher_->ClassifyRow(pixels, width, classes_.data());
    for (int32_t x = 0; x < width;) {
        if (classes_[static_cast<size_t>(x)] == kNoClass) {
            ++x;
            continue;
        }
        const int32_t start = x;
        while (x < width && classes_[static_cast<size_t>(x)] != kNoClass) ++x;
        runs.push_back({start, x});
    }
}

SideTrace TraceSide(std::unique_ptr<PictureRows> rows, const SideRequest& side,
                    const std::function<void(int32_t row)>& onRow) {
    SideTrace trace;
    trace.width = rows->Width();
    trace.height = rows->Height();
    trace.xres = side.xres;
    trace.yres = side.yres;

    const HolePixels holePixels(side);
    auto tapOwned = std::make_unique<HoleTapRows>(std::move(rows), holePixels);
    HoleTapRows& tap = *tapOwned;
    std::unique_ptr<PictureRows> picture = std::move(tapOwned);

    std::vector<uint32_t> colors;
    MatchOptions match;
    match.despeckle = side.despeckle;
    if (side.rule == TraceRule::Board) {
        BoardColors board = BoardDefaultsFor(std::max(side.xres, side.yres));
        board.copper = side.colors.copper;
        board.noncopper = side.colors.noncopper;
        board.holes = side.colors.holes;
        board.tolerance = side.tolerance;
        picture = BoardRows(std::move(picture), board);
        colors = {side.colors.copper.at(0)};
    } else {
        colors = side.colors.copper;
        match.tolerance = side.tolerance;
        match.backgroundColors = side.colors.noncopper;
        match.backgroundColors.insert(match.backgroundColors.end(), side.colors.holes.begin(),
                                      side.colors.holes.end());
    }
    const SameRowRunsSource copperRows = MatchedCopperRows(*picture, colors, match);

    OutlineTracer tracer([&trace](const OutlineShape& shape) { trace.regions.push_back(shape); });
    HoleFinder finder(trace.width, trace.height, HoleLimitsFor(side.xres, side.yres), holePixels.Any());
    std::vector<Span> copper, holeRuns, kept;
    for (int32_t row = 0; row < trace.height;) {
        if (onRow) onRow(row);
        const int32_t alike = copperRows(row, copper);
        tap.HoleRunsAt(row, holeRuns);
        Subtract(copper, holeRuns, kept);
        tracer.AddRow(kept);
        finder.AddRow(kept, holeRuns);
        if (alike > 1) {
            tracer.RepeatRow(alike - 1);
            finder.RepeatRow(alike - 1);
        }
        row += alike;
    }
    if (trace.height > 0) tracer.Finish();
    finder.Finish();
    picture->CheckUnchanged();
    trace.holes = finder.Holes();
    trace.edge = finder.Edge();
    return trace;
}

}  // namespace rastrace
