// SPDX-License-Identifier: GPL-3.0-or-later
// Outlines of traced copper: each 4-connected region of set pixels becomes
// one closed polygon along the pixel edges that covers exactly its pixels.
//
// The one fact a caller must know: rows arrive one at a time, top to bottom,
// as sorted half-open column intervals, and the tracer keeps only what is
// still open (the vertical edges of the last row and the regions that reach
// it). A region's polygon is handed out as soon as its last row has passed.
//
// Pixels that meet only at a corner belong to different regions, so at such
// a corner each outline turns to stay with its own pixel. A region's holes
// are joined to its outline by cuts of zero width (a cut leaves the hole's
// top-left corner straight up through the middle of a pixel column to the
// first edge above), so one contour without holes describes the region, as
// a KiCad polygon or a Gerber region with cut-ins needs.
//
// Coordinates are in half pixels: x2 is twice the column edge, y2 twice the
// row boundary (0 at the top of the picture, Y growing downwards). Pixel
// corners are even; only the ends of the cuts have an odd x2. Every vertex is
// a corner (no two consecutive edges are collinear). Turned Y-up, the
// contour runs counter-clockwise around the copper and clockwise around each
// hole.
#pragma once

#include "raster/Raster.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace rastrace {

// A half-open interval [start, end) of pixel columns.
struct Span {
    int32_t start = 0, end = 0;
    friend bool operator==(const Span&, const Span&) = default;
};

struct OutlinePoint {
    int32_t x2 = 0, y2 = 0;
    friend bool operator==(const OutlinePoint&, const OutlinePoint&) = default;
};

// One region: its closed contour (the first point is not repeated at the
// end), the number of holes joined into it and its area in pixels.
struct OutlineShape {
    std::vector<OutlinePoint> points;
    int32_t holes = 0;
    int64_t pixels = 0;
};

// Columns must lie in 0..kMaxOutlineColumn, and rows be fewer, so that half
// pixels fit int32.
inline constexpr int32_t kMaxOutlineColumn = 0x3FFFFFFF;

class OutlineTracer {
public:
    // sink receives each finished region; the shape is reused afterwards.
    // The sink may throw to stop; the tracer is of no further use then.
    using ShapeSink = std::function<void(const OutlineShape&)>;

    explicit OutlineTracer(ShapeSink sink);
    ~OutlineTracer();
    OutlineTracer(const OutlineTracer&) = delete;
    OutlineTracer& operator=(const OutlineTracer&) = delete;

    // The runs of the next row. They must be sorted and must not overlap
    // (touching runs are joined); empty runs are ignored. Throws
    // std::invalid_argument otherwise, or for columns outside
    // 0..kMaxOutlineColumn. Regions whose last row was the one before
    // reach the sink during this call, in the order of their runs there.
    void AddRow(std::span<const Span> runs);

    // times more rows with the runs of the row added last: the regions'
    // edges go straight on down, so nothing but the row count changes.
    // Throws std::logic_error before any row, std::invalid_argument past
    // the rows allowed.
    void RepeatRow(int32_t times);
    // Closes the bottom of the picture: every region still open is handed
    // out. No row may follow.
    void Finish();

    int32_t Rows() const { return rows_; }
    // Open vertices held right now (for the memory bound).
    size_t OpenVertices() const { return nodes_.size() - freeNodes_.size(); }

private:
    struct Node {
        int32_t x2 = 0, y2 = 0, next = -1;
        uint8_t flags = 0;
    };
    struct Label {
        int32_t parent = 0, size = 1, memberNext = -1, memberTail = 0, activeRow = -1;
    };

    int32_t NewNode(int32_t x, int32_t y);
    int32_t NewLabel();
    int32_t Find(int32_t label);
    int32_t Unite(int32_t a, int32_t b);
    void Boundary();
    void FinishRegion(int32_t root);

    ShapeSink sink_;
    int32_t rows_ = 0;
    bool finished_ = false;
    // Run ends of the previous and the current row, flattened: start, end, start, end...
    std::vector<int32_t> prevEnds_, curEnds_;
    // The open vertex of the vertical edge at each run end of the previous row.
    std::vector<int32_t> prevNodes_, curNodes_;
    // Region label of each run of the previous and the current row.
    std::vector<int32_t> prevLabels_, curLabels_;
    std::vector<Node> nodes_;
    std::vector<int32_t> freeNodes_;
    std::vector<Label> labels_;
    std::vector<std::vector<int32_t>> seeds_;  // per root: the top-left corner vertices of its rings
    std::vector<int32_t> freeLabels_;
    std::vector<int32_t> finishing_;
    std::vector<int32_t> ringNodes_;  // the vertices of the region being finished
    OutlineShape shape_;
};

// The runs of row (0 = top) where the pixel is any of colors, into runs
// (replacing what it held): each colour through the run scanner's kernel,
// merged in column order. colors must not repeat a colour; values above
// 0x00FFFFFF match no pixel.
void CopperRowRuns(const Raster& raster, int32_t row, std::span<const uint32_t> colors, std::vector<Span>& runs);

}  // namespace rastrace
