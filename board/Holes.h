// SPDX-License-Identifier: GPL-3.0-or-later
// The drilled holes of one scanned side and the board's outline, found as
// the rows stream past.
//
// The one fact a caller must know: rows come as runs (the copper's and the
// hole colour's, which never overlap), and only the components open in the
// last row are held, with their moments, so memory follows the width, not
// the height (but for the outline: two columns a row). A hole is a round
// 4-connected patch of the hole colour that touches no border of the
// picture, or, where it shows no hole colour, a round opening of non-copper
// enclosed by copper; its diameter must lie within the limits.
#pragma once

#include "board/Board.h"
#include "trace/Outline.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace rastrace {

struct HoleLimits {
    double minDiameterPx = 0, maxDiameterPx = 0;  // of a disc of the opening's area
};

// 0.2 mm to 7 mm at these resolutions (dots per inch, their geometric mean).
HoleLimits HoleLimitsFor(int32_t xres, int32_t yres);

class HoleFinder {
public:
    // holeColours: whether the side has hole colours at all; without them
    // holes are only the enclosed openings, and no outline is found.
    HoleFinder(int32_t width, int32_t height, const HoleLimits& limits, bool holeColours);
    ~HoleFinder();
    HoleFinder(const HoleFinder&) = delete;
    HoleFinder& operator=(const HoleFinder&) = delete;
    HoleFinder(HoleFinder&&) noexcept;
    HoleFinder& operator=(HoleFinder&&) noexcept;

    // The next row's runs: each list sorted and not overlapping, nor
    // overlapping the other. Throws std::invalid_argument otherwise.
    void AddRow(std::span<const Span> copper, std::span<const Span> hole);
    // times more rows equal to the last one added, at the cost of one.
    void RepeatRow(int32_t times);
    // After the last row.
    void Finish();
    // The holes, top-left first (by centre y, then x). After Finish.
    const std::vector<Hole>& Holes() const;
    // The board's outline in pixel corners (a closed polygon, within a
    // pixel of the boundary between the board and the lid that reaches the
    // picture's border); empty where no lid is seen. After Finish.
    const std::vector<Vec2>& Edge() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

// Douglas-Peucker on a closed polygon: the corners that keep every dropped
// point within tolerance of the polygon left.
std::vector<Vec2> SimplifyClosed(const std::vector<Vec2>& points, double tolerance);

}  // namespace rastrace
