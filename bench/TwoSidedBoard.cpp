// SPDX-License-Identifier: GPL-3.0-or-later
// Two-layer boards: parts placed on the board, nets designed among their
// pins, tracks routed on a grid of 0.25 mm cells with occupancy per side,
// then both sides rendered through their maps and scanned.
#include "bench/TwoSidedBoard.h"

#include "bench/BmpWriter.h"
#include "common/Error.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <queue>

namespace rastrace::bench {
namespace {

// splitmix64, written out so a seed gives the same board with every library.
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

// A piece of copper or a drill, in board millimetres (origin at the board's
// top-left corner seen from above, Y down).
struct Prim {
    enum Kind : uint8_t { Disc, Capsule, Rect } kind = Disc;
    double ax = 0, ay = 0, bx = 0, by = 0, r = 0;  // Rect: centre a, half sizes b

    double Distance(double x, double y) const {
        switch (kind) {
        case Disc: return std::hypot(x - ax, y - ay) - r;
        case Capsule: {
            const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
            double t = len2 > 0 ? ((x - ax) * dx + (y - ay) * dy) / len2 : 0;
            t = std::clamp(t, 0.0, 1.0);
            return std::hypot(x - ax - t * dx, y - ay - t * dy) - r;
        }
        case Rect: {
            const double qx = std::abs(x - ax) - bx, qy = std::abs(y - ay) - by;
            return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0);
        }
        }
        return 0;
    }
    void Bounds(double& x0, double& y0, double& x1, double& y1) const {
        if (kind == Rect) {
            x0 = ax - bx, x1 = ax + bx, y0 = ay - by, y1 = ay + by;
        } else {
            const double bxx = kind == Capsule ? bx : ax, byy = kind == Capsule ? by : ay;
            x0 = std::min(ax, bxx) - r, x1 = std::max(ax, bxx) + r;
            y0 = std::min(ay, byy) - r, y1 = std::max(ay, byy) + r;
        }
    }
};

// Primitives bucketed on a grid of 1 mm cells: each cell lists every
// primitive within `reach` of it, so a point's list holds all primitives
// nearer than reach.
class PrimIndex {
public:
    PrimIndex(const std::vector<Prim>& prims, double w, double h, double reach) : prims_(prims) {
        nx_ = static_cast<int32_t>(std::ceil(w)) + 2, ny_ = static_cast<int32_t>(std::ceil(h)) + 2;
        cells_.resize(static_cast<size_t>(nx_) * ny_);
        for (size_t i = 0; i < prims.size(); ++i) {
            double x0, y0, x1, y1;
            prims[i].Bounds(x0, y0, x1, y1);
            const int32_t c0 = Cell(x0 - reach, nx_), c1 = Cell(x1 + reach, nx_);
            const int32_t r0 = Cell(y0 - reach, ny_), r1 = Cell(y1 + reach, ny_);
            for (int32_t r = r0; r <= r1; ++r)
                for (int32_t c = c0; c <= c1; ++c) cells_[static_cast<size_t>(r) * nx_ + c].push_back(static_cast<int32_t>(i));
        }
    }
    const std::vector<int32_t>& At(double x, double y) const {
        return cells_[static_cast<size_t>(Cell(y, ny_)) * nx_ + Cell(x, nx_)];
    }
    // The least distance to the primitives listed at (x, y); +inf for none.
    double Distance(const std::vector<int32_t>& list, double x, double y) const {
        double d = std::numeric_limits<double>::infinity();
        for (int32_t i : list) d = std::min(d, prims_[static_cast<size_t>(i)].Distance(x, y));
        return d;
    }
    bool Inside(const std::vector<int32_t>& list, double x, double y) const {
        for (int32_t i : list)
            if (prims_[static_cast<size_t>(i)].Distance(x, y) < 0) return true;
        return false;
    }

private:
    static int32_t Cell(double v, int32_t n) { return std::clamp(static_cast<int32_t>(std::floor(v)) + 1, 0, n - 1); }
    const std::vector<Prim>& prims_;
    int32_t nx_ = 0, ny_ = 0;
    std::vector<std::vector<int32_t>> cells_;
};

struct Pin {
    double x = 0, y = 0;
    bool tht = true;
    double drill = 0, pad = 0;  // through-hole
    double hw = 0, hh = 0;      // SMD half sizes
    int32_t part = 0;
    int32_t net = 0;  // the designed net (0: none)
    int side = 0;     // an SMD pad's side: 0 top, 1 bottom
};

struct BoardHoleMm {
    double x, y, drill, pad;
    bool plated, via;
};

constexpr double kGrid = 0.25;        // router cell, mm
constexpr double kClearance = 0.2;    // between copper of different nets, mm
constexpr double kCellSlack = 0.178;  // half a cell's diagonal: what a cell centre may miss

// The router: per side, the owner of each 0.25 mm cell (0 free, -1 kept
// out, else a net), and where no via may go.
class Router {
public:
    Router(double w, double h) : nx_(static_cast<int32_t>(std::ceil(w / kGrid))), ny_(static_cast<int32_t>(std::ceil(h / kGrid))) {
        for (auto& o : owner_) o.assign(static_cast<size_t>(nx_) * ny_, 0);
        noVia_.assign(static_cast<size_t>(nx_) * ny_, 0);
    }
    int32_t Nx() const { return nx_; }
    int32_t Ny() const { return ny_; }
    static double Centre(int32_t i) { return (i + 0.5) * kGrid; }
    int32_t CellX(double x) const { return std::clamp(static_cast<int32_t>(x / kGrid), 0, nx_ - 1); }
    int32_t CellY(double y) const { return std::clamp(static_cast<int32_t>(y / kGrid), 0, ny_ - 1); }

    // Marks every cell whose centre lies within grow of p as owned by net
    // (-1: kept out) on the given sides (bit 0 top, bit 1 bottom).
    void Mark(const Prim& p, double grow, int32_t net, int sides) {
        double x0, y0, x1, y1;
        p.Bounds(x0, y0, x1, y1);
        for (int32_t r = CellY(y0 - grow); r <= CellY(y1 + grow); ++r)
            for (int32_t c = CellX(x0 - grow); c <= CellX(x1 + grow); ++c) {
                if (p.Distance(Centre(c), Centre(r)) >= grow) continue;
                for (int s = 0; s < 2; ++s) {
                    if (!(sides >> s & 1)) continue;
                    int32_t& o = owner_[s][Index(c, r)];
                    if (o != -1) o = net;
                }
            }
    }
    void MarkNoVia(double x, double y, double radius) {
        for (int32_t r = CellY(y - radius); r <= CellY(y + radius); ++r)
            for (int32_t c = CellX(x - radius); c <= CellX(x + radius); ++c)
                if (std::hypot(Centre(c) - x, Centre(r) - y) < radius) noVia_[Index(c, r)] = 1;
    }
    bool Free(int side, int32_t c, int32_t r, const std::vector<std::pair<int32_t, int32_t>>& disc, int32_t net) const {
        for (auto [dx, dy] : disc) {
            const int32_t x = c + dx, y = r + dy;
            if (x < 0 || y < 0 || x >= nx_ || y >= ny_) return false;
            const int32_t o = owner_[side][Index(x, y)];
            if (o != 0 && o != net) return false;
        }
        return true;
    }
    bool ViaAllowed(int32_t c, int32_t r) const { return !noVia_[Index(c, r)]; }
    size_t Index(int32_t c, int32_t r) const { return static_cast<size_t>(r) * nx_ + c; }

private:
    int32_t nx_, ny_;
    std::vector<int32_t> owner_[2];
    std::vector<uint8_t> noVia_;
};

std::vector<std::pair<int32_t, int32_t>> DiscOffsets(double radiusMm) {
    std::vector<std::pair<int32_t, int32_t>> out;
    const int32_t n = static_cast<int32_t>(std::ceil(radiusMm / kGrid));
    for (int32_t dy = -n; dy <= n; ++dy)
        for (int32_t dx = -n; dx <= n; ++dx)
            if (std::hypot(dx, dy) * kGrid <= radiusMm) out.emplace_back(dx, dy);
    return out;
}

// A routed connection: polylines per side (cell indices) and via cells.
struct Route {
    std::vector<std::pair<int, std::vector<std::pair<int32_t, int32_t>>>> runs;
    std::vector<std::pair<int32_t, int32_t>> vias;
};

// A* over (side, cell) within a box around the two ends; moves to the 8
// neighbours, or to the other side through a via. Empty when no way exists.
bool FindRoute(const Router& router, int32_t net, const Pin& a, const Pin& b, double hw, double viaRadius, Route& route) {
    const auto trackDisc = DiscOffsets(hw + kClearance + 2 * kCellSlack);
    const auto viaDisc = DiscOffsets(viaRadius + kClearance + kCellSlack);
    const int32_t ac = router.CellX(a.x), ar = router.CellY(a.y), bc = router.CellX(b.x), br = router.CellY(b.y);
    const int32_t margin = 40;  // 10 mm around the ends
    const int32_t c0 = std::max(0, std::min(ac, bc) - margin), c1 = std::min(router.Nx() - 1, std::max(ac, bc) + margin);
    const int32_t r0 = std::max(0, std::min(ar, br) - margin), r1 = std::min(router.Ny() - 1, std::max(ar, br) + margin);
    const int32_t bw = c1 - c0 + 1, bh = r1 - r0 + 1;
    const size_t plane = static_cast<size_t>(bw) * bh;
    std::vector<int8_t> free(2 * plane, -1), via(plane, -1);
    std::vector<int32_t> cost(2 * plane, std::numeric_limits<int32_t>::max());
    std::vector<int32_t> from(2 * plane, -1);
    auto state = [&](int s, int32_t c, int32_t r) { return static_cast<int32_t>(s * plane + static_cast<size_t>(r - r0) * bw + (c - c0)); };
    auto isEnd = [&](int32_t c, int32_t r) { return (c == ac && r == ar) || (c == bc && r == br); };
    auto freeAt = [&](int s, int32_t c, int32_t r) {
        if (isEnd(c, r)) return true;
        int8_t& f = free[static_cast<size_t>(state(s, c, r))];
        if (f < 0) f = router.Free(s, c, r, trackDisc, net) ? 1 : 0;
        return f == 1;
    };
    auto viaAt = [&](int32_t c, int32_t r) {
        int8_t& f = via[static_cast<size_t>(state(0, c, r))];
        if (f < 0) f = router.ViaAllowed(c, r) && router.Free(0, c, r, viaDisc, net) && router.Free(1, c, r, viaDisc, net) ? 1 : 0;
        return f == 1;
    };
    auto h = [&](int32_t c, int32_t r) {
        const int32_t dx = std::abs(c - bc), dy = std::abs(r - br);
        return 10 * std::max(dx, dy) + 4 * std::min(dx, dy);
    };
    using Entry = std::pair<int32_t, int32_t>;  // (f, state)
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> open;
    for (int s = 0; s < 2; ++s) {
        if (!a.tht && s != a.side) continue;
        const int32_t st = state(s, ac, ar);
        cost[static_cast<size_t>(st)] = 0;
        open.push({h(ac, ar), st});
    }
    int32_t goal = -1;
    while (!open.empty()) {
        const auto [f, st] = open.top();
        open.pop();
        const int s = static_cast<int>(static_cast<size_t>(st) / plane);
        const int32_t local = static_cast<int32_t>(static_cast<size_t>(st) % plane);
        const int32_t c = c0 + local % bw, r = r0 + local / bw;
        const int32_t g = cost[static_cast<size_t>(st)];
        if (f - h(c, r) > g) continue;
        if (c == bc && r == br && (b.tht || s == b.side)) {
            goal = st;
            break;
        }
        auto relax = [&](int32_t next, int32_t ng, int32_t nc, int32_t nr) {
            if (ng < cost[static_cast<size_t>(next)]) {
                cost[static_cast<size_t>(next)] = ng;
                from[static_cast<size_t>(next)] = st;
                open.push({ng + h(nc, nr), next});
            }
        };
        for (int32_t dy = -1; dy <= 1; ++dy)
            for (int32_t dx = -1; dx <= 1; ++dx) {
                if (!dx && !dy) continue;
                const int32_t nc = c + dx, nr = r + dy;
                if (nc < c0 || nc > c1 || nr < r0 || nr > r1 || !freeAt(s, nc, nr)) continue;
                // The top prefers to run across, the bottom down, as boards are often laid out.
                const bool against = s == 0 ? (dy && !dx) : (dx && !dy);
                relax(state(s, nc, nr), g + (dx && dy ? 14 : against ? 13 : 10), nc, nr);
            }
        if (!isEnd(c, r) && viaAt(c, r) && freeAt(1 - s, c, r)) relax(state(1 - s, c, r), g + 80, c, r);
    }
    if (goal < 0) return false;
    route = {};
    int lastSide = -1;
    for (int32_t st = goal; st >= 0; st = from[static_cast<size_t>(st)]) {
        const int s = static_cast<int>(static_cast<size_t>(st) / plane);
        const int32_t local = static_cast<int32_t>(static_cast<size_t>(st) % plane);
        const std::pair<int32_t, int32_t> cell{c0 + local % bw, r0 + local / bw};
        if (s != lastSide) {
            if (lastSide >= 0) route.vias.push_back(cell);
            route.runs.push_back({s, {}});
            lastSide = s;
        }
        route.runs.back().second.push_back(cell);
    }
    return true;
}

// Labels the 4-connected regions of set pixels 1, 2, ...; returns the count.
int32_t LabelRegions(const std::vector<uint8_t>& set, int32_t w, int32_t h, std::vector<int32_t>& label) {
    label.assign(set.size(), 0);
    int32_t count = 0;
    std::vector<int32_t> stack;
    for (size_t i = 0; i < set.size(); ++i) {
        if (!set[i] || label[i]) continue;
        label[i] = ++count;
        stack.push_back(static_cast<int32_t>(i));
        while (!stack.empty()) {
            const int32_t p = stack.back();
            stack.pop_back();
            const int32_t x = p % w, y = p / w;
            const int32_t nb[4] = {x > 0 ? p - 1 : -1, x + 1 < w ? p + 1 : -1, y > 0 ? p - w : -1, y + 1 < h ? p + w : -1};
            for (int32_t q : nb)
                if (q >= 0 && set[static_cast<size_t>(q)] && !label[static_cast<size_t>(q)]) {
                    label[static_cast<size_t>(q)] = count;
                    stack.push_back(q);
                }
        }
    }
    return count;
}

struct UnionFind {
    std::vector<int32_t> parent;
    explicit UnionFind(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int32_t Find(int32_t a) {
        while (parent[static_cast<size_t>(a)] != a) a = parent[static_cast<size_t>(a)] = parent[static_cast<size_t>(parent[static_cast<size_t>(a)])];
        return a;
    }
    void Join(int32_t a, int32_t b) { parent[static_cast<size_t>(Find(a))] = Find(b); }
};

double Channel(uint32_t color, int c) { return static_cast<double>(color >> (8 * c) & 0xFF); }

// One side's geometry seen through its map: renders the scan (before the
// scanner) and the copper truth.
void Render(const std::vector<Prim>& copper, const std::vector<Prim>& drills, double w, double h, double corner,
            const Affine2& pixelToBoard, double pxMm, const uint32_t palette[3], Raster& out, std::vector<uint8_t>& truth) {
    const double reach = 0.75 * pxMm;
    const PrimIndex cu(copper, w, h, reach), holes(drills, w, h, reach);
    auto boardDistance = [&](double x, double y) {
        const double qx = std::abs(x - w / 2) - (w / 2 - corner), qy = std::abs(y - h / 2) - (h / 2 - corner);
        return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - corner;
    };
    // 0 lid (around the board or through a drill), 1 board, 2 copper.
    auto classAt = [&](double x, double y) {
        if (boardDistance(x, y) >= 0) return 0;
        if (holes.Inside(holes.At(x, y), x, y)) return 0;
        return cu.Inside(cu.At(x, y), x, y) ? 2 : 1;
    };
    const int32_t W = out.Width(), H = out.Height();
    truth.assign(static_cast<size_t>(W) * H, 0);
    const uint32_t colour[3] = {palette[2], palette[1], palette[0]};  // lid, board, copper
    for (int32_t r = 0; r < H; ++r) {
        uint8_t* row = out.RowBytes(r).data();
        for (int32_t c = 0; c < W; ++c) {
            const Vec2 p = pixelToBoard.Apply({c + 0.5, r + 0.5});
            int counts[3] = {0, 0, 0};
            const double db = boardDistance(p.x, p.y);
            bool uniform = false;
            if (db > reach) {
                counts[0] = 9, uniform = true;
            } else if (db < -reach) {
                const double dh = holes.Distance(holes.At(p.x, p.y), p.x, p.y);
                const double dc = cu.Distance(cu.At(p.x, p.y), p.x, p.y);
                if (dh < -reach) counts[0] = 9, uniform = true;
                else if (dh > reach && std::abs(dc) > reach) counts[dc < 0 ? 2 : 1] = 9, uniform = true;
            }
            if (!uniform) {
                for (int sy = 0; sy < 3; ++sy)
                    for (int sx = 0; sx < 3; ++sx) {
                        const Vec2 q = pixelToBoard.Apply({c + (sx + 0.5) / 3, r + (sy + 0.5) / 3});
                        ++counts[classAt(q.x, q.y)];
                    }
            }
            for (int ch = 0; ch < 3; ++ch) {
                double v = 0;
                for (int k = 0; k < 3; ++k) v += counts[k] * Channel(colour[k], ch);
                row[3 * c + (2 - ch)] = static_cast<uint8_t>(std::lround(v / 9));  // bytes are B, G, R
            }
            truth[static_cast<size_t>(r) * W + c] = counts[2] >= 5;
        }
    }
}

// The scanner: blur [1 2 1] / 4 each way, per-channel gain, noise.
void Scan(Raster& raster, const TwoSidedOptions& o, const double gain[3], uint64_t seed) {
    const int32_t W = raster.Width(), H = raster.Height();
    Random rng(seed);
    std::vector<uint8_t> prev, cur, next;
    auto load = [&](int32_t r, std::vector<uint8_t>& into) {
        const auto src = raster.RowBytes(std::clamp(r, 0, H - 1));
        into.assign(src.begin(), src.end());
        if (!o.blur) return;
        std::vector<uint8_t> tmp = into;
        for (int32_t c = 0; c < W; ++c)
            for (int k = 0; k < 3; ++k) {
                const int32_t l = std::max(c - 1, 0), rr = std::min(c + 1, W - 1);
                into[3 * c + k] = static_cast<uint8_t>((tmp[3 * l + k] + 2 * tmp[3 * c + k] + tmp[3 * rr + k] + 2) / 4);
            }
    };
    load(0, prev);
    load(0, cur);
    for (int32_t r = 0; r < H; ++r) {
        load(r + 1, next);
        uint8_t* row = raster.RowBytes(r).data();
        for (int32_t i = 0; i < 3 * W; ++i) {
            double v = o.blur ? (prev[i] + 2.0 * cur[i] + next[i]) / 4 : cur[i];
            v *= gain[2 - i % 3];  // bytes are B, G, R; gain is R, G, B
            if (o.noiseSigma > 0) {
                // Irwin-Hall: the sum of four uniforms, centred and scaled to sigma.
                const uint64_t u = rng.Next();
                const double s = static_cast<double>((u & 0xFFFF) + (u >> 16 & 0xFFFF) + (u >> 32 & 0xFFFF) + (u >> 48)) / 65535.0;
                v += (s - 2) * std::sqrt(3.0) * o.noiseSigma;
            }
            row[i] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        }
        std::swap(prev, cur);
        std::swap(cur, next);
    }
}

uint32_t Gained(uint32_t color, const double gain[3]) {
    uint32_t out = 0;
    for (int ch = 0; ch < 3; ++ch)
        out |= static_cast<uint32_t>(std::clamp(std::lround(Channel(color, ch) * gain[ch]), 0L, 255L)) << (8 * ch);
    return out;
}

}  // namespace

TwoSidedBoard MakeTwoSidedBoard(const TwoSidedOptions& o) {
    const double W = o.widthMm, H = o.heightMm;
    const double bottomDpi = o.bottomDpi == 0 ? o.dpi : o.bottomDpi;
    if (!(W >= 5 && W <= 1000 && H >= 5 && H <= 1000)) throw Error("The board must be 5 to 1000 mm on each side.");
    if (!(o.dpi >= 50 && o.dpi <= 4800 && bottomDpi >= 50 && bottomDpi <= 4800))
        throw Error("The resolution must be 50 to 4800 dpi.");
    if (!(o.maxTurnDeg >= 0 && o.maxTurnDeg <= 45)) throw Error("The turn must be 0 to 45 degrees.");
    if (!(o.maxScale >= 0 && o.maxScale <= 0.05)) throw Error("The scale difference must be 0 to 0.05.");
    if (!(o.hiddenHoleShare >= 0 && o.hiddenHoleShare <= 1 && o.spuriousHoleShare >= 0 && o.spuriousHoleShare <= 1))
        throw Error("The shares of hidden and spurious holes must be 0 to 1.");
    if (!(o.noiseSigma >= 0 && o.noiseSigma <= 64 && o.gainRange >= 0 && o.gainRange <= 0.5))
        throw Error("The scanner's noise must be 0 to 64 levels and its gain range 0 to 0.5.");
    {
        // The scans' size before anything is drawn: the bottom at most the
        // turned board's bounding square.
        const double st = o.dpi / 25.4, sb = bottomDpi / 25.4 * (1 + o.maxScale), lid = 2 * 3 + 1.5;
        const double diagonal = std::hypot(W, H) + lid;
        if ((W + lid) * (H + lid) * st * st + diagonal * diagonal * sb * sb > 1.2e9)
            throw Error("The scans would be too large: lower the resolution or the board size.");
    }
    Random rng(o.seed * 0x2545F4914F6CDD1Dull + 0x7A5);
    const double corner = o.cornerRadiusMm >= 0 ? std::min({o.cornerRadiusMm, W / 2, H / 2})
                                                : (rng.Chance(0.5) ? rng.Real(1, std::min({3.0, W / 4, H / 4})) : 0);

    // --- Parts and mounting holes ---
    std::vector<Pin> pins;
    std::vector<BoardHoleMm> holes;
    std::vector<std::array<double, 4>> taken;  // boxes kept clear of other parts
    if (W >= 25 && H >= 25) {
        for (int k = 0; k < 4; ++k) {
            const double x = k % 2 ? W - 4 : 4, y = k / 2 ? H - 4 : 4;
            holes.push_back({x, y, 3.2, 0, false, false});
            taken.push_back({x - 4, y - 4, x + 4, y + 4});
        }
    }
    const int attempts = std::max(12, static_cast<int>(W * H / 70));
    int32_t parts = 0;
    for (int a = 0; a < attempts; ++a) {
        std::vector<Pin> part;
        const double kind = rng.Real();
        if (kind < 0.25) {  // DIP: two rows 7.62 mm apart, 2.54 mm pitch
            const int n = static_cast<int>(rng.Int(2, 7)) * 2;
            const double drill = rng.Real(0.8, 1.1), pad = std::max(rng.Real(1.5, 1.9), drill + 0.5);
            for (int i = 0; i < n; ++i) {
                Pin p;
                p.x = (i < n / 2 ? i : n - 1 - i) * 2.54, p.y = i < n / 2 ? 7.62 : 0;
                p.drill = drill, p.pad = pad;
                part.push_back(p);
            }
        } else if (kind < 0.6) {  // pin header 1xN or 2xN
            const int rows = rng.Chance(0.5) ? 1 : 2, n = static_cast<int>(rng.Int(2, rows == 1 ? 10 : 8));
            const double drill = rng.Real(0.8, 1.1), pad = std::max(rng.Real(1.5, 1.9), drill + 0.5);
            for (int j = 0; j < rows; ++j)
                for (int i = 0; i < n; ++i) {
                    Pin p;
                    p.x = i * 2.54, p.y = j * 2.54, p.drill = drill, p.pad = pad;
                    part.push_back(p);
                }
        } else {  // a two-pad SMD part, mostly on the top
            const int side = rng.Chance(0.25) ? 1 : 0;
            const double hw = rng.Real(0.4, 0.6), hh = rng.Real(0.5, 0.8), pitch = 2 * hw + rng.Real(0.8, 1.6);
            for (int i = 0; i < 2; ++i) {
                Pin p;
                p.tht = false, p.x = i * pitch, p.hw = hw, p.hh = hh, p.side = side;
                part.push_back(p);
            }
        }
        const bool turn = rng.Chance(0.5);
        double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
        for (Pin& p : part) {
            if (turn) std::swap(p.x, p.y), std::swap(p.hw, p.hh);
            const double ex = p.tht ? p.pad / 2 : p.hw, ey = p.tht ? p.pad / 2 : p.hh;
            x0 = std::min(x0, p.x - ex), x1 = std::max(x1, p.x + ex), y0 = std::min(y0, p.y - ey), y1 = std::max(y1, p.y + ey);
        }
        const double keep = 1.2, edge = 2.5 + corner / 2;
        if (x1 - x0 + 2 * edge > W || y1 - y0 + 2 * edge > H) continue;
        const double ox = rng.Real(edge - x0, W - edge - x1), oy = rng.Real(edge - y0, H - edge - y1);
        const std::array<double, 4> box{x0 + ox - keep, y0 + oy - keep, x1 + ox + keep, y1 + oy + keep};
        bool clash = false;
        for (const auto& t : taken) clash |= box[0] < t[2] && t[0] < box[2] && box[1] < t[3] && t[1] < box[3];
        if (clash) continue;
        taken.push_back(box);
        ++parts;
        for (Pin& p : part) {
            p.x += ox, p.y += oy, p.part = parts;
            pins.push_back(p);
        }
    }

    // --- Designed nets: a pin and up to three near pins of other parts ---
    std::vector<size_t> order(pins.size());
    std::iota(order.begin(), order.end(), 0);
    for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[static_cast<size_t>(rng.Int(0, static_cast<int64_t>(i) - 1))]);
    struct Connection {
        int32_t net;
        size_t a, b;
        double length;
    };
    std::vector<Connection> connections;
    int32_t designed = 0;
    for (size_t i : order) {
        if (pins[i].net || !rng.Chance(0.7)) continue;
        std::vector<std::pair<double, size_t>> near;
        for (size_t j = 0; j < pins.size(); ++j) {
            if (pins[j].net || pins[j].part == pins[i].part || j == i) continue;
            const double d = std::hypot(pins[j].x - pins[i].x, pins[j].y - pins[i].y);
            if (d < 35) near.emplace_back(d, j);
        }
        if (near.empty()) continue;
        std::sort(near.begin(), near.end());
        const size_t take = std::min(near.size(), static_cast<size_t>(rng.Int(1, 3)));
        pins[i].net = ++designed;
        std::vector<size_t> tree{i};
        for (size_t k = 0; k < take; ++k) {
            const size_t j = near[k].second;
            pins[j].net = designed;
            size_t best = tree[0];
            for (size_t t : tree)
                if (std::hypot(pins[t].x - pins[j].x, pins[t].y - pins[j].y) < std::hypot(pins[best].x - pins[j].x, pins[best].y - pins[j].y)) best = t;
            connections.push_back({designed, best, j, std::hypot(pins[best].x - pins[j].x, pins[best].y - pins[j].y)});
            tree.push_back(j);
        }
    }
    std::stable_sort(connections.begin(), connections.end(), [](const Connection& a, const Connection& b) { return a.length < b.length; });

    // --- Copper of the pins, the router's occupancy ---
    std::vector<Prim> copper[2], drills;
    Router router(W, H);
    {
        // The edge and the mounting holes are kept out of everyone's way.
        const double band = 0.8;
        for (int32_t r = 0; r < router.Ny(); ++r)
            for (int32_t c = 0; c < router.Nx(); ++c) {
                const double x = Router::Centre(c), y = Router::Centre(r);
                const double qx = std::abs(x - W / 2) - (W / 2 - corner), qy = std::abs(y - H / 2) - (H / 2 - corner);
                const double d = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - corner;
                if (d > -band) {
                    Prim cell{Prim::Disc, x, y, 0, 0, 0.01};
                    router.Mark(cell, kCellSlack, -1, 3);
                }
            }
    }
    for (const BoardHoleMm& h : holes) {
        drills.push_back({Prim::Disc, h.x, h.y, 0, 0, h.drill / 2});
        router.Mark({Prim::Disc, h.x, h.y, 0, 0, h.drill / 2 + 0.3}, kCellSlack, -1, 3);
        router.MarkNoVia(h.x, h.y, h.drill / 2 + 1.0);
    }
    // Unconnected pins get a net of their own in the router, so nobody runs over them.
    int32_t routerNet = designed;
    std::vector<int32_t> pinRouterNet(pins.size());
    for (size_t i = 0; i < pins.size(); ++i) {
        Pin& p = pins[i];
        pinRouterNet[i] = p.net ? p.net : ++routerNet;
        if (p.tht) {
            const Prim pad{Prim::Disc, p.x, p.y, 0, 0, p.pad / 2};
            copper[0].push_back(pad), copper[1].push_back(pad);
            drills.push_back({Prim::Disc, p.x, p.y, 0, 0, p.drill / 2});
            holes.push_back({p.x, p.y, p.drill, p.pad, true, false});
            router.Mark(pad, kCellSlack, pinRouterNet[i], 3);
            router.MarkNoVia(p.x, p.y, p.pad / 2 + 0.9);
        } else {
            const Prim pad{Prim::Rect, p.x, p.y, p.hw, p.hh, 0};
            copper[p.side].push_back(pad);
            router.Mark(pad, kCellSlack, pinRouterNet[i], 1 << p.side);
            router.MarkNoVia(p.x, p.y, std::max(p.hw, p.hh) + 0.6);
        }
    }

    // --- Tracks ---
    TwoSidedBoard board;
    std::vector<std::pair<double, double>> netStyle(static_cast<size_t>(designed) + 1);  // track half width, via drill
    for (auto& s : netStyle) s = {rng.Real(0.1, 0.3), rng.Real(0.3, 0.6)};
    for (const Connection& k : connections) {
        const double hw = netStyle[static_cast<size_t>(k.net)].first, drill = netStyle[static_cast<size_t>(k.net)].second;
        const double ring = rng.Real(0.15, 0.25), viaRadius = drill / 2 + ring;
        Route route;
        bool ok = FindRoute(router, k.net, pins[k.a], pins[k.b], hw, viaRadius, route);
        for (size_t i = 0; ok && i < route.vias.size(); ++i)
            for (size_t j = i + 1; j < route.vias.size(); ++j)
                ok &= std::hypot(route.vias[i].first - route.vias[j].first, route.vias[i].second - route.vias[j].second) * kGrid >= 2 * viaRadius + 1.0;
        if (!ok) {
            ++board.droppedConnections;
            continue;
        }
        ++board.routedConnections;
        for (const auto& [side, cells] : route.runs) {
            // Straight runs of the cell path become one capsule each.
            auto emit = [&](size_t i0, size_t i1) {
                const auto& a = cells[i0];
                const auto& b = cells[i1];
                const Prim track{Prim::Capsule, Router::Centre(a.first), Router::Centre(a.second), Router::Centre(b.first), Router::Centre(b.second), hw};
                copper[side].push_back(track);
                router.Mark(track, kCellSlack, k.net, 1 << side);
            };
            size_t start = 0;
            for (size_t i = 2; i < cells.size(); ++i) {
                if (cells[i].first - cells[i - 1].first != cells[i - 1].first - cells[i - 2].first ||
                    cells[i].second - cells[i - 1].second != cells[i - 1].second - cells[i - 2].second) {
                    emit(start, i - 1);
                    start = i - 1;
                }
            }
            emit(start, cells.size() - 1);
        }
        for (const auto& v : route.vias) {
            const double x = Router::Centre(v.first), y = Router::Centre(v.second);
            const Prim pad{Prim::Disc, x, y, 0, 0, viaRadius};
            copper[0].push_back(pad), copper[1].push_back(pad);
            drills.push_back({Prim::Disc, x, y, 0, 0, drill / 2});
            holes.push_back({x, y, drill, 2 * viaRadius, true, true});
            router.Mark(pad, kCellSlack, k.net, 3);
            router.MarkNoVia(x, y, 2 * viaRadius + 0.5);
        }
    }

    // --- The maps: board millimetres to each scan's pixels ---
    const double st = o.dpi / 25.4, sb = bottomDpi / 25.4, lid = 3;
    const double shiftX = rng.Real(0, 1.5), shiftY = rng.Real(0, 1.5);
    const Affine2 boardToTop{st, 0, 0, st, st * (lid + shiftX), st * (lid + shiftY)};
    const int32_t topW = static_cast<int32_t>(std::ceil(st * (W + 2 * lid + 1.5)));
    const int32_t topH = static_cast<int32_t>(std::ceil(st * (H + 2 * lid + 1.5)));
    const double pi = std::acos(-1.0);
    const double turn = ((o.quarterTurns ? static_cast<double>(rng.Int(0, 3)) * 90 : 0) + rng.Real(-o.maxTurnDeg, o.maxTurnDeg)) * pi / 180;
    const double kx = sb * (1 + rng.Real(-o.maxScale, o.maxScale)), ky = sb * (1 + rng.Real(-o.maxScale, o.maxScale));
    // Mirror x about the board's centre, turn, scale along the scanner's axes.
    const double cs = std::cos(turn), sn = std::sin(turn);
    Affine2 boardToBottom{-kx * cs, -kx * sn, -ky * sn, ky * cs, 0, 0};
    const Vec2 mid = boardToBottom.Apply({W / 2, H / 2});
    boardToBottom.tx = -mid.x, boardToBottom.ty = -mid.y;
    double bx0 = 1e18, by0 = 1e18, bx1 = -1e18, by1 = -1e18;
    for (Vec2 corner4 : {Vec2{0, 0}, Vec2{W, 0}, Vec2{0, H}, Vec2{W, H}}) {
        const Vec2 q = boardToBottom.Apply(corner4);
        bx0 = std::min(bx0, q.x), by0 = std::min(by0, q.y), bx1 = std::max(bx1, q.x), by1 = std::max(by1, q.y);
    }
    boardToBottom.tx += sb * (lid + rng.Real(0, 1.5)) - bx0;
    boardToBottom.ty += sb * (lid + rng.Real(0, 1.5)) - by0;
    const int32_t botW = static_cast<int32_t>(std::ceil(bx1 - bx0 + sb * (2 * lid + 1.5)));
    const int32_t botH = static_cast<int32_t>(std::ceil(by1 - by0 + sb * (2 * lid + 1.5)));
    if (static_cast<double>(topW) * topH + static_cast<double>(botW) * botH > 1.2e9)
        throw Error("The scans would be too large: lower the resolution or the board size.");
    board.bottomToTop = boardToBottom.Inverse().Then(boardToTop);

    // --- Holes one scan does not show (filled with solder, taped over) and
    // round lid-coloured spots that are no hole, for the robustness of a
    // registration; drawn from their own random numbers so a board without
    // them is the same board.
    std::vector<Prim> sideDrills[2];
    std::vector<int> hiddenOn(holes.size(), 0);
    {
        Random extra(Mix(o.seed ^ 0xD1CEull));
        if (o.hiddenHoleShare > 0)
            for (int& h : hiddenOn)
                if (extra.Chance(o.hiddenHoleShare)) h = static_cast<int>(extra.Int(1, 2));
        for (int s = 0; s < 2; ++s)
            for (size_t i = 0; i < holes.size(); ++i)
                if (hiddenOn[i] != s + 1) sideDrills[s].push_back(drills[i]);
        const auto wanted = static_cast<size_t>(std::lround(o.spuriousHoleShare * static_cast<double>(holes.size())));
        for (int tries = 0; board.spurious.size() < wanted && tries < 100 * static_cast<int>(wanted); ++tries) {
            const int side = static_cast<int>(extra.Int(0, 1));
            const double d = extra.Real(0.5, 1.2), x = extra.Real(3, W - 3), y = extra.Real(3, H - 3);
            const int32_t c = router.CellX(x), r = router.CellY(y);
            if (!router.ViaAllowed(c, r) || !router.Free(side, c, r, DiscOffsets(d / 2 + 0.4), std::numeric_limits<int32_t>::max())) continue;
            router.MarkNoVia(x, y, d + 1);
            sideDrills[side].push_back({Prim::Disc, x, y, 0, 0, d / 2});
            board.spurious.push_back({{x, y}, side == 1, d});  // in mm until the maps are known
        }
    }

    // --- Render and scan both sides ---
    double gain[3];
    for (double& g : gain) g = 1 + rng.Real(-o.gainRange, o.gainRange);
    const uint32_t palette[3] = {o.copperColor, o.boardColor, o.lidColor};
    board.top = Raster(topW, topH);
    board.bottom = Raster(botW, botH);
    Render(copper[0], sideDrills[0], W, H, corner, boardToTop.Inverse(), 1 / st, palette, board.top, board.topCopper);
    Render(copper[1], sideDrills[1], W, H, corner, boardToBottom.Inverse(), 1 / std::min(kx, ky), palette, board.bottom, board.bottomCopper);
    for (SpuriousHole& h : board.spurious) h.centre = (h.bottom ? boardToBottom : boardToTop).Apply(h.centre);
    Scan(board.top, o, gain, rng.Next());
    Scan(board.bottom, o, gain, rng.Next());
    board.copperColor = Gained(o.copperColor, gain);
    board.boardColor = Gained(o.boardColor, gain);
    board.lidColor = Gained(o.lidColor, gain);

    // --- The true nets, from the drawn copper ---
    std::vector<int32_t> topLabel, botLabel;
    const int32_t topCount = LabelRegions(board.topCopper, topW, topH, topLabel);
    const int32_t botCount = LabelRegions(board.bottomCopper, botW, botH, botLabel);
    UnionFind groups(static_cast<size_t>(topCount + botCount) + 1);
    // The label of the side's copper nearest to p within the annulus r0..r1 (mm).
    auto ringLabels = [&](const Affine2& toPx, double pxPerMm, const std::vector<int32_t>& label, int32_t w, int32_t h,
                          double x, double y, double r0, double r1, int32_t offset, std::vector<int32_t>& found) {
        const Vec2 c = toPx.Apply({x, y});
        const double R0 = r0 * pxPerMm, R1 = r1 * pxPerMm;
        for (int32_t py = static_cast<int32_t>(c.y - R1) - 1; py <= static_cast<int32_t>(c.y + R1) + 1; ++py)
            for (int32_t px = static_cast<int32_t>(c.x - R1) - 1; px <= static_cast<int32_t>(c.x + R1) + 1; ++px) {
                if (px < 0 || py < 0 || px >= w || py >= h) continue;
                const double d = std::hypot(px + 0.5 - c.x, py + 0.5 - c.y);
                const int32_t l = label[static_cast<size_t>(py) * w + px];
                if (l && d >= R0 && d <= R1) found.push_back(l + offset);
            }
    };
    for (const BoardHoleMm& h : holes) {
        if (!h.plated) continue;
        std::vector<int32_t> found;
        const double sbMean = (kx + ky) / 2;
        ringLabels(boardToTop, st, topLabel, topW, topH, h.x, h.y, h.drill / 2, h.pad / 2, 0, found);
        ringLabels(boardToBottom, sbMean, botLabel, botW, botH, h.x, h.y, h.drill / 2, h.pad / 2, topCount, found);
        for (size_t i = 1; i < found.size(); ++i) groups.Join(found[0], found[i]);
    }
    std::vector<int32_t> netOfGroup(groups.parent.size(), 0);
    auto netOf = [&](int32_t label) {
        int32_t& n = netOfGroup[static_cast<size_t>(groups.Find(label))];
        if (!n) n = ++board.nets;
        return n;
    };
    const Affine2 boardToTopPx = boardToTop;
    for (const Pin& p : pins) {
        TruePad pad;
        pad.throughHole = p.tht;
        // A point inside the copper: on the ring's middle for a through-hole pad.
        const double px = p.tht ? p.x + (p.drill + p.pad) / 4 : p.x;
        pad.top = boardToTopPx.Apply({px, p.y});
        pad.bottom = boardToBottom.Apply({px, p.y});
        pad.front = p.tht || p.side == 0;
        // Front pads are looked up on the top scan, bottom-only pads on the bottom scan.
        const bool back = !pad.front;
        const Vec2 at = back ? pad.bottom : pad.top;
        const int32_t sw = back ? botW : topW;
        const int32_t cx = static_cast<int32_t>(std::floor(at.x)), cy = static_cast<int32_t>(std::floor(at.y));
        int32_t l = back ? (botLabel[static_cast<size_t>(cy) * sw + cx] ? botLabel[static_cast<size_t>(cy) * sw + cx] + topCount : 0)
                         : topLabel[static_cast<size_t>(cy) * sw + cx];
        if (!l) {
            std::vector<int32_t> found;
            if (p.tht) ringLabels(boardToTop, st, topLabel, topW, topH, p.x, p.y, p.drill / 2, p.pad / 2, 0, found);
            else if (back) ringLabels(boardToBottom, (kx + ky) / 2, botLabel, botW, botH, p.x, p.y, 0, std::min(p.hw, p.hh), topCount, found);
            else ringLabels(boardToTop, st, topLabel, topW, topH, p.x, p.y, 0, std::min(p.hw, p.hh), 0, found);
            if (!found.empty()) l = found[0];
        }
        pad.net = l ? netOf(l) : 0;
        board.pads.push_back(pad);
    }
    for (size_t i = 0; i < holes.size(); ++i) {
        const BoardHoleMm& h = holes[i];
        TrueHole t;
        t.hiddenOn = hiddenOn[i];
        t.top = boardToTop.Apply({h.x, h.y});
        t.bottom = boardToBottom.Apply({h.x, h.y});
        t.drillMm = h.drill, t.plated = h.plated, t.via = h.via, t.padMm = h.pad;
        if (h.plated) {
            std::vector<int32_t> found;
            ringLabels(boardToTop, st, topLabel, topW, topH, h.x, h.y, h.drill / 2, h.pad / 2, 0, found);
            if (found.empty())
                ringLabels(boardToBottom, (kx + ky) / 2, botLabel, botW, botH, h.x, h.y, h.drill / 2, h.pad / 2, topCount, found);
            if (!found.empty()) t.net = netOf(found[0]);
        }
        board.holes.push_back(t);
    }
    return board;
}

HoleScore ScoreHoles(const std::vector<TrueHole>& truth, const std::vector<Vec2>& found, const std::vector<double>& drillMm, bool bottomSide) {
    if (found.size() != drillMm.size()) throw Error("The found holes and their drills differ in number.");
    struct Pair {
        double d;
        size_t t, f;
    };
    std::vector<Pair> pairs;
    for (size_t t = 0; t < truth.size(); ++t) {
        const Vec2 c = bottomSide ? truth[t].bottom : truth[t].top;
        for (size_t f = 0; f < found.size(); ++f) {
            const double d = std::hypot(found[f].x - c.x, found[f].y - c.y);
            if (d <= 3) pairs.push_back({d, t, f});
        }
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.d < b.d || (a.d == b.d && (a.t < b.t || (a.t == b.t && a.f < b.f))); });
    std::vector<uint8_t> usedT(truth.size()), usedF(found.size());
    HoleScore s;
    size_t matched = 0;
    for (const Pair& p : pairs) {
        if (usedT[p.t] || usedF[p.f]) continue;
        usedT[p.t] = usedF[p.f] = 1;
        ++matched;
        s.worstCentrePx = std::max(s.worstCentrePx, p.d);
        s.worstDiameterMm = std::max(s.worstDiameterMm, std::abs(drillMm[p.f] - truth[p.t].drillMm));
    }
    s.recall = truth.empty() ? 1 : static_cast<double>(matched) / static_cast<double>(truth.size());
    s.precision = found.empty() ? 1 : static_cast<double>(matched) / static_cast<double>(found.size());
    return s;
}

MapScore ScoreMap(const TwoSidedBoard& board, const Affine2& found) {
    MapScore s;
    if (board.holes.empty()) return s;
    double sum = 0;
    for (const TrueHole& h : board.holes) {
        const Vec2 q = found.Apply(h.bottom);
        const double d = std::hypot(q.x - h.top.x, q.y - h.top.y);
        sum += d * d;
        s.worstPx = std::max(s.worstPx, d);
    }
    s.rmsPx = std::sqrt(sum / static_cast<double>(board.holes.size()));
    return s;
}

double ScoreNets(const std::vector<TruePad>& pads, const std::vector<int32_t>& ours) {
    if (pads.size() != ours.size()) throw Error("The nets found and the true pads differ in number.");
    // For each of our nets, the one true net its pads are in (-1: several).
    std::vector<std::pair<int32_t, int32_t>> ourToTrue;  // sorted pairs (ours, true)
    for (size_t i = 0; i < pads.size(); ++i)
        if (ours[i] != 0) ourToTrue.emplace_back(ours[i], pads[i].net);
    std::sort(ourToTrue.begin(), ourToTrue.end());
    auto pure = [&](int32_t our) {
        auto it = std::lower_bound(ourToTrue.begin(), ourToTrue.end(), std::pair<int32_t, int32_t>{our, std::numeric_limits<int32_t>::min()});
        const int32_t first = it->second;
        for (; it != ourToTrue.end() && it->first == our; ++it)
            if (it->second != first) return false;
        return true;
    };
    std::vector<std::pair<int32_t, size_t>> byNet;
    for (size_t i = 0; i < pads.size(); ++i)
        if (pads[i].net != 0) byNet.emplace_back(pads[i].net, i);
    std::sort(byNet.begin(), byNet.end());
    int64_t nets = 0, exact = 0;
    for (size_t i = 0; i < byNet.size();) {
        size_t j = i;
        bool same = true;
        const int32_t our = ours[byNet[i].second];
        for (; j < byNet.size() && byNet[j].first == byNet[i].first; ++j) same &= ours[byNet[j].second] == our;
        if (j - i >= 2) {
            ++nets;
            exact += same && our != 0 && pure(our);
        }
        i = j;
    }
    return nets == 0 ? 1 : static_cast<double>(exact) / static_cast<double>(nets);
}

void WriteTwoSidedBoard(const TwoSidedBoard& b, const TwoSidedOptions& o, const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw Error("Cannot create the folder \"" + dir + "\". " + ec.message() + ".");
    const double bottomDpi = o.bottomDpi == 0 ? o.dpi : o.bottomDpi;
    WriteBitmapFile(b.top, dir + "/top.bmp", static_cast<int32_t>(std::lround(o.dpi / 0.0254)));
    WriteBitmapFile(b.bottom, dir + "/bottom.bmp", static_cast<int32_t>(std::lround(bottomDpi / 0.0254)));
    const std::string path = dir + "/truth.txt";
    std::ofstream out(path);
    if (!out) throw Error("Cannot create file \"" + path + "\".");
    auto hex = [](uint32_t c) {
        char s[8];
        std::snprintf(s, sizeof s, "#%02X%02X%02X", c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF);
        return std::string(s);
    };
    char line[256];
    out << "# rastrace-twosided truth, seed " << o.seed << "; pixel (c, r) covers [c, c+1) x [r, r+1)\n";
    std::snprintf(line, sizeof line, "top %d %d %.6g\nbottom %d %d %.6g\n", b.top.Width(), b.top.Height(), o.dpi, b.bottom.Width(), b.bottom.Height(), bottomDpi);
    out << line;
    const Affine2& m = b.bottomToTop;
    std::snprintf(line, sizeof line, "map %.12g %.12g %.12g %.12g %.12g %.12g\n", m.m00, m.m01, m.m10, m.m11, m.tx, m.ty);
    out << line << "colors " << hex(b.copperColor) << ' ' << hex(b.boardColor) << ' ' << hex(b.lidColor) << "\nnets " << b.nets << '\n';
    for (const TrueHole& h : b.holes) {
        std::snprintf(line, sizeof line, "hole %.4f %.4f %.4f %.4f %.4f %.4f %s %s %d %d\n", h.top.x, h.top.y, h.bottom.x, h.bottom.y, h.drillMm, h.padMm,
                      h.plated ? "plated" : "unplated", h.via ? "via" : h.plated ? "pad" : "mount", h.net, h.hiddenOn);
        out << line;
    }
    for (const SpuriousHole& h : b.spurious) {
        std::snprintf(line, sizeof line, "spurious %.4f %.4f %s %.4f\n", h.centre.x, h.centre.y, h.bottom ? "bottom" : "top", h.diameterMm);
        out << line;
    }
    for (const TruePad& p : b.pads) {
        std::snprintf(line, sizeof line, "pad %.4f %.4f %.4f %.4f %s %s %d\n", p.top.x, p.top.y, p.bottom.x, p.bottom.y, p.front ? "front" : "back",
                      p.throughHole ? "tht" : "smd", p.net);
        out << line;
    }
    out.flush();
    if (!out) throw Error("Stream write error");
}

}  // namespace rastrace::bench
