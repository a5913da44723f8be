// SPDX-License-Identifier: GPL-3.0-or-later
// Two-layer boards under a scanner, both sides, with the truth about them:
// a board outline on the lid, through-hole parts (DIP packages, pin
// headers), SMD pads (most on the top, some on the bottom), vias and
// unplated mounting holes, tracks on both sides routed on a grid with
// clearance, and the nets the drawn copper actually makes. The top is scanned from above, axis aligned; the
// bottom from below: mirrored, turned, scaled a little per axis, shifted.
//
// The one fact a caller must know: everything is a pure function of the
// options (own random numbers, plain arithmetic), and the nets are computed
// from the drawn truth rasters (4-connected copper of each side, joined
// through plated holes), not from what the router meant, so a dropped or
// merged connection never makes the truth lie. Pixel (c, r) covers
// [c, c + 1) x [r, r + 1) on both scans; bottomToTop maps bottom pixel
// coordinates onto top pixel coordinates in that convention.
#pragma once

#include "board/Board.h"
#include "raster/Raster.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rastrace::bench {

struct TwoSidedOptions {
    double widthMm = 160, heightMm = 100;  // the board, without the lid around it
    double dpi = 600;                      // the top scan
    double bottomDpi = 0;                  // the bottom scan; 0: the same as the top
    uint64_t seed = 1;
    double maxTurnDeg = 5;     // the bottom is turned by k * 90 + U(-maxTurnDeg, maxTurnDeg) degrees
    double maxScale = 0.003;   // and scaled by 1 + U(-maxScale, maxScale) per axis
    bool quarterTurns = true;  // k is random in 0..3 (else 0)
    // Corner radius of the board outline in mm; below 0: chosen at random
    // (square or rounded up to 3 mm).
    double cornerRadiusMm = -1;
    // The flat palette, packed 0x00BBGGRR, before the scanner's gain.
    uint32_t copperColor = 0x00508CC8;  // #C88C50
    uint32_t boardColor = 0x003A6B2E;   // #2E6B3A
    uint32_t lidColor = 0x00F0F4F4;     // #F4F4F0
    // The scanner: blur ([1 2 1] / 4 each way, about a pixel), noise sigma
    // in levels, per-channel gain 1 + U(-gainRange, gainRange), the same
    // for both passes.
    bool blur = true;
    double noiseSigma = 2;
    double gainRange = 0.02;
    // Shares of the holes that one scan (either, at random) does not show,
    // and of round lid-coloured spots on one scan that are no hole.
    double hiddenHoleShare = 0, spuriousHoleShare = 0;
};

struct TrueHole {
    Vec2 top;     // centre in top pixels
    Vec2 bottom;  // centre in bottom pixels
    double drillMm = 0;
    bool plated = false;
    bool via = false;
    int32_t net = 0;  // 0: none (unplated)
    double padMm = 0;  // outer diameter of the copper ring on both sides; 0: none
    int hiddenOn = 0;  // 0: shows on both scans; 1: not on the top scan; 2: not on the bottom
};

// A lid-coloured round spot on one scan that is no hole.
struct SpuriousHole {
    Vec2 centre;  // in the pixels of its scan
    bool bottom = false;
    double diameterMm = 0;
};

struct TruePad {
    Vec2 top;     // a point inside the pad's copper, top pixels
    bool front = true;  // on the top side (else a bottom-only SMD pad, whose copper is at bottom)
    Vec2 bottom;  // the same point in bottom pixels (inside the copper there for through-hole and bottom-only pads)
    int32_t net = 0;
    bool throughHole = false;
};

struct TwoSidedBoard {
    Raster top, bottom;
    Affine2 bottomToTop;
    std::vector<TrueHole> holes;
    std::vector<TruePad> pads;
    std::vector<SpuriousHole> spurious;
    int32_t nets = 0;  // nets are 1..nets; each holds at least one pad or plated hole
    // The colours as the scans show them (after the gain), packed 0x00BBGGRR
    // as the command line's -c takes integer text.
    uint32_t copperColor = 0, boardColor = 0, lidColor = 0;
    std::vector<uint8_t> topCopper, bottomCopper;  // truth per pixel of each scan (row-major), 1: copper
    // Designed connections the router could not draw (dropped, not drawn).
    int32_t droppedConnections = 0, routedConnections = 0;
};

// Throws Error with a sentence for options out of range (board 5..1000 mm
// a side, dpi 50..4800, turn 0..45 degrees, scale 0..0.05) or scans too
// large to hold.
TwoSidedBoard MakeTwoSidedBoard(const TwoSidedOptions&);

// Scores, for the tests of the whole pipeline.
// Holes match one to one, nearest first, within 3 px; recall and precision
// are 1 where there is nothing to find or nothing found. Centres are in top
// pixels, or in bottom pixels where bottomSide. Throws Error when the two
// found lists differ in length.
struct HoleScore {
    double recall = 1, precision = 1, worstCentrePx = 0, worstDiameterMm = 0;
};
HoleScore ScoreHoles(const std::vector<TrueHole>&, const std::vector<Vec2>& foundTopCentres,
                     const std::vector<double>& foundDrillMm, bool bottomSide = false);

// The true hole centres (bottom) carried by found, against their true top places.
struct MapScore {
    double rmsPx = 0, worstPx = 0;
};
MapScore ScoreMap(const TwoSidedBoard&, const Affine2& found);

// Given our net of each true pad (0: in no net), the share of true nets with
// two or more pads that come out exactly: all their pads in one of our nets,
// which holds no pad of another true net. 1 where there is no such net.
// Throws Error when the list differs in length from the pads.
double ScoreNets(const std::vector<TruePad>&, const std::vector<int32_t>& ourNetOfPad);

// Writes DIR/top.bmp, DIR/bottom.bmp and DIR/truth.txt (creating DIR).
// truth.txt is plain text, one record a line, '#' lines are comments:
//   top W H DPI / bottom W H DPI
//   map m00 m01 m10 m11 tx ty        (bottom pixel -> top pixel)
//   colors #RRGGBB #RRGGBB #RRGGBB   (copper, board, lid)
//   nets N
//   hole TX TY BX BY DRILL_MM PAD_MM plated|unplated via|pad|mount NET HIDDEN (0 | 1 top | 2 bottom)
//   spurious X Y top|bottom DIAMETER_MM  (in that scan's pixels)
//   pad TX TY BX BY front|back tht|smd NET
void WriteTwoSidedBoard(const TwoSidedBoard&, const TwoSidedOptions&, const std::string& dir);

}  // namespace rastrace::bench
