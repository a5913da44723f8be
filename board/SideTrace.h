// SPDX-License-Identifier: GPL-3.0-or-later
// One side of a board traced from its scan: the copper regions' outlines,
// the drilled holes and the board's edge, in one pass over the rows.
//
// The one fact a caller must know: the picture streams (a band of rows at
// a time, as the single-side conversion reads it); what is kept is the
// regions' outlines and the holes. Hole colours are never copper: a pixel
// whose nearest picked colour is a hole colour is taken out of the copper,
// so a drilled pad stays a ring whatever the speckle removal fills.
#pragma once

#include "board/Nets.h"
#include "raster/PictureRows.h"
#include "trace/BoardRule.h"
#include "trace/ColorMatch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace rastrace {

struct SideColors {
    std::vector<uint32_t> copper;     // packed 0x00BBGGRR, at least one
    std::vector<uint32_t> noncopper;  // -b
    std::vector<uint32_t> holes;      // what a hole and the lid around the board show
};

struct SideRequest {
    SideColors colors;
    TraceRule rule = TraceRule::Colour;
    int32_t tolerance = 0;
    int32_t despeckle = 0;
    int32_t xres = 600, yres = 600;  // positive
};

// Which pixels show a hole colour: the nearest of every picked colour is a
// hole colour (and, with a tolerance, within it; with the colour rule at
// tolerance 0, the very colour).
class HolePixels {
public:
    explicit HolePixels(const SideRequest& side);
    bool Any() const { return matcher_ != nullptr; }
    // The runs of a row of width pixels (blue, green, red) into runs.
    void Runs(const uint8_t* pixels, int32_t width, std::vector<Span>& runs) const;

private:
    // The hole colours as the traced colours, every other pick as a
    // background colour: the colour rule's own matcher and kernels.
    std::unique_ptr<ColorMatcher> matcher_;
    mutable std::vector<uint8_t> classes_;
};

// Traces the side. onRow(row) before each row is worked on (progress; it
// may throw to stop). Throws the reader's errors and the colour rule's.
SideTrace TraceSide(std::unique_ptr<PictureRows> rows, const SideRequest& side,
                    const std::function<void(int32_t row)>& onRow = {});

}  // namespace rastrace
