// SPDX-License-Identifier: GPL-3.0-or-later
// The board rule: which pixels of a scan of a real board are copper, from
// the colours a user picked as copper, non-copper and hole, and what
// surrounds each pixel.
//
// In two sentences, as the user reads it: each pixel is explained by the
// picked colours seen around it, as one of them or a blend of two, and is
// copper where copper makes up most of it. Then a light stroke (print) no
// wider than the stroke width that crosses copper going on past it is
// copper too, and specks of a few pixels are dropped.
//
// The one fact a caller must know: it looks at a bounded window of rows
// (about the stroke width, twice the blend radius and the specks' rows), so
// it streams: BoardRows hands the rule's verdict on as rows of pixels,
// copper in the first copper colour and everything else in another, which
// the colour rule at tolerance 0 then traces exactly.
#pragma once

#include "raster/PictureRows.h"
#include "raster/Raster.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace rastrace {

// Which rule decides what is copper.
enum class TraceRule { Colour, Board };

// "colour" or "board" (the command line's and set.ini's words); false for
// anything else.
bool ParseTraceRule(const std::string& text, TraceRule& rule);

struct BoardColors {
    std::vector<uint32_t> copper;     // packed 0x00BBGGRR, at least one
    std::vector<uint32_t> noncopper;  // mask, print, bare board, lid...
    std::vector<uint32_t> holes;      // what a drilled hole shows
    // 0: every pixel goes to its nearest picked colour; above 0, a pixel
    // farther than it from every picked colour is not copper.
    int32_t tolerance = 0;
    // Print strokes up to this many pixels wide are filled where copper
    // goes on past them; 0 turns the fill off.
    int32_t strokeWidth = 0;
    // How far either side of a pixel its blend is looked for, in pixels
    // (at least 1).
    int32_t blendRadius = 2;
    // Specks of copper, and of no copper amid copper, of at most this many
    // pixels (up to 64) are dropped; 0 keeps them.
    int32_t speck = 0;
};

// The stroke width, blend radius and speck size for a scan of dpi dots per
// inch: print up to 0.4 mm wide, blurred over about a sixtieth of an inch,
// specks of two pixels at 600 dpi (about 0.004 mm^2).
BoardColors BoardDefaultsFor(int32_t dpi);

// The rule over a picture read by rows, top to bottom.
class BoardClassifier {
public:
    // Throws Error("The board rule needs a copper colour") without one.
    BoardClassifier(int32_t width, int32_t height, const BoardColors& colors);
    ~BoardClassifier();
    BoardClassifier(const BoardClassifier&) = delete;
    BoardClassifier& operator=(const BoardClassifier&) = delete;

    // How many rows past a row must be pushed before it is final.
    int32_t Lag() const;
    // Takes the next row of the picture (width pixels: blue, green, red).
    void Push(const uint8_t* pixels);
    // Whether the next row is final (enough rows after it were pushed, or
    // every row of the picture was).
    bool Ready() const;
    // The next final row's verdict, one byte a pixel: 1 copper, 0 not.
    // Only when Ready().
    void Pop(uint8_t* copper);
    // The same, first pushing rows until the next one is final: row(y)
    // gives the picture's row y (width pixels), asked for in order.
    void PopPulling(const std::function<const uint8_t*(int32_t y)>& row, uint8_t* copper);
    // Rows the window holds.
    int32_t Ring() const;
    // Passes over up to rows rows of a run of equal rows without working on
    // them: as if they were pushed and popped, their verdicts those of the
    // rows around. Only where every row held, and every row to be pushed
    // next up to rows + Ring() more, is the same row. Returns how many it
    // passed over: rows, or fewer where the picture ends first.
    int32_t Skip(int32_t rows);

private:
    struct State;
    std::unique_ptr<State> s_;
};

// The rows of source as the board rule sees them: a pixel the rule takes
// as copper has colors.copper[0], every other pixel OtherColor(). Read from
// the top down only; the source is read ahead by the rule's window.
std::unique_ptr<PictureRows> BoardRows(std::unique_ptr<PictureRows> source, const BoardColors& colors);

// The same for a picture held whole: a new raster of its size (top row
// first). Throws Error("Out of memory") beyond memoryLimit.
Raster BoardRaster(const Raster& source, const BoardColors& colors, uint64_t memoryLimit = MemoryAvailableNow());

// The colour BoardRows gives the pixels that are not copper.
inline uint32_t BoardOtherColor(uint32_t copper) { return copper ^ 0x000001u; }

// The picture's main colours: the colour histogram's pixels gathered into
// at most count clusters (and at most 256; colours within a fixed distance
// of a cluster's centre, most common first), each with its share of the picture and the
// first pixel (top row first) of its most common colour.
struct MainColor {
    uint32_t color;   // packed 0x00BBGGRR: the cluster's most common colour
    uint64_t pixels;  // pixels in the cluster
    int32_t x, y;
};
std::vector<MainColor> SuggestColors(PictureRows& rows, size_t count);
std::vector<MainColor> SuggestColors(const Raster& raster, size_t count);

}  // namespace rastrace
