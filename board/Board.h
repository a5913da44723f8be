// SPDX-License-Identifier: GPL-3.0-or-later
// The whole board made from two scans: the geometry both sides share, the
// holes found on each side, and the model the board writers take.
//
// The one fact a caller must know: every coordinate of the model is in the
// top scan's frame. A side's own pixel coordinates put pixel (c, r) over
// [c, c + 1) x [r, r + 1) (its centre at (c + 0.5, r + 0.5)), Y growing
// downwards; the model is in nanometres from the top scan's top-left
// corner, Y growing downwards too, as KiCad draws a board.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rastrace {

struct Vec2 {
    double x = 0, y = 0;
    friend bool operator==(const Vec2&, const Vec2&) = default;
};

// An affine map of the plane: (x, y) -> (m00 x + m01 y + tx, m10 x + m11 y + ty).
// A mirror has a negative determinant.
struct Affine2 {
    double m00 = 1, m01 = 0, m10 = 0, m11 = 1, tx = 0, ty = 0;

    Vec2 Apply(Vec2 p) const { return {m00 * p.x + m01 * p.y + tx, m10 * p.x + m11 * p.y + ty}; }
    double Determinant() const { return m00 * m11 - m01 * m10; }
    // The map back; throws Error("The alignment cannot be undone") where the
    // determinant is 0.
    Affine2 Inverse() const;
    // This map, then next.
    Affine2 Then(const Affine2& next) const;
};

// A drilled hole found on one side, in that side's pixel coordinates.
struct Hole {
    Vec2 centre;            // the opening's centroid, to a fraction of a pixel
    int64_t pixels = 0;     // the opening's area in pixels
    double diameterPx = 0;  // the diameter of a disc of that area, in pixels
    // Enclosed by copper on this side: a ring of copper around the opening
    // (the pad or via) with no gap to the rest of the side.
    bool ringed = false;
};

// A point of the model, in nanometres.
struct BoardPoint {
    int64_t x = 0, y = 0;
    friend bool operator==(const BoardPoint&, const BoardPoint&) = default;
};

enum class BoardLayer : uint8_t { Front = 0, Back = 1 };

// One copper region: a contour without holes, its holes joined to it by
// cuts of zero width (as OutlineTracer gives them), closed (the first
// point is not repeated), in any orientation.
struct BoardRegion {
    BoardLayer layer = BoardLayer::Front;
    int32_t net = 0;  // 1..nets.size(); every region has a net
    std::vector<BoardPoint> contour;
};

// A drilled hole of the board, in the top frame.
struct BoardHole {
    BoardPoint centre;
    int64_t drillNm = 0;  // the measured diameter, rounded to 0.05 mm
    // Ringed by copper on both sides: plated through, joining the regions.
    bool plated = false;
    int32_t net = 0;  // 0: no copper around it
    // Unplated with a net: the side whose copper rings it.
    BoardLayer ringed = BoardLayer::Front;
    // The copper pad a writer may put around the drill (via or pad
    // diameter), in nanometres: as far out as the ring probes found copper
    // around the opening (the drill alone where no copper rings it).
    int64_t padNm = 0;
};

struct BoardModel {
    // nets[k] names net k + 1 ("N1", "N2", ...).
    std::vector<std::string> nets;
    std::vector<BoardRegion> regions;
    std::vector<BoardHole> holes;
    // The board outline, a closed polygon (first point not repeated);
    // empty: none was found, writers use the top scan's rectangle.
    std::vector<BoardPoint> edge;
    int64_t widthNm = 0, heightNm = 0;  // the top scan's extent
};

}  // namespace rastrace
