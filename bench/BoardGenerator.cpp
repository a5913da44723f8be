// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/BoardGenerator.h"

#include "bench/BlockFont.h"
#include "bench/LineClip.h"
#include "bench/Jpeg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

namespace rastrace::bench {

namespace {

// ---------------------------------------------------------------------------
// Random numbers: xoshiro256** seeded through splitmix64. Written out here
// (not <random>) so a seed gives the same board with every standard library.

class Rng {
public:
    explicit Rng(uint64_t seed) {
        uint64_t z = seed;
        for (auto& s : s_) s = SplitMix(z);
    }

    uint64_t Next() {
        const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = Rotl(s_[3], 45);
        return result;
    }

    // Uniform in lo..hi (both included); lo <= hi.
    int64_t Int(int64_t lo, int64_t hi) {
        // The modulo bias is below 2^-40 for the small ranges drawn here.
        const auto span = static_cast<uint64_t>(hi - lo) + 1;
        if (span == 0) return static_cast<int64_t>(Next());
        return lo + static_cast<int64_t>(Next() % span);
    }

    // Uniform in [0, 1).
    double Real() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Real(double lo, double hi) { return lo + (hi - lo) * Real(); }
    bool Chance(double p) { return Real() < p; }

private:
    static uint64_t Rotl(uint64_t x, int k) { return x << k | x >> (64 - k); }
    static uint64_t SplitMix(uint64_t& z) {
        uint64_t r = (z += 0x9E3779B97F4A7C15ull);
        r = (r ^ (r >> 30)) * 0xBF58476D1CE4E5B9ull;
        r = (r ^ (r >> 27)) * 0x94D049BB133111EBull;
        return r ^ (r >> 31);
    }

    std::array<uint64_t, 4> s_{};
};

// ---------------------------------------------------------------------------
// Drawing in pixels. Every shape is filled row by row as spans, so the cost
// follows the pixels a shape covers, never the size of the picture. A pixel
// belongs to a shape when its centre (x + 0.5, y + 0.5) lies inside it.

class Canvas {
public:
    explicit Canvas(Raster& raster) : raster_(raster), width_(raster.Width()), height_(raster.Height()) {}

    // Fills columns x0..x1 (included) of row y, clipped to the picture.
    void Span(int32_t y, int64_t x0, int64_t x1, uint32_t color) {
        if (y < 0 || y >= height_) return;
        x0 = std::max<int64_t>(x0, 0);
        x1 = std::min<int64_t>(x1, width_ - 1);
        if (x0 > x1) return;
        uint8_t* p = raster_.RowBytes(y).data() + x0 * 3;
        FillPixels(p, static_cast<size_t>(x1 - x0 + 1), color);
    }

    // Fills the pixels of row y whose centres lie in [lo, hi].
    void CentreSpan(int32_t y, double lo, double hi, uint32_t color) {
        if (!(lo <= hi)) return;
        const double first = std::ceil(lo - 0.5);
        const double last = std::floor(hi - 0.5);
        if (last < 0 || first >= width_) return;
        Span(y, static_cast<int64_t>(std::max(first, -1.0)), static_cast<int64_t>(std::min(last, 1.0 * width_)), color);
    }

    void Rect(double x0, double y0, double x1, double y1, uint32_t color) {
        const auto [r0, r1] = Rows(y0, y1);
        for (int32_t y = r0; y <= r1; ++y) CentreSpan(y, x0, x1, color);
    }

    void Disc(double cx, double cy, double r, uint32_t color) {
        r = std::max(r, 0.5);
        const auto [r0, r1] = Rows(cy - r, cy + r);
        for (int32_t y = r0; y <= r1; ++y) {
            const double dy = y + 0.5 - cy;
            const double h2 = r * r - dy * dy;
            if (h2 < 0) continue;
            const double h = std::sqrt(h2);
            CentreSpan(y, cx - h, cx + h, color);
        }
    }

    // The segment a-b widened by halfWidth on each side, with round ends.
    void Capsule(double ax, double ay, double bx, double by, double halfWidth, uint32_t color) {
        halfWidth = std::max(halfWidth, 0.5);
        const double len = std::sqrt((bx - ax) * (bx - ax) + (by - ay) * (by - ay));
        if (len > 0) {
            const double dx = (bx - ax) / len, dy = (by - ay) / len;  // along
            const double nx = -dy, ny = dx;                           // across
            const auto [r0, r1] = Rows(std::min(ay, by) - halfWidth, std::max(ay, by) + halfWidth);
            for (int32_t y = r0; y <= r1; ++y) {
                const double py = y + 0.5 - ay;
                // Both conditions are linear in the pixel centre's x offset from a.
                double lo = -1e300, hi = 1e300;
                if (!Clip(dx, py * dy, 0, len, lo, hi)) continue;
                if (!Clip(nx, py * ny, -halfWidth, halfWidth, lo, hi)) continue;
                CentreSpan(y, ax + lo, ax + hi, color);
            }
        }
        Disc(ax, ay, halfWidth, color);
        Disc(bx, by, halfWidth, color);
    }

private:
    // The rows whose centres lie in [top, bottom], clipped to the picture.
    std::pair<int32_t, int32_t> Rows(double top, double bottom) const {
        const double first = std::max(std::ceil(top - 0.5), 0.0);
        const double last = std::min(std::floor(bottom - 0.5), height_ - 1.0);
        if (first > last) return {0, -1};
        return {static_cast<int32_t>(first), static_cast<int32_t>(last)};
    }

    static void FillPixels(uint8_t* p, size_t count, uint32_t color) {
        const auto b = static_cast<uint8_t>(color >> 16), g = static_cast<uint8_t>(color >> 8),
                   r = static_cast<uint8_t>(color);
        if (count < 16) {
            for (size_t i = 0; i < count; ++i, p += 3) {
                p[0] = b;
                p[1] = g;
                p[2] = r;
            }
            return;
        }
        // Long spans (pours, the background) go out in 48-byte blocks.
        uint8_t pattern[48];
        for (size_t i = 0; i < 48; i += 3) {
            pattern[i] = b;
            pattern[i + 1] = g;
            pattern[i + 2] = r;
        }
        size_t bytes = count * 3;
        while (bytes >= 48) {
            std::memcpy(p, pattern, 48);
            p += 48;
            bytes -= 48;
        }
        std::memcpy(p, pattern, bytes);
    }

    Raster& raster_;
    int32_t width_, height_;
};

// ---------------------------------------------------------------------------
// The display list: the layout is decided first, in mils, then drawn pass by
// pass so that what lies on top of what does not depend on the order the
// layout code happens to add things.

enum Pass { kPourPass, kClearancePass, kCopper2Pass, kCopperPass, kSmdPass, kHolePass, kSilkPass, kPassCount };

struct Item {
    enum Kind { kCapsule, kRect, kDisc } kind;
    double ax, ay, bx, by, r;  // pixels; a rect spans a..b, a disc is centred on a
    uint32_t color;
};

struct Pt {
    double x, y;
};

struct Box {
    double x0, y0, x1, y1;
    double Width() const { return x1 - x0; }
    double Height() const { return y1 - y0; }
};

// Sizes in mils of the parts the layout is made of.
constexpr double kClearance = 16;    // copper-free gap around features in a pour
constexpr double kSilkWidth = 8;     // silkscreen line width
constexpr double kMargin = 150;      // board edge to the first gutter
constexpr double kGutter = 250;      // width of a routing channel between tiles
constexpr double kTileWidth = 800;   // nominal tile size; the real one fills the board
constexpr double kTileHeight = 800;
constexpr double kTileInset = 40;    // tile edge to its contents

// The board layout in mils, collected as items in pixels.
class Layout {
public:
    Layout(double pixelsPerMil, Rng& rng) : u_(pixelsPerMil), rng_(rng) {}

    Rng& Random() { return rng_; }
    const std::array<std::vector<Item>, kPassCount>& Passes() const { return passes_; }

    // A track along points in mils, on the layer of color. In a pour it gets
    // a clearance around it.
    void Track(std::initializer_list<Pt> points, double width, uint32_t color, bool inPour = false) {
        Track(std::vector<Pt>(points), width, color, inPour);
    }
    void Track(const std::vector<Pt>& points, double width, uint32_t color, bool inPour = false) {
        const Pass pass = color == kCopperColor ? kCopperPass : kCopper2Pass;
        for (size_t i = 1; i < points.size(); ++i) {
            const Pt a = points[i - 1], b = points[i];
            if (inPour) Add(kClearancePass, Item::kCapsule, a, b, width / 2 + kClearance, kSubstrateColor);
            Add(pass, Item::kCapsule, a, b, width / 2, color);
        }
    }

    void RoundPad(Pt c, double diameter, double hole, bool inPour = false) {
        if (inPour) Add(kClearancePass, Item::kDisc, c, c, diameter / 2 + kClearance, kSubstrateColor);
        Add(kCopperPass, Item::kDisc, c, c, diameter / 2, kCopperColor);
        if (hole > 0) Add(kHolePass, Item::kDisc, c, c, hole / 2, kHoleColor);
    }

    void SquarePad(Pt c, double w, double h, double hole, uint32_t color, bool inPour = false) {
        const Pass pass = color == kCopperColor ? kCopperPass : kSmdPass;
        if (inPour) {
            Add(kClearancePass, Item::kRect, {c.x - w / 2 - kClearance, c.y - h / 2 - kClearance},
                {c.x + w / 2 + kClearance, c.y + h / 2 + kClearance}, 0, kSubstrateColor);
        }
        Add(pass, Item::kRect, {c.x - w / 2, c.y - h / 2}, {c.x + w / 2, c.y + h / 2}, 0, color);
        if (hole > 0) Add(kHolePass, Item::kDisc, c, c, hole / 2, kHoleColor);
    }

    // A pad joined to the pour around it by four spokes.
    void ThermalPad(Pt c, double diameter, double hole) {
        const double outer = diameter / 2 + kClearance;
        const double spoke = std::max(10.0, diameter / 4);
        Add(kClearancePass, Item::kDisc, c, c, outer, kSubstrateColor);
        Add(kCopperPass, Item::kRect, {c.x - outer - 2, c.y - spoke / 2}, {c.x + outer + 2, c.y + spoke / 2}, 0,
            kCopperColor);
        Add(kCopperPass, Item::kRect, {c.x - spoke / 2, c.y - outer - 2}, {c.x + spoke / 2, c.y + outer + 2}, 0,
            kCopperColor);
        RoundPad(c, diameter, hole);
    }

    void Via(Pt c, bool inPour = false) { RoundPad(c, 36, 16, inPour); }

    void Pour(const Box& b) { Add(kPourPass, Item::kRect, {b.x0, b.y0}, {b.x1, b.y1}, 0, kCopperColor); }

    void SilkLine(Pt a, Pt b, uint32_t color) { Add(kSilkPass, Item::kCapsule, a, b, kSilkWidth / 2, color); }

    void SilkBox(const Box& b, uint32_t color) {
        SilkLine({b.x0, b.y0}, {b.x1, b.y0}, color);
        SilkLine({b.x1, b.y0}, {b.x1, b.y1}, color);
        SilkLine({b.x1, b.y1}, {b.x0, b.y1}, color);
        SilkLine({b.x0, b.y1}, {b.x0, b.y0}, color);
    }

    // Text in the block font, top left at at; cell is the size of one dot.
    // Returns the width it took.
    double Text(Pt at, std::string_view text, double cell, uint32_t color) {
        double x = at.x;
        for (char c : text) {
            if (const Glyph* g = FindGlyph(c)) {
                for (int row = 0; row < 7; ++row) {
                    const char* bits = g->rows[row];
                    for (int col = 0; col < 5;) {
                        if (bits[col] != '#') {
                            ++col;
                            continue;
                        }
                        int end = col;
                        while (end < 5 && bits[end] == '#') ++end;
                        Add(kSilkPass, Item::kRect, {x + col * cell, at.y + row * cell},
                            {x + end * cell, at.y + (row + 1) * cell}, 0, color);
                        col = end;
                    }
                }
            }
            x += 6 * cell;
        }
        return x - at.x;
    }

    // A designator such as "U12".
    std::string Designator(char prefix) {
        int& n = counters_[static_cast<unsigned char>(prefix)];
        std::string text = std::to_string(++n);
        text.insert(text.begin(), prefix);
        return text;
    }

    uint32_t SilkColor() { return rng_.Chance(0.8) ? kSilkWhiteColor : kSilkYellowColor; }

private:
    void Add(Pass pass, Item::Kind kind, Pt a, Pt b, double r, uint32_t color) {
        passes_[pass].push_back(Item{kind, a.x * u_, a.y * u_, b.x * u_, b.y * u_, r * u_, color});
    }

    double u_;
    Rng& rng_;
    std::array<std::vector<Item>, kPassCount> passes_;
    std::array<int, 256> counters_{};
};

// ---------------------------------------------------------------------------
// Tiles: each holds one kind of circuit, laid out inside its box.

// Tracks leaving a row of pads at the points from, heading along dir (a
// unit axis vector) for reach mils, fanned out at 45 degrees so that they
// spread from pitch to pitch + spread between neighbours. They never cross:
// a track further from the centre turns further out.
void FanOut(Layout& layout, const std::vector<Pt>& from, Pt dir, double reach, double spread, double width,
            uint32_t color, bool endInVia) {
    const double mid = (static_cast<double>(from.size()) - 1) / 2;
    const Pt side{-dir.y, dir.x};
    const double stub = std::min(60.0, reach / 4);
    for (size_t i = 0; i < from.size(); ++i) {
        const double shift = (static_cast<double>(i) - mid) * spread;
        const Pt a = from[i];
        const Pt b{a.x + dir.x * stub, a.y + dir.y * stub};
        const double diag = std::min(std::fabs(shift), reach - stub - 40);
        const double s = shift < 0 ? -diag : diag;
        const Pt c{b.x + dir.x * diag + side.x * s, b.y + dir.y * diag + side.y * s};
        const Pt d{a.x + dir.x * reach + side.x * s, a.y + dir.y * reach + side.y * s};
        layout.Track({a, b, c, d}, width, color);
        if (endInVia) layout.Via(d);
    }
}

// A through-hole IC: two columns of pads at 100 mils with tracks escaping sideways.
void DipTile(Layout& layout, const Box& t) {
    Rng& rng = layout.Random();
    const int maxPins = static_cast<int>((t.Height() - 2 * kTileInset - 160) / 100) + 1;
    if (maxPins < 2 || t.Width() < 500) return;
    const int pins = static_cast<int>(rng.Int(std::min(4, maxPins), std::min(20, maxPins)));
    const double rows = t.Width() >= 1000 && rng.Chance(0.4) ? 600 : 300;
    const double cx = (t.x0 + t.x1) / 2, cy = (t.y0 + t.y1) / 2;
    const double top = cy - (pins - 1) * 50.0;
    const double pad = rng.Int(56, 70), hole = rng.Int(28, 36);
    const double width = rng.Int(8, 16);
    for (int side = 0; side < 2; ++side) {
        const double x = side == 0 ? cx - rows / 2 : cx + rows / 2;
        const double dir = side == 0 ? -1 : 1;
        const double edge = side == 0 ? t.x0 + kTileInset + 20 : t.x1 - kTileInset - 20;
        const double jog = rng.Int(0, 2) * 50.0 * (rng.Chance(0.5) ? 1 : -1);
        const double turn = x + dir * rng.Int(90, 140);
        for (int i = 0; i < pins; ++i) {
            const Pt c{x, top + i * 100.0};
            if (side == 0 && i == 0) {
                layout.SquarePad(c, pad, pad, hole, kCopperColor);
            } else {
                layout.RoundPad(c, pad, hole);
            }
            if (!rng.Chance(0.75)) continue;
            // Out, a 45-degree jog shared by the whole side, then out to a via.
            const double jogEnd = turn + dir * std::fabs(jog);
            if ((edge - jogEnd) * dir < 40) {
                layout.Track({c, {edge, c.y}}, width, kCopperColor);
            } else {
                layout.Track({c, {turn, c.y}, {jogEnd, c.y + jog}, {edge, c.y + jog}}, width, kCopperColor);
            }
            layout.Via({edge, c.y + ((edge - jogEnd) * dir < 40 ? 0 : jog)});
        }
    }
    const uint32_t silk = layout.SilkColor();
    const Box body{cx - rows / 2 + 60, top - 70, cx + rows / 2 - 60, top + (pins - 1) * 100.0 + 70};
    layout.SilkBox(body, silk);
    layout.SilkLine({cx - 30, body.y0 + 30}, {cx + 30, body.y0 + 30}, silk);
    layout.Text({body.x0 + 20, body.y0 + 50}, layout.Designator('U'), 8, silk);
}

// Two-pin parts in rows, chained by short tracks, and a wide supply track.
void PassiveTile(Layout& layout, const Box& t) {
    Rng& rng = layout.Random();
    const double span = rng.Int(3, 4) * 100.0;
    const double pitchX = span + 200, pitchY = rng.Int(22, 30) * 10.0;
    const int perRow = static_cast<int>((t.Width() - 2 * kTileInset - 100) / pitchX);
    const int rowsN = static_cast<int>((t.Height() - 2 * kTileInset - 200) / pitchY);
    const double width = rng.Int(10, 20);
    for (int r = 0; r < rowsN; ++r) {
        const double y = t.y0 + kTileInset + 100 + r * pitchY;
        for (int i = 0; i < perRow; ++i) {
            const double x = t.x0 + kTileInset + 100 + i * pitchX;
            const bool square = rng.Chance(0.5);
            const double pad = rng.Int(55, 75);
            for (const double px : {x, x + span}) {
                if (square) {
                    layout.SquarePad({px, y}, pad, pad, 32, kCopperColor);
                } else {
                    layout.RoundPad({px, y}, pad, 32);
                }
            }
            const uint32_t silk = layout.SilkColor();
            layout.SilkBox({x + 55, y - 40, x + span - 55, y + 40}, silk);
            layout.Text({x + 60, y - 100}, layout.Designator(rng.Chance(0.6) ? 'R' : 'C'), 6, silk);
            if (i + 1 < perRow && rng.Chance(0.7)) layout.Track({{x + span, y}, {x + pitchX, y}}, width, kCopperColor);
            if (r + 1 < rowsN && rng.Chance(0.4)) {
                // Down to the next row with a 45-degree dogleg around the part below.
                const double yn = y + pitchY;
                const double dx = 50;
                layout.Track({{x, y}, {x - dx, y + dx}, {x - dx, yn - dx}, {x, yn}}, width, kCopperColor);
            }
        }
    }
    if (rng.Chance(0.6)) {
        const double y = t.y1 - kTileInset - 60;
        const double w = rng.Int(40, 100);
        const double x0 = t.x0 + kTileInset + 60, x1 = t.x1 - kTileInset - 60;
        const double mid = (x0 + x1) / 2;
        layout.Track({{x0, y}, {mid - 40, y}, {mid, y - 40}, {x1, y - 40}}, w, kCopperColor);
        layout.RoundPad({x0, y}, w + 60, w / 2 + 10);
        layout.RoundPad({x1, y - 40}, w + 60, w / 2 + 10);
    }
}

// A surface-mount IC: pads on four sides at 50 mils, fanned out to vias.
void SmdTile(Layout& layout, const Box& t) {
    Rng& rng = layout.Random();
    const double room = std::min(t.Width(), t.Height()) - 2 * kTileInset - 300;
    const int maxPads = static_cast<int>(room / 50 / 1.6);
    if (maxPads < 2) return;
    const int n = static_cast<int>(rng.Int(std::min(6, maxPads), std::min(16, maxPads)));
    const double cx = (t.x0 + t.x1) / 2, cy = (t.y0 + t.y1) / 2;
    const double half = n * 25.0 + 50;  // centre to the pad rows
    const double width = rng.Int(8, 10);
    const double spread = rng.Int(0, 3) * 10.0;
    for (int side = 0; side < 4; ++side) {
        const Pt dir = side == 0 ? Pt{-1, 0} : side == 1 ? Pt{1, 0} : side == 2 ? Pt{0, -1} : Pt{0, 1};
        const Pt along{-dir.y, dir.x};
        std::vector<Pt> pads;
        for (int i = 0; i < n; ++i) {
            const double offset = (i - (n - 1) / 2.0) * 50;
            const Pt c{cx + dir.x * half + along.x * offset, cy + dir.y * half + along.y * offset};
            const bool horizontal = dir.y == 0;
            layout.SquarePad(c, horizontal ? 60 : 22, horizontal ? 22 : 60, 0, kCopper2Color);
            pads.push_back(c);
        }
        const double reach =
            (dir.x != 0 ? t.Width() / 2 : t.Height() / 2) - half - kTileInset - 30;
        if (reach > 120) FanOut(layout, pads, dir, reach, spread, width, kCopperColor, true);
    }
    const uint32_t silk = layout.SilkColor();
    const double body = half - 50;
    layout.SilkBox({cx - body, cy - body, cx + body, cy + body}, silk);
    layout.Text({cx - body + 20, cy - body + 20}, layout.Designator('U'), 8, silk);
}

// A pin header along one edge with its tracks fanned out across the tile.
void ConnectorTile(Layout& layout, const Box& t) {
    Rng& rng = layout.Random();
    const int pins = static_cast<int>(std::min<double>(rng.Int(4, 16), (t.Width() - 2 * kTileInset - 100) / 100));
    if (pins < 2) return;
    const bool atTop = rng.Chance(0.5);
    const double cx = (t.x0 + t.x1) / 2;
    const double y = atTop ? t.y0 + kTileInset + 60 : t.y1 - kTileInset - 60;
    std::vector<Pt> pads;
    for (int i = 0; i < pins; ++i) {
        const Pt c{cx + (i - (pins - 1) / 2.0) * 100, y};
        if (i == 0) {
            layout.SquarePad(c, 66, 66, 40, kCopperColor);
        } else {
            layout.RoundPad(c, 66, 40);
        }
        pads.push_back(c);
    }
    const double reach = t.Height() - 2 * kTileInset - 160;
    if (reach > 120) {
        FanOut(layout, pads, {0, atTop ? 1.0 : -1.0}, reach, rng.Int(0, 2) * 10.0, rng.Int(10, 16),
               rng.Chance(0.7) ? kCopperColor : kCopper2Color, true);
    }
    const uint32_t silk = layout.SilkColor();
    layout.SilkBox({pads.front().x - 55, y - 55, pads.back().x + 55, y + 55}, silk);
    layout.Text({pads.front().x - 55, atTop ? y + 75 : y - 130}, layout.Designator('J'), 7, silk);
}

// A bundle of parallel tracks crossing the tile, shifting sideways at 45 degrees.
void BusTile(Layout& layout, const Box& t) {
    Rng& rng = layout.Random();
    const bool horizontal = rng.Chance(0.5);
    const double pitch = rng.Int(4, 6) * 10.0;
    const double length = horizontal ? t.Width() : t.Height();
    const double across = horizontal ? t.Height() : t.Width();
    const int count = static_cast<int>(std::min<double>(rng.Int(4, 12), (across - 2 * kTileInset - 200) / pitch));
    if (count < 1) return;
    const double width = rng.Int(8, 14);
    const uint32_t color = rng.Chance(0.5) ? kCopperColor : kCopper2Color;
    const double shift = rng.Int(1, 4) * 50.0 * (rng.Chance(0.5) ? 1 : -1);
    const double turnAt = length * rng.Real(0.3, 0.6);
    const double start = (across - (count - 1) * pitch - std::fabs(shift)) / 2 + (shift < 0 ? std::fabs(shift) : 0);
    for (int i = 0; i < count; ++i) {
        // Lay the bundle out along u (its length) and v (across), then map.
        const double v = start + i * pitch;
        const double u0 = kTileInset, u1 = length - kTileInset;
        const double points[4][2] = {{u0, v}, {turnAt, v}, {turnAt + std::fabs(shift), v + shift}, {u1, v + shift}};
        std::vector<Pt> track;
        for (const auto& p : points) {
            track.push_back(horizontal ? Pt{t.x0 + p[0], t.y0 + p[1]} : Pt{t.x0 + p[1], t.y0 + p[0]});
        }
        layout.Track(track, width, color);
        layout.Via(track.front());
        layout.Via(track.back());
    }
}

// A ground pour filling the tile: thermal pads, stitching vias, and tracks
// passing through with their clearance.
void PourTile(Layout& layout, const Box& t) {
    Rng& rng = layout.Random();
    const Box pour{t.x0 + 20, t.y0 + 20, t.x1 - 20, t.y1 - 20};
    layout.Pour(pour);
    const int across = std::max(1, static_cast<int>(pour.Width() / 250));
    const int down = std::max(1, static_cast<int>(pour.Height() / 250));
    for (int j = 0; j < down; ++j) {
        for (int i = 0; i < across; ++i) {
            const Pt c{pour.x0 + (i + 0.5) * pour.Width() / across, pour.y0 + (j + 0.5) * pour.Height() / down};
            const double roll = rng.Real();
            if (roll < 0.45) {
                layout.ThermalPad(c, 70, 36);
            } else if (roll < 0.75) {
                layout.RoundPad(c, 36, 16);  // stitching via, joined to the pour
            }
        }
    }
    const int tracks = static_cast<int>(rng.Int(0, 2));
    for (int k = 0; k < tracks; ++k) {
        const double y = pour.y0 + pour.Height() * (k + 1) / (tracks + 1) + 125.0 / down;
        layout.Track({{pour.x0 + 60, y}, {pour.x1 - 60, y}}, rng.Int(10, 20), kCopperColor, true);
        layout.Via({pour.x0 + 60, y}, true);
        layout.Via({pour.x1 - 60, y}, true);
    }
}

// The tracks of one routing channel: lanes along its length that shift
// together at 45 degrees, so they never cross. vertical channels carry the
// top copper, horizontal ones the second layer.
void Channel(Layout& layout, const Box& c, bool vertical) {
    Rng& rng = layout.Random();
    const double across = vertical ? c.Width() : c.Height();
    const double length = vertical ? c.Height() : c.Width();
    const int lanes = static_cast<int>(vertical ? rng.Int(2, 4) : rng.Int(1, 3));
    const double pitch = 50;
    const double slack = across - 60 - (lanes - 1) * pitch;
    if (slack < 0 || length < 200) return;
    const uint32_t color = vertical ? kCopperColor : kCopper2Color;
    const double width = rng.Int(8, 14);
    // The bundle's offset across the channel, changed at random points.
    std::vector<std::pair<double, double>> path;  // (along, offset)
    double along = 40, offset = rng.Real(0, slack);
    path.push_back({along, offset});
    while (true) {
        const double step = rng.Real(300, 1500);
        if (along + step > length - 40) break;
        along += step;
        path.push_back({along, offset});
        const double next = rng.Real(0, slack);
        along += std::fabs(next - offset);
        offset = next;
        if (along > length - 40) break;
        path.push_back({along, offset});
    }
    path.push_back({length - 40, offset});
    for (int lane = 0; lane < lanes; ++lane) {
        std::vector<Pt> track;
        for (const auto& [a, o] : path) {
            const double v = 30 + o + lane * pitch;
            track.push_back(vertical ? Pt{c.x0 + v, c.y0 + a} : Pt{c.x0 + a, c.y0 + v});
        }
        layout.Track(track, width, color);
        layout.Via(track.front());
        layout.Via(track.back());
    }
}

// Splits length into count tiles with gutters around them; count >= 1.
int TileCount(double length, double tile) {
    return std::max(1, static_cast<int>((length - 2 * kMargin - kGutter) / (tile + kGutter)));
}

void PlanBoard(Layout& layout, double boardW, double boardH, double dpi) {
    Rng& rng = layout.Random();
    const int nx = TileCount(boardW, kTileWidth), ny = TileCount(boardH, kTileHeight);
    const double tileW = (boardW - 2 * kMargin - (nx + 1) * kGutter) / nx;
    const double tileH = (boardH - 2 * kMargin - (ny + 1) * kGutter) / ny;

    for (int i = 0; i <= nx; ++i) {
        const double x = kMargin + i * (tileW + kGutter);
        Channel(layout, {x, kMargin, x + kGutter, boardH - kMargin}, true);
    }
    for (int j = 0; j <= ny; ++j) {
        const double y = kMargin + j * (tileH + kGutter);
        Channel(layout, {kMargin, y, boardW - kMargin, y + kGutter}, false);
    }
    if (tileW > 0 && tileH > 0) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                const double x = kMargin + kGutter + i * (tileW + kGutter);
                const double y = kMargin + kGutter + j * (tileH + kGutter);
                const Box tile{x, y, x + tileW, y + tileH};
                const double roll = rng.Real();
                if (roll < 0.24) {
                    DipTile(layout, tile);
                } else if (roll < 0.44) {
                    PassiveTile(layout, tile);
                } else if (roll < 0.60) {
                    SmdTile(layout, tile);
                } else if (roll < 0.72) {
                    ConnectorTile(layout, tile);
                } else if (roll < 0.88) {
                    BusTile(layout, tile);
                } else {
                    PourTile(layout, tile);
                }
            }
        }
    }

    // Board outline, mounting holes and title in the margin.
    layout.SilkBox({kMargin / 3, kMargin / 3, boardW - kMargin / 3, boardH - kMargin / 3}, kSilkYellowColor);
    for (const Pt c : {Pt{kMargin, kMargin}, Pt{boardW - kMargin, kMargin}, Pt{kMargin, boardH - kMargin},
                       Pt{boardW - kMargin, boardH - kMargin}}) {
        layout.RoundPad(c, 160, 110);
    }
    const std::string title = "RASTRACE " + std::to_string(static_cast<int>(dpi + 0.5)) + " DPI REV A";
    layout.Text({kMargin + 200, boardH - kMargin + 5}, title, 12, kSilkWhiteColor);
}

// ---------------------------------------------------------------------------
// Scanner noise: what the edges and surfaces of a real scan look like.

uint32_t PixelAt(const uint8_t* row, int32_t x) { return PackColor(row + static_cast<size_t>(x) * 3); }

void PutPixel(uint8_t* row, int32_t x, uint32_t color) {
    uint8_t* p = row + static_cast<size_t>(x) * 3;
    p[0] = static_cast<uint8_t>(color >> 16);
    p[1] = static_cast<uint8_t>(color >> 8);
    p[2] = static_cast<uint8_t>(color);
}

// a mixed with b in sixteenths (weight of b), each channel nudged by up to jitter.
uint32_t Blend(uint32_t a, uint32_t b, int weight, Rng& rng, int jitter) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int ca = static_cast<int>(a >> shift & 0xFF), cb = static_cast<int>(b >> shift & 0xFF);
        int v = (ca * (16 - weight) + cb * weight + 8) / 16;
        if (jitter > 0) v += static_cast<int>(rng.Int(-jitter, jitter));
        out |= static_cast<uint32_t>(std::clamp(v, 0, 255)) << shift;
    }
    return out;
}

// Edge pixels (those differing from a neighbour in the clean picture) take
// an intermediate colour. Along the side of a shape (left or right
// neighbour differs) every pixel is blended; along its top or bottom the
// edge alternates between stretches that are blended and stretches that
// keep their colour, as a scanner's sensor row drifts across a boundary.
void AntiAliasEdges(Raster& raster, Rng& rng) {
    const int32_t w = raster.Width(), h = raster.Height();
    const size_t rowBytes = static_cast<size_t>(w) * 3;
    std::vector<uint8_t> above(rowBytes), cur(rowBytes);
    for (int32_t y = 0; y < h; ++y) {
        std::memcpy(cur.data(), raster.RowBytes(y).data(), rowBytes);
        const uint8_t* up = y > 0 ? above.data() : nullptr;
        const uint8_t* down = y + 1 < h ? raster.RowBytes(y + 1).data() : nullptr;  // not yet changed
        uint8_t* out = raster.RowBytes(y).data();
        int32_t stretch = 0;
        int weight = 0;
        for (int32_t x = 0; x < w; ++x) {
            // Skip eight pixels at once where nothing changes around them.
            if (x > 0 && x + 9 <= w && up != nullptr && down != nullptr) {
                const uint8_t* c = cur.data() + static_cast<size_t>(x) * 3;
                if (std::memcmp(c - 3, c, 27) == 0 && std::memcmp(c, up + (c - cur.data()), 24) == 0 &&
                    std::memcmp(c, down + (c - cur.data()), 24) == 0) {
                    x += 7;
                    stretch = 0;
                    continue;
                }
            }
            const uint32_t c = PixelAt(cur.data(), x);
            const uint32_t left = x > 0 ? PixelAt(cur.data(), x - 1) : c;
            const uint32_t right = x + 1 < w ? PixelAt(cur.data(), x + 1) : c;
            if (left != c || right != c) {
                PutPixel(out, x, Blend(c, left != c ? left : right, static_cast<int>(rng.Int(3, 8)), rng, 2));
                stretch = 0;
                continue;
            }
            uint32_t other = c;
            if (up != nullptr && PixelAt(up, x) != c) {
                other = PixelAt(up, x);
            } else if (down != nullptr && PixelAt(down, x) != c) {
                other = PixelAt(down, x);
            }
            if (other == c) {
                stretch = 0;
                continue;
            }
            if (stretch == 0) {
                stretch = static_cast<int32_t>(rng.Int(8, 80));
                weight = rng.Chance(0.5) ? static_cast<int>(rng.Int(2, 8)) : 0;
            }
            --stretch;
            if (weight > 0) PutPixel(out, x, Blend(c, other, weight, rng, 1));
        }
        std::swap(above, cur);
    }
}

// Single pixels anywhere, their colour nudged a little: dust and sensor noise.
void SprinkleNoise(Raster& raster, Rng& rng, double rate) {
    const int64_t w = raster.Width(), h = raster.Height();
    const int64_t total = w * h;
    const auto meanGap = static_cast<int64_t>(1 / rate);
    for (int64_t i = rng.Int(0, 2 * meanGap); i < total; i += rng.Int(1, 2 * meanGap - 1)) {
        uint8_t* row = raster.RowBytes(static_cast<int32_t>(i / w)).data();
        const auto x = static_cast<int32_t>(i % w);
        const uint32_t c = PixelAt(row, x);
        uint32_t n = Blend(c, c, 0, rng, 12);
        if (n == c) n ^= 0x000001;
        PutPixel(row, x, n);
    }
}

}  // namespace

std::string_view PaletteName(uint32_t color) {
    switch (color) {
        case kSubstrateColor: return "substrate";
        case kCopperColor: return "copper";
        case kCopper2Color: return "copper 2";
        case kHoleColor: return "hole";
        case kSilkWhiteColor: return "silk white";
        case kSilkYellowColor: return "silk yellow";
        default: return "";
    }
}

double EffectiveDpi(const BoardOptions& options) {
    if (options.dpi > 0) return options.dpi;
    // The shorter side is 8.5 inches, unless that makes the longer one more
    // than 40: a strip of a picture stays a strip of a board, not thousands
    // of sub-pixel circuits.
    return std::max(std::min(options.width, options.height) / 8.5, std::max(options.width, options.height) / 40.0);
}

Raster GenerateBoard(const BoardOptions& options) {
    Raster raster(options.width, options.height, Raster::RowOrder::BottomUp);
    if (raster.Empty()) return raster;
    const double dpi = EffectiveDpi(options);
    const double u = dpi / 1000;  // pixels per mil

    // The substrate: one row drawn, then copied into every other row.
    Canvas canvas(raster);
    canvas.Span(0, 0, options.width - 1, kSubstrateColor);
    const size_t rowBytes = static_cast<size_t>(options.width) * 3;
    for (int32_t y = 1; y < options.height; ++y) {
        std::memcpy(raster.RowBytes(y).data(), raster.RowBytes(0).data(), rowBytes);
    }

    Rng rng(options.seed);
    Layout layout(u, rng);
    PlanBoard(layout, options.width / u, options.height / u, dpi);
    for (const auto& pass : layout.Passes()) {
        for (const Item& it : pass) {
            switch (it.kind) {
                case Item::kCapsule: canvas.Capsule(it.ax, it.ay, it.bx, it.by, it.r, it.color); break;
                case Item::kRect: canvas.Rect(it.ax, it.ay, it.bx, it.by, it.color); break;
                case Item::kDisc: canvas.Disc(it.ax, it.ay, it.r, it.color); break;
            }
        }
    }

    if (options.noise) {
        // A stream of its own, so the layout of a seed is the same with and without noise.
        Rng noiseRng(options.seed ^ 0x5EED5CA11Eull);
        AntiAliasEdges(raster, noiseRng);
        SprinkleNoise(raster, noiseRng, 0.0095);
    }
    return raster;
}

std::vector<ColorRuns> CountRuns(const Raster& raster) {
    std::unordered_map<uint32_t, ColorRuns> byColor;
    const int32_t w = raster.Width();
    for (int32_t y = 0; y < raster.Height(); ++y) {
        const uint8_t* row = raster.RowBytes(y).data();
        int32_t x = 0;
        while (x < w) {
            const uint32_t c = PixelAt(row, x);
            const int32_t start = x;
            const uint8_t* p = row + static_cast<size_t>(x) * 3;
            while (x + 1 < w && std::memcmp(p, p + 3, 3) == 0) {
                ++x;
                p += 3;
            }
            ++x;
            ColorRuns& entry = byColor[c];
            entry.color = c;
            ++entry.runs;
            entry.pixels += static_cast<uint64_t>(x - start);
        }
    }
    std::vector<ColorRuns> result;
    result.reserve(byColor.size());
    for (const auto& [color, entry] : byColor) result.push_back(entry);
    std::sort(result.begin(), result.end(), [](const ColorRuns& a, const ColorRuns& b) {
        return a.runs != b.runs ? a.runs > b.runs : a.color < b.color;
    });
    return result;
}

}  // namespace rastrace::bench

// ---------------------------------------------------------------------------
// The scanner model.

namespace rastrace::bench {

namespace {

// A smooth function of t in [0, 1] with values in about [-1, 1]: random
// values at a few evenly spaced knots, joined by Catmull-Rom curves (plain
// arithmetic, the same on every machine).
class SmoothCurve {
public:
    SmoothCurve(Rng& rng, int knots) {
        for (int i = 0; i < knots + 3; ++i) values_.push_back(rng.Real(-1, 1));
    }

    double At(double t) const {
        const double u = std::clamp(t, 0.0, 1.0) * static_cast<double>(values_.size() - 3);
        const auto i = std::min(static_cast<size_t>(u), values_.size() - 4);
        const double f = u - static_cast<double>(i);
        const double p0 = values_[i], p1 = values_[i + 1], p2 = values_[i + 2], p3 = values_[i + 3];
        return std::clamp(0.5 * (2 * p1 + (-p0 + p2) * f + (2 * p0 - 5 * p1 + 4 * p2 - p3) * f * f +
                                 (-p0 + 3 * p1 - 3 * p2 + p3) * f * f * f),
                          -1.0, 1.0);
    }

private:
    std::vector<double> values_;
};

void Dust(Raster& raster, const ScannerModel& model, Rng& rng, double dpi) {
    const double squareInches = static_cast<double>(raster.Width()) * raster.Height() / (dpi * dpi);
    const auto count = static_cast<int64_t>(model.dustPerSquareInch * squareInches + 0.5);
    Canvas canvas(raster);
    const double scale = dpi / 600;
    for (int64_t i = 0; i < count; ++i) {
        const double x = rng.Real(0, raster.Width()), y = rng.Real(0, raster.Height());
        const double radius = rng.Real(0.5, 2.5) * scale;
        const auto grey = static_cast<uint32_t>(rng.Chance(0.75) ? rng.Int(25, 70) : rng.Int(200, 245));
        canvas.Disc(x, y, radius, grey | grey << 8 | grey << 16);
    }
}

// The binomial blur, then light, noise and rounding, row by row in place:
// each output row needs the horizontally blurred rows around it, kept in a
// ring, and the rows below it are still the originals when it is written.
void BlurLightNoise(Raster& raster, const ScannerModel& model, Rng& rng) {
    const int32_t w = raster.Width(), h = raster.Height();
    const int order = std::clamp(model.blurOrder, 0, 8);
    const int radius = order / 2;  // an odd order is rounded down to the taps around the centre
    std::vector<uint32_t> taps(static_cast<size_t>(2 * radius + 1), 1);
    for (int k = 1; k <= 2 * radius; ++k) taps[static_cast<size_t>(k)] = taps[static_cast<size_t>(k - 1)] * (2 * radius - k + 1) / k;
    const double norm = 1.0 / static_cast<double>(uint64_t{1} << (4 * radius));

    const SmoothCurve along(rng, 3), down(rng, 4);
    std::vector<double> gainX(static_cast<size_t>(w));
    for (int32_t x = 0; x < w; ++x) gainX[static_cast<size_t>(x)] = 0.6 * along.At((x + 0.5) / w);

    const size_t rowValues = static_cast<size_t>(w) * 3;
    const int ringRows = 2 * radius + 1;
    std::vector<uint32_t> ring(rowValues * static_cast<size_t>(ringRows));
    auto blurRowInto = [&](int32_t y) {
        const uint8_t* in = raster.RowBytes(std::clamp(y, 0, h - 1)).data();
        uint32_t* out = ring.data() + rowValues * static_cast<size_t>((y % ringRows + ringRows) % ringRows);
        for (int32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                uint32_t sum = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int32_t xx = std::clamp(x + k, 0, w - 1);
                    sum += taps[static_cast<size_t>(k + radius)] * in[static_cast<size_t>(xx) * 3 + static_cast<size_t>(c)];
                }
                out[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] = sum;
            }
        }
    };
    // The ring holds the blurred rows y - radius .. y + radius; rows above
    // the picture repeat its first row, rows below its last.
    for (int32_t y = -radius; y < radius; ++y) blurRowInto(y);
    // Sensor noise: the sum of four 16-bit uniforms has the standard
    // deviation 65536 / sqrt(3) = 37837.
    const double noiseScale = model.noiseSigma / 37837.2;
    for (int32_t y = 0; y < h; ++y) {
        blurRowInto(y + radius);
        const double gainY = 0.4 * down.At((y + 0.5) / h);
        uint8_t* out = raster.RowBytes(y).data();
        for (int32_t x = 0; x < w; ++x) {
            const double gain = 1 + model.lightVariation * (gainX[static_cast<size_t>(x)] + gainY);
            for (int c = 0; c < 3; ++c) {
                uint64_t sum = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const uint32_t* row = ring.data() + rowValues * static_cast<size_t>(((y + k) % ringRows + ringRows) % ringRows);
                    sum += static_cast<uint64_t>(taps[static_cast<size_t>(k + radius)]) * row[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)];
                }
                const uint64_t bits = rng.Next();
                const int64_t uniforms = static_cast<int64_t>((bits & 0xFFFF) + (bits >> 16 & 0xFFFF) +
                                                              (bits >> 32 & 0xFFFF) + (bits >> 48)) - 2 * 65535;
                const double value = static_cast<double>(sum) * norm * gain + static_cast<double>(uniforms) * noiseScale;
                out[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] =
                    static_cast<uint8_t>(std::clamp(std::floor(value + 0.5), 0.0, 255.0));
            }
        }
    }
}

}  // namespace

void ApplyScanner(Raster& raster, const ScannerModel& model, uint64_t seed, double dpi) {
    if (raster.Empty()) return;
    Rng rng(seed ^ 0x5CA22E2ull);
    if (model.dustPerSquareInch > 0 && dpi > 0) Dust(raster, model, rng, dpi);
    BlurLightNoise(raster, model, rng);
    if (model.jpegQuality > 0) JpegRoundTrip(raster, model.jpegQuality);
}

std::vector<uint8_t> CopperMask(const Raster& board) {
    std::vector<uint8_t> mask(static_cast<size_t>(board.Width()) * static_cast<size_t>(board.Height()));
    for (int32_t y = 0; y < board.Height(); ++y) {
        const uint8_t* row = board.RowBytes(y).data();
        for (int32_t x = 0; x < board.Width(); ++x) {
            const uint32_t c = PixelAt(row, x);
            mask[static_cast<size_t>(y) * static_cast<size_t>(board.Width()) + static_cast<size_t>(x)] =
                c == kCopperColor || c == kCopper2Color ? 1 : 0;
        }
    }
    return mask;
}

}  // namespace rastrace::bench
