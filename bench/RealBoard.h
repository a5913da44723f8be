// SPDX-License-Identifier: GPL-3.0-or-later
// Boards as a flatbed scanner sees a real two-layer board: FR4 with its
// glass weave, copper under solder mask, exposed pads (tinned or gold),
// silkscreen across tracks, drilled holes showing the scanner's lid, and the
// lid again around the board. Drawn from layers of material, then shaded.
//
// The one fact a caller must know: the drawing is a pure function of the
// options (own random numbers and plain arithmetic), and the truth it comes
// with is per pixel: what kind of surface shows there, and whether copper
// lies there, seen or hidden under print. A hole is never copper.
#pragma once

#include "raster/Raster.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace rastrace::bench {

// What shows at a pixel of the drawn board.
enum class Surface : uint8_t {
    Lid,           // the scanner's lid, around the board
    Hole,          // a drilled hole: the lid seen through the board
    Fr4,           // bare substrate: no mask, no copper
    Mask,          // solder mask over substrate
    Print,         // silkscreen, over mask (or over substrate and copper on a board without mask)
    MaskedCopper,  // copper under solder mask
    Tinned,        // exposed copper under solder: bright, lumpy silver-grey
    Gold,          // exposed copper, gold plated
    BareCopper,    // exposed copper, no finish
};
inline constexpr int kSurfaceCount = 9;

std::string_view SurfaceName(Surface surface);

// True for the surfaces that are copper seen from above.
constexpr bool ShowsCopper(Surface s) {
    return s == Surface::MaskedCopper || s == Surface::Tinned || s == Surface::Gold || s == Surface::BareCopper;
}

// The board's make: solder mask colour and silkscreen colour, or no mask.
enum class BoardStyle {
    GreenWhite,   // green mask, white print
    Blue,         // blue mask, white print
    Red,          // red mask, white print
    BlackWhite,   // black mask, white print
    GreenYellow,  // green mask, yellow print
    NoMaskTinned, // no mask: all copper tinned, on FR4
    NoMaskBare,   // no mask: bare copper on FR4
};

const std::array<BoardStyle, 7>& AllBoardStyles();
std::string_view BoardStyleName(BoardStyle style);  // "green", "blue", ..., as the command lines take it
std::optional<BoardStyle> BoardStyleNamed(std::string_view name);

struct RealBoardOptions {
    int32_t width = 1200;
    int32_t height = 900;
    uint64_t seed = 1;
    double dpi = 600;  // feature sizes are physical (mils) and follow it
    BoardStyle style = BoardStyle::GreenWhite;
};

struct RealBoard {
    Raster picture;                // the drawn board, before any scanner fault; row 0 at the top
    std::vector<uint8_t> surface;  // width x height Surface values, row 0 at the top
    std::vector<uint8_t> copper;   // width x height, 1 where copper lies (under print too), 0 elsewhere and in holes
    bool lidOpen = false;          // the lid shows black (open) rather than near white
};

// Draws the board. Width and height must be at least 1; the board itself
// takes the picture less a margin of lid on every side. Throws
// Error("Out of memory") when the raster cannot be had.
RealBoard DrawRealBoard(const RealBoardOptions& options);

}  // namespace rastrace::bench
