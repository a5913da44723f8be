// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/RealBoard.h"

#include "bench/BlockFont.h"
#include "bench/LineClip.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace rastrace::bench {

namespace {

// ---------------------------------------------------------------------------
// Random numbers: splitmix64, written out so a seed gives the same board with
// every standard library.

uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() { return Mix(state_ += 0x9E3779B97F4A7C15ull); }
    int64_t Int(int64_t lo, int64_t hi) { return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(hi - lo + 1)); }
    double Real() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Real(double lo, double hi) { return lo + (hi - lo) * Real(); }
    bool Chance(double p) { return Real() < p; }

private:
    uint64_t state_;
};

// Smooth value noise in [0, 1]: random values on a lattice of the given
// pitch, joined by smoothstep-weighted bilinear interpolation.
double ValueNoise(uint64_t seed, double x, double y, double pitch) {
    const double fx = x / pitch, fy = y / pitch;
    const double ix = std::floor(fx), iy = std::floor(fy);
    double tx = fx - ix, ty = fy - iy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const auto lx = static_cast<int64_t>(ix), ly = static_cast<int64_t>(iy);
    auto at = [&](int64_t a, int64_t b) {
        const uint64_t h = Mix(seed ^ Mix(static_cast<uint64_t>(a) * 0x9E3779B97F4A7C15ull ^
                                          static_cast<uint64_t>(b) * 0xC2B2AE3D27D4EB4Full));
        return static_cast<double>(h >> 11) * 0x1.0p-53;
    };
    const double top = at(lx, ly) * (1 - tx) + at(lx + 1, ly) * tx;
    const double bottom = at(lx, ly + 1) * (1 - tx) + at(lx + 1, ly + 1) * tx;
    return top * (1 - ty) + bottom * ty;
}

struct Pt {
    double x, y;
};
Pt operator+(Pt a, Pt b) { return {a.x + b.x, a.y + b.y}; }
Pt operator*(Pt a, double k) { return {a.x * k, a.y * k}; }

struct Box {
    double x0, y0, x1, y1;
    double Width() const { return x1 - x0; }
    double Height() const { return y1 - y0; }
    Pt Centre() const { return {(x0 + x1) / 2, (y0 + y1) / 2}; }
};

// ---------------------------------------------------------------------------
// The layers of material, one byte per pixel each, drawn from shapes in mils.
// A pixel belongs to a shape when its centre lies inside it.

enum Layer { kCopper, kOpen, kPrint, kHole, kFinish, kLayerCount };
enum Finish : uint8_t { kNoFinish, kTinFinish, kGoldFinish };

// The order shapes are applied in, whatever order the layout adds them:
// pours, then the gaps cut in them, then the copper on top, and so on.
enum Pass { kPourPass, kClearPass, kCopperPass, kSolderPass, kOpenPass, kPrintPass, kHolePass, kPassCount };

struct Shape {
    enum Kind { kCapsule, kRect, kDisc } kind;
    double ax, ay, bx, by, r;  // mils; a rect spans a..b, a disc is centred on a
    Layer layer;
    uint8_t value;
};

class Layers {
public:
    Layers(int32_t width, int32_t height, double pixelsPerMil, Pt origin)
        : w_(width), h_(height), u_(pixelsPerMil), origin_(origin) {
        for (auto& l : data_) l.assign(static_cast<size_t>(w_) * static_cast<size_t>(h_), 0);
    }

    std::vector<uint8_t>& operator[](Layer l) { return data_[l]; }

    void Draw(const Shape& s) {
        const double ax = origin_.x + s.ax * u_, ay = origin_.y + s.ay * u_;
        const double bx = origin_.x + s.bx * u_, by = origin_.y + s.by * u_;
        const double r = s.r * u_;
        std::vector<uint8_t>& layer = data_[s.layer];
        switch (s.kind) {
            case Shape::kRect:
                for (int32_t y = FirstRow(std::min(ay, by)); y <= LastRow(std::max(ay, by)); ++y) {
                    Span(layer, y, std::min(ax, bx), std::max(ax, bx), s.value);
                }
                break;
            case Shape::kDisc: Disc(layer, ax, ay, r, s.value); break;
            case Shape::kCapsule: Capsule(layer, ax, ay, bx, by, r, s.value); break;
        }
    }

private:
    int32_t FirstRow(double top) const { return static_cast<int32_t>(std::max(std::ceil(top - 0.5), 0.0)); }
    int32_t LastRow(double bottom) const {
        return static_cast<int32_t>(std::min(std::floor(bottom - 0.5), h_ - 1.0));
    }

    // The pixels of row y whose centres lie in [lo, hi].
    void Span(std::vector<uint8_t>& layer, int32_t y, double lo, double hi, uint8_t value) {
        if (y < 0 || y >= h_ || !(lo <= hi)) return;
        const double first = std::max(std::ceil(lo - 0.5), 0.0), last = std::min(std::floor(hi - 0.5), w_ - 1.0);
        if (first > last) return;
        std::memset(layer.data() + static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(first), value,
                    static_cast<size_t>(last - first + 1));
    }

    void Disc(std::vector<uint8_t>& layer, double cx, double cy, double r, uint8_t value) {
        r = std::max(r, 0.5);
        for (int32_t y = FirstRow(cy - r); y <= LastRow(cy + r); ++y) {
            const double dy = y + 0.5 - cy, h2 = r * r - dy * dy;
            if (h2 < 0) continue;
            const double h = std::sqrt(h2);
            Span(layer, y, cx - h, cx + h, value);
        }
    }

    // The segment a-b widened by r on each side, with round ends.
    void Capsule(std::vector<uint8_t>& layer, double ax, double ay, double bx, double by, double r, uint8_t value) {
        r = std::max(r, 0.5);
        const double len = std::sqrt((bx - ax) * (bx - ax) + (by - ay) * (by - ay));
        if (len > 0) {
            const double dx = (bx - ax) / len, dy = (by - ay) / len, nx = -dy, ny = dx;
            for (int32_t y = FirstRow(std::min(ay, by) - r); y <= LastRow(std::max(ay, by) + r); ++y) {
                const double py = y + 0.5 - ay;
                double lo = -1e300, hi = 1e300;
                if (!Clip(dx, py * dy, 0, len, lo, hi) || !Clip(nx, py * ny, -r, r, lo, hi)) continue;
                Span(layer, y, ax + lo, ax + hi, value);
            }
        }
        Disc(layer, ax, ay, r, value);
        Disc(layer, bx, by, r, value);
    }

    int32_t w_, h_;
    double u_;
    Pt origin_;
    std::array<std::vector<uint8_t>, kLayerCount> data_;
};

// ---------------------------------------------------------------------------
// The layout, in mils from the board's top left corner.

class Layout {
public:
    explicit Layout(Random& rng) : rng_(rng) {
        goldShare_ = rng_.Real(0.3, 0.7);
        tentedVias_ = rng_.Chance(0.5);
        expansion_ = rng_.Real(2, 4);
        viaFinish_ = rng_.Chance(goldShare_) ? kGoldFinish : kTinFinish;
    }

    Random& Rng() { return rng_; }
    const std::array<std::vector<Shape>, kPassCount>& Passes() const { return passes_; }

    // A pad finish for one part: gold on some parts, tin on others.
    Finish PartFinish() { return rng_.Chance(goldShare_) ? kGoldFinish : kTinFinish; }

    void Track(const std::vector<Pt>& points, double width) {
        for (size_t i = 1; i < points.size(); ++i) Add(kCopperPass, Shape::kCapsule, points[i - 1], points[i], width / 2, kCopper, 1);
    }
    // A track through a pour, with the pour cut back around it.
    void ClearedTrack(const std::vector<Pt>& points, double width, double clearance) {
        for (size_t i = 1; i < points.size(); ++i) {
            Add(kClearPass, Shape::kCapsule, points[i - 1], points[i], width / 2 + clearance, kCopper, 0);
        }
        Track(points, width);
    }

    void RoundPad(Pt c, double diameter, double hole, Finish finish) {
        Add(kCopperPass, Shape::kDisc, c, c, diameter / 2, kCopper, 1);
        // The finish plates all the copper its mask opening bares: the
        // pad and the start of its track alike.
        Add(kCopperPass, Shape::kDisc, c, c, diameter / 2 + expansion_, kFinish, finish);
        Add(kOpenPass, Shape::kDisc, c, c, diameter / 2 + expansion_, kOpen, 1);
        if (hole > 0) Add(kHolePass, Shape::kDisc, c, c, hole / 2, kHole, 1);
        Solder(c, diameter / 2, finish);
    }

    void RectPad(Pt c, double w, double h, double hole, Finish finish) {
        const Pt a{c.x - w / 2, c.y - h / 2}, b{c.x + w / 2, c.y + h / 2};
        Add(kCopperPass, Shape::kRect, a, b, 0, kCopper, 1);
        const Pt oa{a.x - expansion_, a.y - expansion_}, ob{b.x + expansion_, b.y + expansion_};
        Add(kCopperPass, Shape::kRect, oa, ob, 0, kFinish, finish);
        Add(kOpenPass, Shape::kRect, oa, ob, 0, kOpen, 1);
        if (hole > 0) Add(kHolePass, Shape::kDisc, c, c, hole / 2, kHole, 1);
        Solder(c, std::min(w, h) / 2, finish);
    }

    // An oval pad: a capsule along its longer side.
    void OvalPad(Pt c, double w, double h, double hole, Finish finish) {
        const double r = std::min(w, h) / 2;
        const Pt a = w >= h ? Pt{c.x - w / 2 + r, c.y} : Pt{c.x, c.y - h / 2 + r};
        const Pt b = w >= h ? Pt{c.x + w / 2 - r, c.y} : Pt{c.x, c.y + h / 2 - r};
        Add(kCopperPass, Shape::kCapsule, a, b, r, kCopper, 1);
        Add(kCopperPass, Shape::kCapsule, a, b, r + expansion_, kFinish, finish);
        Add(kOpenPass, Shape::kCapsule, a, b, r + expansion_, kOpen, 1);
        if (hole > 0) Add(kHolePass, Shape::kDisc, c, c, hole / 2, kHole, 1);
        Solder(c, r, finish);
    }

    // A via: a small drilled pad, covered by the mask on some boards (its hole still shows).
    void Via(Pt c, double diameter = 32) {
        const double hole = std::max(10.0, diameter * 0.42);
        Add(kCopperPass, Shape::kDisc, c, c, diameter / 2, kCopper, 1);
        Add(kCopperPass, Shape::kDisc, c, c, diameter / 2 + expansion_, kFinish, viaFinish_);
        if (!tentedVias_) Add(kOpenPass, Shape::kDisc, c, c, diameter / 2 + expansion_, kOpen, 1);
        Add(kHolePass, Shape::kDisc, c, c, hole / 2, kHole, 1);
    }

    void Pour(const Box& b) { Add(kPourPass, Shape::kRect, {b.x0, b.y0}, {b.x1, b.y1}, 0, kCopper, 1); }
    void ClearDisc(Pt c, double r) { Add(kClearPass, Shape::kDisc, c, c, r, kCopper, 0); }
    void Spoke(Pt a, Pt b, double width) { Add(kCopperPass, Shape::kCapsule, a, b, width / 2, kCopper, 1); }

    // An unplated mounting hole: no copper, the mask held back around it.
    void MountingHole(Pt c, double hole) {
        Add(kOpenPass, Shape::kDisc, c, c, hole / 2 + 30, kOpen, 1);
        Add(kHolePass, Shape::kDisc, c, c, hole / 2, kHole, 1);
    }
    // A fiducial: a copper dot in a wide mask opening.
    void Fiducial(Pt c) {
        Add(kCopperPass, Shape::kDisc, c, c, 20, kCopper, 1);
        Add(kCopperPass, Shape::kDisc, c, c, 20, kFinish, viaFinish_);
        Add(kOpenPass, Shape::kDisc, c, c, 55, kOpen, 1);
    }
    // A window in the mask with no copper under it.
    void OpenWindow(const Box& b) { Add(kOpenPass, Shape::kRect, {b.x0, b.y0}, {b.x1, b.y1}, 0, kOpen, 1); }

    void PrintLine(Pt a, Pt b, double width = 7) { Add(kPrintPass, Shape::kCapsule, a, b, width / 2, kPrint, 1); }
    void PrintBox(const Box& b, double width = 7) {
        PrintLine({b.x0, b.y0}, {b.x1, b.y0}, width);
        PrintLine({b.x1, b.y0}, {b.x1, b.y1}, width);
        PrintLine({b.x1, b.y1}, {b.x0, b.y1}, width);
        PrintLine({b.x0, b.y1}, {b.x0, b.y0}, width);
    }
    void PrintFill(const Box& b) { Add(kPrintPass, Shape::kRect, {b.x0, b.y0}, {b.x1, b.y1}, 0, kPrint, 1); }
    void PrintDot(Pt c, double r) { Add(kPrintPass, Shape::kDisc, c, c, r, kPrint, 1); }

    // Text with its top left corner at at, each dot cell mils square; returns its width.
    double Text(Pt at, std::string_view text, double cell) {
        double x = at.x;
        for (char ch : text) {
            if (const Glyph* found = FindGlyph(ch)) {
                const Glyph& g = *found;
                for (int row = 0; row < 7; ++row) {
                    for (int col = 0; col < 5;) {
                        if (g.rows[row][col] != '#') {
                            ++col;
                            continue;
                        }
                        int end = col;
                        while (end < 5 && g.rows[row][end] == '#') ++end;
                        PrintFill({x + col * cell, at.y + row * cell, x + end * cell, at.y + (row + 1) * cell});
                        col = end;
                    }
                }
            }
            x += 6 * cell;
        }
        return x - at.x;
    }

    std::string Designator(char prefix) { return prefix + std::to_string(++designators_); }

private:
    // Gold pads with solder left on some of them: a lump of tin inside the pad.
    void Solder(Pt c, double r, Finish finish) {
        if (finish != kGoldFinish || !rng_.Chance(0.3)) return;
        const double lump = r * rng_.Real(0.35, 0.7);
        const Pt at{c.x + rng_.Real(-0.3, 0.3) * (r - lump), c.y + rng_.Real(-0.3, 0.3) * (r - lump)};
        Add(kSolderPass, Shape::kDisc, at, at, lump, kFinish, kTinFinish);
    }

    void Add(Pass pass, Shape::Kind kind, Pt a, Pt b, double r, Layer layer, uint8_t value) {
        passes_[pass].push_back(Shape{kind, a.x, a.y, b.x, b.y, r, layer, value});
    }

    Random& rng_;
    double goldShare_ = 0.5, expansion_ = 3;
    bool tentedVias_ = false;
    Finish viaFinish_ = kTinFinish;
    int designators_ = 0;
    std::array<std::vector<Shape>, kPassCount> passes_;
};

// Directions tracks run in: the axes, the diagonals and a few other slopes
// (unit vectors from square roots only, the same on every machine).
Pt Direction(Random& rng) {
    static const double k2 = std::sqrt(2.0), k5 = std::sqrt(5.0), k10 = std::sqrt(10.0);
    const Pt table[] = {{1, 0}, {0, 1}, {1 / k2, 1 / k2}, {1 / k2, -1 / k2}, {2 / k5, 1 / k5},
                        {1 / k5, 2 / k5}, {1 / k5, -2 / k5}, {3 / k10, 1 / k10}, {1, 0}, {0, 1}};
    return table[rng.Int(0, 9)];
}

// Parallel tracks at one angle across the tile, ending in vias where they
// fit, with print across them.
void BusTile(Layout& layout, const Box& t) {
    Random& rng = layout.Rng();
    const Pt d = Direction(rng), n{-d.y, d.x};
    const int count = static_cast<int>(rng.Int(3, 8));
    const double width = static_cast<double>(rng.Int(8, 26)), gap = static_cast<double>(rng.Int(9, 22));
    const double pitch = width + gap;
    const Pt c = t.Centre();
    const double inset = 50;
    const double via = std::min(36.0, pitch - 9);
    for (int i = 0; i < count; ++i) {
        const double k = (i - (count - 1) / 2.0) * pitch;
        const Pt o = c + n * k;
        // The span of t along d inside the inset box.
        double lo = -1e9, hi = 1e9;
        auto clip = [&](double p, double dp, double a, double b) {
            if (std::fabs(dp) < 1e-9) {
                if (p < a || p > b) lo = 1, hi = 0;
                return;
            }
            double t0 = (a - p) / dp, t1 = (b - p) / dp;
            if (t0 > t1) std::swap(t0, t1);
            lo = std::max(lo, t0);
            hi = std::min(hi, t1);
        };
        clip(o.x, d.x, t.x0 + inset, t.x1 - inset);
        clip(o.y, d.y, t.y0 + inset, t.y1 - inset);
        if (hi - lo < 120) continue;
        const Pt a = o + d * lo, b = o + d * hi;
        layout.Track({a, b}, width);
        if (via >= width + 6) {
            layout.Via(a, via);
            layout.Via(b, via);
        }
    }
    if (rng.Chance(0.85)) {
        // A print stroke (or two) across the bus, as a part outline or a divider crosses tracks.
        const double half = (count / 2.0 + 1) * pitch;
        const double along = rng.Real(-0.2, 0.2) * std::min(t.Width(), t.Height());
        const double stroke = static_cast<double>(rng.Int(5, 10));
        layout.PrintLine(c + d * along + n * -half, c + d * along + n * half, stroke);
        if (rng.Chance(0.5)) {
            const double along2 = along + rng.Real(60, 120);
            layout.PrintLine(c + d * along2 + n * -half, c + d * along2 + n * half, stroke);
        }
    }
}

// A surface-mount chip: pads on two or four sides, tracks straight out to
// staggered vias, its outline printed across the tracks.
bool ChipTile(Layout& layout, const Box& t) {
    Random& rng = layout.Rng();
    const double pitch = std::array<double, 4>{32, 40, 50, 50}[static_cast<size_t>(rng.Int(0, 3))];
    const double padLong = static_cast<double>(rng.Int(40, 60)), padShort = pitch * rng.Real(0.5, 0.62);
    const double room = std::min(t.Width(), t.Height()) / 2 - 20;
    const double reach = 50;
    const int maxPins = static_cast<int>((room - padLong - reach - 2 * pitch - 40) * 2 / pitch) + 1;
    if (maxPins < 3) return false;
    const int pins = static_cast<int>(rng.Int(3, std::min(10, maxPins)));
    const bool quad = rng.Chance(0.45);
    const double body = (pins - 1) * pitch / 2 + 40;
    const double width = std::min(static_cast<double>(rng.Int(8, 12)), padShort - 2);
    const double via = std::min(30.0, 2 * pitch - 14);
    const Finish finish = layout.PartFinish();
    const Pt c = t.Centre();
    const Pt sides[4] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (int s = 0; s < (quad ? 4 : 2); ++s) {
        const Pt out = sides[s], along{-out.y, out.x};
        for (int i = 0; i < pins; ++i) {
            const double k = (i - (pins - 1) / 2.0) * pitch;
            const Pt p = c + out * (body + padLong / 2) + along * k;
            if (out.x != 0) {
                layout.RectPad(p, padLong, padShort, 0, finish);
            } else {
                layout.RectPad(p, padShort, padLong, 0, finish);
            }
            if (rng.Chance(0.2)) continue;
            const Pt end = p + out * (padLong / 2 + reach + (i % 2) * (via + 12));
            layout.Track({p, end}, width);
            layout.Via(end, via);
        }
    }
    const double frame = body + padLong + 14;
    const Box outline{c.x - frame, c.y - frame, c.x + frame, c.y + frame};
    layout.PrintBox(quad ? outline : Box{c.x - frame, c.y - body, c.x + frame, c.y + body}, static_cast<double>(rng.Int(6, 9)));
    layout.PrintDot({c.x - body + 25, c.y - body + 25}, 9);
    layout.Text({c.x - 40, c.y - 10}, layout.Designator('U'), 6);
    return true;
}

// Through-hole parts: one or two columns of drilled pads at 100 mils, the
// first square, tracks out sideways with a 45-degree jog to vias.
bool ThroughHoleTile(Layout& layout, const Box& t) {
    Random& rng = layout.Rng();
    const int maxPins = static_cast<int>((t.Height() - 160) / 100) + 1;
    if (maxPins < 2 || t.Width() < 450) return false;
    const int pins = static_cast<int>(rng.Int(2, std::min(10, maxPins)));
    const bool twoColumns = t.Width() >= 600 && rng.Chance(0.6);
    const double pad = static_cast<double>(rng.Int(56, 72)), hole = static_cast<double>(rng.Int(30, 40));
    const bool oval = rng.Chance(0.35);
    const double width = static_cast<double>(rng.Int(10, 20));
    const Finish finish = layout.PartFinish();
    const Pt c = t.Centre();
    const double top = c.y - (pins - 1) * 50.0;
    const double spacing = twoColumns ? std::min(300.0, t.Width() - 360) : 0;
    for (int col = 0; col < (twoColumns ? 2 : 1); ++col) {
        const double x = c.x + (col == 0 ? -spacing / 2 : spacing / 2);
        const double dir = col == 0 ? -1 : 1;
        const double edge = col == 0 ? t.x0 + 50 : t.x1 - 50;
        const double jog = (rng.Chance(0.5) ? 1 : -1) * (rng.Chance(0.5) ? 50.0 : 0.0);
        for (int i = 0; i < pins; ++i) {
            const Pt p{x, top + i * 100.0};
            if (col == 0 && i == 0) {
                layout.RectPad(p, pad, pad, hole, finish);
            } else if (oval) {
                layout.OvalPad(p, pad * 1.5, pad, hole, finish);
            } else {
                layout.RoundPad(p, pad, hole, finish);
            }
            if (rng.Chance(0.2)) continue;
            const double turn = x + dir * 90;
            const double jogged = std::fabs(edge - turn) > std::fabs(jog) + 60 ? jog : 0;
            const Pt end{edge, p.y + jogged};
            layout.Track({p, {turn, p.y}, {turn + dir * std::fabs(jogged), p.y + jogged}, end}, width);
            layout.Via(end, 36);
        }
    }
    const double half = spacing / 2 + pad * (oval ? 0.75 : 0.5) + 22;
    layout.PrintBox({c.x - half, top - 60, c.x + half, top + (pins - 1) * 100.0 + 60}, static_cast<double>(rng.Int(6, 9)));
    layout.Text({c.x - half, top - 120}, layout.Designator('J'), 7);
    return true;
}

// Two-pin parts in rows, chained by tracks that run through their printed
// outlines, and a round test point on each row.
void PassiveTile(Layout& layout, const Box& t) {
    Random& rng = layout.Rng();
    const double padW = static_cast<double>(rng.Int(36, 60)), padH = static_cast<double>(rng.Int(45, 70));
    const double span = padW + static_cast<double>(rng.Int(30, 60));
    const double pitchX = span + padW + 90, pitchY = padH + 110;
    const int perRow = static_cast<int>((t.Width() - 140) / pitchX);
    const int rows = static_cast<int>((t.Height() - 100) / pitchY);
    const double width = static_cast<double>(rng.Int(10, 24));
    for (int r = 0; r < rows; ++r) {
        const double y = t.y0 + 80 + r * pitchY + padH / 2;
        Pt last{-1, -1};
        for (int i = 0; i < perRow; ++i) {
            const double x = t.x0 + 70 + i * pitchX + padW / 2;
            const Finish finish = layout.PartFinish();
            const bool oval = rng.Chance(0.25);
            for (const double px : {x, x + span}) {
                if (oval) {
                    layout.OvalPad({px, y}, padW, padH, 0, finish);
                } else {
                    layout.RectPad({px, y}, padW, padH, 0, finish);
                }
            }
            layout.PrintBox({x - padW / 2 - 14, y - padH / 2 - 14, x + span + padW / 2 + 14, y + padH / 2 + 14}, 6);
            if (last.x >= 0 && rng.Chance(0.8)) layout.Track({last, {x, y}}, width);
            last = {x + span, y};
        }
        if (last.x >= 0 && last.x + 110 < t.x1 - 30) {
            const Pt tp{std::min(last.x + 120, t.x1 - 50), y};
            layout.Track({last, tp}, width);
            layout.RoundPad(tp, 50, 0, layout.PartFinish());
        }
    }
}

// A copper pour with a clearance around what it does not join: thermal
// pads joined by spokes, vias stitched to it, free vias and a track through it.
bool PourTile(Layout& layout, const Box& t) {
    Random& rng = layout.Rng();
    const Box pour{t.x0 + 30, t.y0 + 30, t.x1 - 30, t.y1 - 30};
    if (pour.Width() < 300 || pour.Height() < 300) return false;
    layout.Pour(pour);
    const double clearance = static_cast<double>(rng.Int(10, 18));
    const Finish finish = layout.PartFinish();
    const int across = static_cast<int>(pour.Width() / 200), down = static_cast<int>(pour.Height() / 200);
    for (int j = 0; j < down; ++j) {
        for (int i = 0; i < across; ++i) {
            const Pt c{pour.x0 + 100 + i * 200.0 + rng.Real(-20, 20), pour.y0 + 100 + j * 200.0 + rng.Real(-20, 20)};
            const double roll = rng.Real();
            if (roll < 0.35) {
                const double pad = static_cast<double>(rng.Int(60, 80)), spoke = static_cast<double>(rng.Int(12, 20));
                const double outer = pad / 2 + clearance;
                layout.ClearDisc(c, outer);
                layout.Spoke({c.x - outer - 2, c.y}, {c.x + outer + 2, c.y}, spoke);
                layout.Spoke({c.x, c.y - outer - 2}, {c.x, c.y + outer + 2}, spoke);
                layout.RoundPad(c, pad, static_cast<double>(rng.Int(30, 40)), finish);
            } else if (roll < 0.6) {
                layout.ClearDisc(c, 16 + clearance);
                layout.Via(c);
            } else if (roll < 0.8) {
                layout.Via(c);  // stitched: no clearance
            }
        }
    }
    if (rng.Chance(0.7) && down >= 2) {
        const double y = pour.y0 + 200 + rng.Real(-10, 10);
        const Pt a{pour.x0 + 60, y}, b{pour.x1 - 60, y};
        layout.ClearedTrack({a, b}, static_cast<double>(rng.Int(10, 16)), clearance);
        layout.ClearDisc(a, 16 + clearance);
        layout.ClearDisc(b, 16 + clearance);
        layout.Via(a);
        layout.Via(b);
    }
    // A label printed over the pour.
    layout.Text({pour.x0 + 40, pour.y1 - 80}, rng.Chance(0.5) ? "GND" : "V+", static_cast<double>(rng.Int(7, 10)));
    return true;
}

void PlanBoard(Layout& layout, double boardW, double boardH, bool masked) {
    Random& rng = layout.Rng();
    const double margin = std::min(140.0, std::min(boardW, boardH) / 6), gutter = 90;
    const int cols = std::max(1, static_cast<int>((boardW - 2 * margin + gutter) / (620 + gutter)));
    const int rows = std::max(1, static_cast<int>((boardH - 2 * margin + gutter) / (540 + gutter)));
    const double tileW = (boardW - 2 * margin - (cols - 1) * gutter) / cols;
    const double tileH = (boardH - 2 * margin - (rows - 1) * gutter) / rows;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const Box t{margin + c * (tileW + gutter), margin + r * (tileH + gutter), margin + c * (tileW + gutter) + tileW,
                        margin + r * (tileH + gutter) + tileH};
            // A tile too small for the part drawn becomes a bus.
            const double roll = rng.Real();
            bool drawn = true;
            if (roll < 0.25) {
                drawn = false;
            } else if (roll < 0.45) {
                drawn = ChipTile(layout, t);
            } else if (roll < 0.65) {
                drawn = ThroughHoleTile(layout, t);
            } else if (roll < 0.82) {
                PassiveTile(layout, t);
            } else {
                drawn = PourTile(layout, t);
            }
            if (!drawn) BusTile(layout, t);
        }
    }
    // Long tracks along the gutters between rows of tiles, and print across some.
    for (int r = 1; r < rows; ++r) {
        const double y = margin + r * (tileH + gutter) - gutter / 2;
        const double width = static_cast<double>(rng.Int(10, 24));
        const Pt a{margin, y}, b{boardW - margin, y};
        layout.Track({a, b}, width);
        layout.Via(a, 36);
        layout.Via(b, 36);
        if (rng.Chance(0.6)) {
            const double x = rng.Real(margin + 100, boardW - margin - 100);
            layout.PrintLine({x, y - 40}, {x, y + 40}, static_cast<double>(rng.Int(6, 10)));
        }
    }
    // The corners: mounting holes; fiducials; a title, a label field and a
    // mask window along the edges.
    const double hole = std::min(110.0, margin * 0.7);
    for (const Pt c : {Pt{margin / 2, margin / 2}, Pt{boardW - margin / 2, margin / 2}, Pt{margin / 2, boardH - margin / 2},
                       Pt{boardW - margin / 2, boardH - margin / 2}}) {
        layout.MountingHole(c, hole);
    }
    if (masked) {
        layout.Fiducial({boardW / 2, margin / 2});
        if (rng.Chance(0.7)) layout.OpenWindow({boardW * 0.6, boardH - margin * 0.75, boardW * 0.6 + 160, boardH - margin * 0.35});
    }
    if (rng.Chance(0.6)) layout.PrintFill({boardW * 0.15, margin * 0.25, boardW * 0.15 + 260, margin * 0.75});
    layout.Text({margin + 60, boardH - margin * 0.78}, "PCB-2 REV3", std::min(10.0, margin / 14));
}

// ---------------------------------------------------------------------------
// Shading: the colour each surface shows, with the texture it has.

struct Rgb {
    double r, g, b;
};

struct StyleLook {
    bool masked;
    bool printed;  // no-mask boards: print on some only
    Rgb mask, maskedCopper, print;
    Finish bareFinish;  // no-mask boards: the copper everywhere
};

StyleLook LookOf(BoardStyle style, Random& rng) {
    const Rgb white{234, 234, 226}, yellow{228, 206, 70};
    switch (style) {
        case BoardStyle::GreenWhite: return {true, true, {36, 102, 56}, {74, 146, 76}, white, kNoFinish};
        case BoardStyle::Blue: return {true, true, {26, 56, 128}, {54, 96, 172}, white, kNoFinish};
        case BoardStyle::Red: return {true, true, {148, 28, 34}, {196, 66, 60}, white, kNoFinish};
        case BoardStyle::BlackWhite: return {true, true, {28, 29, 31}, {56, 57, 58}, white, kNoFinish};
        case BoardStyle::GreenYellow: return {true, true, {40, 110, 50}, {80, 154, 70}, yellow, kNoFinish};
        case BoardStyle::NoMaskTinned: return {false, rng.Chance(0.5), {}, {}, white, kTinFinish};
        case BoardStyle::NoMaskBare: return {false, rng.Chance(0.5), {}, {}, white, kNoFinish};
    }
    return {};
}

// The glass weave of FR4: bundles of fibre, warp and weft alternating in a
// plain weave of pitch mils; -0.67 between bundles up to 0.33 on their crests.
double Weave(double x, double y, double pitch) {
    const double fx = x / pitch, fy = y / pitch;
    const double cx = std::floor(fx), cy = std::floor(fy);
    const bool warp = (static_cast<int64_t>(cx) + static_cast<int64_t>(cy)) % 2 == 0;
    const double t = warp ? fy - cy : fx - cx;
    return 0.5 - 4 * (t - 0.5) * (t - 0.5) - 0.17;
}

Rgb Scale(Rgb c, double k) { return {c.r * k, c.g * k, c.b * k}; }

}  // namespace

std::string_view SurfaceName(Surface surface) {
    switch (surface) {
        case Surface::Lid: return "lid";
        case Surface::Hole: return "hole";
        case Surface::Fr4: return "FR4";
        case Surface::Mask: return "mask";
        case Surface::Print: return "print";
        case Surface::MaskedCopper: return "copper under mask";
        case Surface::Tinned: return "tinned copper";
        case Surface::Gold: return "gold copper";
        case Surface::BareCopper: return "bare copper";
    }
    return "";
}

const std::array<BoardStyle, 7>& AllBoardStyles() {
    static const std::array<BoardStyle, 7> styles = {BoardStyle::GreenWhite, BoardStyle::Blue,         BoardStyle::Red,
                                                     BoardStyle::BlackWhite, BoardStyle::GreenYellow,
                                                     BoardStyle::NoMaskTinned, BoardStyle::NoMaskBare};
    return styles;
}

std::string_view BoardStyleName(BoardStyle style) {
    switch (style) {
        case BoardStyle::GreenWhite: return "green";
        case BoardStyle::Blue: return "blue";
        case BoardStyle::Red: return "red";
        case BoardStyle::BlackWhite: return "black";
        case BoardStyle::GreenYellow: return "green-yellow";
        case BoardStyle::NoMaskTinned: return "tinned";
        case BoardStyle::NoMaskBare: return "bare";
    }
    return "";
}

std::optional<BoardStyle> BoardStyleNamed(std::string_view name) {
    for (const BoardStyle s : AllBoardStyles()) {
        if (BoardStyleName(s) == name) return s;
    }
    return std::nullopt;
}

RealBoard DrawRealBoard(const RealBoardOptions& options) {
    RealBoard result;
    const int32_t w = options.width, h = options.height;
    result.picture = Raster(w, h, Raster::RowOrder::TopDown);
    if (result.picture.Empty()) return result;
    const double u = options.dpi / 1000;  // pixels per mil
    Random rng(options.seed * 0x2545F4914F6CDD1Dull + static_cast<uint64_t>(options.style) + 1);
    const StyleLook look = LookOf(options.style, rng);
    result.lidOpen = options.seed % 3 == 0;  // one scan in three with the lid left open

    // The board: the picture less a margin of lid on each side, maybe with rounded corners.
    auto margin = [&](int32_t side) { return std::floor(side * rng.Real(0.03, 0.07)); };
    const double left = margin(w), right = margin(w), top = margin(h), bottom = margin(h);
    const double boardW = (w - left - right) / u, boardH = (h - top - bottom) / u;
    const double corner = rng.Chance(0.5) ? rng.Real(40, 150) : 0;

    Layout layout(rng);
    PlanBoard(layout, boardW, boardH, look.masked);
    if (look.masked) {
        // Silkscreen lines across the tracks here and there, as outlines and dividers run.
        const int strokes = static_cast<int>(rng.Int(1, 3));
        for (int i = 0; i < strokes; ++i) {
            const double x = rng.Real(0.2, 0.8) * boardW;
            layout.PrintLine({x, boardH * 0.1}, {x + rng.Real(-60, 60), boardH * 0.9}, static_cast<double>(rng.Int(6, 10)));
        }
    }
    Layers layers(w, h, u, {left, top});
    for (const auto& pass : layout.Passes()) {
        for (const Shape& s : pass) {
            if (s.layer == kPrint && !look.printed) continue;
            layers.Draw(s);
        }
    }

    const uint64_t textureSeed = Mix(options.seed ^ 0x7E47u ^ static_cast<uint64_t>(options.style) << 40);
    const Rgb lid = result.lidOpen ? Rgb{14, 14, 16} : Rgb{240, 240, 236};
    const Rgb fr4{186, 176, 128}, tin{200, 201, 204}, gold{226, 178, 78}, bare{206, 128, 86};
    const double weavePitch = rng.Real(14, 20);
    result.surface.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    result.copper.assign(result.surface.size(), 0);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = result.picture.RowBytes(y).data();
        const double my = (y + 0.5 - top) / u;
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            const double mx = (x + 0.5 - left) / u;
            // Inside the outline: the rectangle less the corners outside their arcs.
            bool inside = mx >= 0 && mx < boardW && my >= 0 && my < boardH;
            if (inside && corner > 0) {
                const double dx = mx < corner ? corner - mx : mx > boardW - corner ? mx - (boardW - corner) : 0;
                const double dy = my < corner ? corner - my : my > boardH - corner ? my - (boardH - corner) : 0;
                inside = dx * dx + dy * dy <= corner * corner;
            }
            const bool copper = inside && layers[kCopper][i] && !layers[kHole][i];
            const bool open = layers[kOpen][i] != 0, print = layers[kPrint][i] != 0;
            Surface s;
            if (!inside) {
                s = Surface::Lid;
            } else if (layers[kHole][i]) {
                s = Surface::Hole;
            } else if (look.masked) {
                if (open) {
                    s = !copper ? Surface::Fr4 : layers[kFinish][i] == kGoldFinish ? Surface::Gold : Surface::Tinned;
                } else {
                    s = print ? Surface::Print : copper ? Surface::MaskedCopper : Surface::Mask;
                }
            } else if (print && !open) {
                s = Surface::Print;
            } else {
                s = !copper ? Surface::Fr4 : look.bareFinish == kTinFinish ? Surface::Tinned : Surface::BareCopper;
            }
            result.surface[i] = static_cast<uint8_t>(s);
            result.copper[i] = copper;

            const double slow = ValueNoise(textureSeed, mx, my, 400) - 0.5;  // across the board
            Rgb c{};
            switch (s) {
                case Surface::Lid: c = lid; break;
                case Surface::Hole: c = Scale(lid, result.lidOpen ? 1.0 : 0.93); break;
                case Surface::Fr4: c = Scale(fr4, 1 + 0.16 * Weave(mx, my, weavePitch) + 0.08 * slow); break;
                case Surface::Mask: c = Scale(look.mask, 1 + 0.05 * Weave(mx, my, weavePitch) + 0.12 * slow); break;
                case Surface::MaskedCopper: c = Scale(look.maskedCopper, 1 + 0.10 * slow); break;
                case Surface::Print: c = Scale(look.print, 1 + 0.03 * (ValueNoise(textureSeed + 1, mx, my, 6) - 0.5)); break;
                case Surface::Tinned: {
                    // Solder sets in lumps: broad swells and fine grain, bright crests.
                    const double lump = 0.65 * ValueNoise(textureSeed + 2, mx, my, 9) + 0.35 * ValueNoise(textureSeed + 3, mx, my, 3);
                    c = Scale(tin, 0.72 + 0.45 * lump * lump);
                    break;
                }
                case Surface::Gold: c = Scale(gold, 1 + 0.08 * (ValueNoise(textureSeed + 4, mx, my, 12) - 0.5)); break;
                case Surface::BareCopper: {
                    const double tarnish = ValueNoise(textureSeed + 5, mx, my, 60);
                    c = Scale(bare, 0.85 + 0.25 * tarnish);
                    break;
                }
            }
            uint8_t* p = row + 3 * static_cast<size_t>(x);
            p[0] = static_cast<uint8_t>(std::clamp(std::floor(c.b + 0.5), 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(std::floor(c.g + 0.5), 0.0, 255.0));
            p[2] = static_cast<uint8_t>(std::clamp(std::floor(c.r + 0.5), 0.0, 255.0));
        }
    }
    return result;
}

}  // namespace rastrace::bench
