// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/Nets.h"

#include "formats/AreaScale.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

namespace rastrace {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMmPerInch = 25.4;

struct Probe {
    int32_t x2 = 0, y2 = 0;  // the centre of the pixel holding the point, in half pixels
    int32_t index = 0;
};

// Union-find over the regions of both sides.
class Groups {
public:
    explicit Groups(size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), 0); }
    int32_t Find(int32_t a) {
        while (parent_[static_cast<size_t>(a)] != a) {
            parent_[static_cast<size_t>(a)] = parent_[static_cast<size_t>(parent_[static_cast<size_t>(a)])];
            a = parent_[static_cast<size_t>(a)];
        }
        return a;
    }
    void Unite(int32_t a, int32_t b) {
        a = Find(a);
        b = Find(b);
        if (a != b) parent_[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
    }

private:
    std::vector<int32_t> parent_;
};

// A hole of the board while it is put together: where it lies on each
// side and how wide it is.
struct WorkHole {
    Vec2 top;                 // centre in top pixels
    Vec2 bottom;              // centre in bottom pixels (with a bottom)
    double diameterMm = 0;
    int32_t topRegion = -1, bottomRegion = -1;
};

double DiameterMm(const Hole& hole, int32_t xres, int32_t yres) {
    const double areaMm2 = static_cast<double>(hole.pixels) * (kMmPerInch / xres) * (kMmPerInch / yres);
    if (hole.pixels > 0) return 2 * std::sqrt(areaMm2 / kPi);
    return hole.diameterPx * kMmPerInch / std::sqrt(static_cast<double>(xres) * yres);
}

// Directions of the ring probes around a hole.
constexpr int kDirections = 8;
// Probes per direction: just outside the opening and a little farther, for
// the band of in-between colours blur leaves at the opening's edge.
constexpr int kDepths = 2;

// The probes of one side around each hole: centre, radius in millimetres,
// the side's resolution.
// How far apart the ring probes lie, outwards from the opening's edge.
double ProbeMarginMm(int32_t xres, int32_t yres) { return std::max(1.5 * kMmPerInch / std::min(xres, yres), 0.05); }

void AddRingProbes(std::vector<Vec2>& probes, Vec2 centre, double radiusMm, int32_t xres, int32_t yres) {
    const double margin = ProbeMarginMm(xres, yres);
    for (int d = 0; d < kDirections; ++d) {
        const double angle = 2 * kPi * (d + 0.5) / kDirections;
        for (int k = 1; k <= kDepths; ++k) {
            const double r = radiusMm + k * margin;
            probes.push_back({centre.x + std::cos(angle) * r * xres / kMmPerInch,
                              centre.y + std::sin(angle) * r * yres / kMmPerInch});
        }
    }
}

// The region that rings a hole: the one most directions find (the nearer
// probe first), when at least three quarters of them find it.
int32_t RingRegion(std::span<const int32_t> found) {
    std::vector<int32_t> perDirection;
    for (int d = 0; d < kDirections; ++d) {
        int32_t region = -1;
        for (int k = 0; k < kDepths && region < 0; ++k) region = found[static_cast<size_t>(d * kDepths + k)];
        perDirection.push_back(region);
    }
    std::sort(perDirection.begin(), perDirection.end());
    int32_t best = -1, bestCount = 0;
    for (size_t i = 0; i < perDirection.size();) {
        size_t j = i;
        while (j < perDirection.size() && perDirection[j] == perDirection[i]) ++j;
        if (perDirection[i] >= 0 && static_cast<int32_t>(j - i) > bestCount) {
            best = perDirection[i];
            bestCount = static_cast<int32_t>(j - i);
        }
        i = j;
    }
    return bestCount * 4 >= kDirections * 3 ? best : -1;
}

// The top-left-most point of a contour, mapped into the top's pixels.
Vec2 TopLeftOf(const OutlineShape& shape, const Affine2* map) {
    Vec2 best{0, 0};
    bool first = true;
    for (const OutlinePoint& p : shape.points) {
        Vec2 v{p.x2 / 2.0, p.y2 / 2.0};
        if (map != nullptr) v = map->Apply(v);
        if (first || v.y < best.y || (v.y == best.y && v.x < best.x)) best = v;
        first = false;
    }
    return best;
}

int64_t NmOf(double pixels, int32_t resolution) {
    return std::llround(pixels * (kMmPerInch * 1e6) / resolution);
}

}  // namespace

int64_t DrillNmOf(double diameterMm) {
    const int64_t steps = std::max<int64_t>(1, std::llround(diameterMm / 0.05));
    return steps * 50'000;
}

std::vector<int32_t> RegionsAt(std::span<const OutlineShape> regions, std::span<const Vec2> points) {
    std::vector<Probe> probes;
    probes.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const double cx = std::floor(points[i].x), cy = std::floor(points[i].y);
        if (!(cx >= 0 && cy >= 0 && cx < kMaxOutlineColumn && cy < kMaxOutlineColumn)) continue;  // off every region
        probes.push_back({static_cast<int32_t>(cx) * 2 + 1, static_cast<int32_t>(cy) * 2 + 1, static_cast<int32_t>(i)});
    }
    std::sort(probes.begin(), probes.end(), [](const Probe& a, const Probe& b) {
        return a.y2 != b.y2 ? a.y2 < b.y2 : a.x2 < b.x2;
    });

    // A ray from each probe to the right crosses a region's vertical edges
    // an odd number of times where the region holds the probe. Cut edges
    // come in coincident pairs, so they never change the count.
    std::vector<std::pair<int32_t, int32_t>> crossings;  // (probe index, region)
    for (size_t k = 0; k < regions.size(); ++k) {
        const std::vector<OutlinePoint>& pts = regions[k].points;
        for (size_t i = 0; i < pts.size(); ++i) {
            const OutlinePoint& a = pts[i];
            const OutlinePoint& b = pts[(i + 1) % pts.size()];
            if (a.x2 != b.x2 || a.y2 == b.y2) continue;
            const int32_t lo = std::min(a.y2, b.y2), hi = std::max(a.y2, b.y2);
            auto it = std::lower_bound(probes.begin(), probes.end(), lo,
                                       [](const Probe& p, int32_t y) { return p.y2 < y; });
            for (; it != probes.end() && it->y2 < hi; ++it) {
                if (it->x2 < a.x2) crossings.emplace_back(it->index, static_cast<int32_t>(k));
            }
        }
    }
    std::sort(crossings.begin(), crossings.end());

    std::vector<int32_t> found(points.size(), -1);
    for (size_t i = 0; i < crossings.size();) {
        size_t j = i;
        while (j < crossings.size() && crossings[j] == crossings[i]) ++j;
        if ((j - i) % 2 == 1) {
            int32_t& slot = found[static_cast<size_t>(crossings[i].first)];
            const int32_t region = crossings[i].second;
            // Nested regions: the smaller one lies in the other's hole.
            if (slot < 0 || regions[static_cast<size_t>(region)].pixels < regions[static_cast<size_t>(slot)].pixels) {
                slot = region;
            }
        }
        i = j;
    }
    return found;
}

BoardModel AssembleBoard(const SideTrace& top, const SideTrace* bottom, const std::optional<Affine2>& bottomToTop,
                         std::span<const std::pair<int32_t, int32_t>> pairs, BoardFacts* facts) {
    const bool twoSided = bottom != nullptr && bottomToTop.has_value();
    const Affine2 map = twoSided ? *bottomToTop : Affine2{};
    const Affine2 back = twoSided ? map.Inverse() : Affine2{};

    // The board's holes: each pair matched once, then the holes of either
    // side alone, a hole left alone on the bottom paired with a lone one
    // of the top where they meet.
    std::vector<WorkHole> holes;
    std::vector<int32_t> topHole(top.holes.size(), -1);
    std::vector<bool> bottomUsed(twoSided ? bottom->holes.size() : 0, false);
    auto add = [&](int32_t t, int32_t b) {
        WorkHole h;
        double sum = 0;
        int n = 0;
        if (t >= 0) {
            const Hole& th = top.holes[static_cast<size_t>(t)];
            h.top = th.centre;
            sum += DiameterMm(th, top.xres, top.yres);
            ++n;
            topHole[static_cast<size_t>(t)] = static_cast<int32_t>(holes.size());
        }
        if (b >= 0) {
            const Hole& bh = bottom->holes[static_cast<size_t>(b)];
            if (t < 0) h.top = map.Apply(bh.centre);
            sum += DiameterMm(bh, bottom->xres, bottom->yres);
            ++n;
            bottomUsed[static_cast<size_t>(b)] = true;
        }
        h.bottom = back.Apply(h.top);
        h.diameterMm = sum / n;
        holes.push_back(h);
    };
    for (const auto& [t, b] : pairs) {
        if (!twoSided || t < 0 || b < 0 || static_cast<size_t>(t) >= top.holes.size() ||
            static_cast<size_t>(b) >= bottom->holes.size() || topHole[static_cast<size_t>(t)] >= 0 ||
            bottomUsed[static_cast<size_t>(b)]) {
            continue;
        }
        add(t, b);
    }
    if (twoSided) {
        for (size_t b = 0; b < bottom->holes.size(); ++b) {
            if (bottomUsed[b]) continue;
            const Hole& bh = bottom->holes[b];
            const Vec2 at = map.Apply(bh.centre);
            int32_t best = -1;
            double bestDistance = 0;
            for (size_t t = 0; t < top.holes.size(); ++t) {
                if (topHole[t] >= 0) continue;
                const Hole& th = top.holes[t];
                const double dx = th.centre.x - at.x, dy = th.centre.y - at.y;
                const double distance = std::sqrt(dx * dx + dy * dy);
                const double reach = std::max(2.0, 0.25 * std::min(th.diameterPx, bh.diameterPx));
                if (distance <= reach && (best < 0 || distance < bestDistance)) {
                    best = static_cast<int32_t>(t);
                    bestDistance = distance;
                }
            }
            add(best, static_cast<int32_t>(b));
        }
    }
    for (size_t t = 0; t < top.holes.size(); ++t) {
        if (topHole[t] < 0) add(static_cast<int32_t>(t), -1);
    }
    std::sort(holes.begin(), holes.end(), [](const WorkHole& a, const WorkHole& b) {
        return a.top.y != b.top.y ? a.top.y < b.top.y : a.top.x < b.top.x;
    });

    // Which region rings each hole on each side.
    std::vector<Vec2> probes;
    for (const WorkHole& h : holes) AddRingProbes(probes, h.top, h.diameterMm / 2, top.xres, top.yres);
    std::vector<int32_t> found = RegionsAt(top.regions, probes);
    constexpr size_t kPerHole = kDirections * kDepths;
    for (size_t i = 0; i < holes.size(); ++i) {
        holes[i].topRegion = RingRegion(std::span<const int32_t>(found).subspan(i * kPerHole, kPerHole));
    }
    if (twoSided) {
        probes.clear();
        for (const WorkHole& h : holes) {
            AddRingProbes(probes, h.bottom, h.diameterMm / 2, bottom->xres, bottom->yres);
        }
        found = RegionsAt(bottom->regions, probes);
        for (size_t i = 0; i < holes.size(); ++i) {
            holes[i].bottomRegion = RingRegion(std::span<const int32_t>(found).subspan(i * kPerHole, kPerHole));
        }
    }

    // Nets: regions joined through the plated holes.
    const size_t topCount = top.regions.size();
    const size_t all = topCount + (twoSided ? bottom->regions.size() : 0);
    Groups groups(all);
    for (const WorkHole& h : holes) {
        if (h.topRegion >= 0 && h.bottomRegion >= 0) {
            groups.Unite(h.topRegion, static_cast<int32_t>(topCount) + h.bottomRegion);
        }
    }
    // Each net's top-left-most point, over its regions.
    std::vector<Vec2> corner(all);
    std::vector<bool> seen(all, false);
    for (size_t r = 0; r < all; ++r) {
        const bool onTop = r < topCount;
        const Vec2 v = onTop ? TopLeftOf(top.regions[r], nullptr) : TopLeftOf(bottom->regions[r - topCount], &map);
        const size_t g = static_cast<size_t>(groups.Find(static_cast<int32_t>(r)));
        if (!seen[g] || v.y < corner[g].y || (v.y == corner[g].y && v.x < corner[g].x)) corner[g] = v;
        seen[g] = true;
    }
    std::vector<int32_t> roots;
    for (size_t r = 0; r < all; ++r) {
        if (groups.Find(static_cast<int32_t>(r)) == static_cast<int32_t>(r)) roots.push_back(static_cast<int32_t>(r));
    }
    std::stable_sort(roots.begin(), roots.end(), [&corner](int32_t a, int32_t b) {
        const Vec2& p = corner[static_cast<size_t>(a)];
        const Vec2& q = corner[static_cast<size_t>(b)];
        return p.y != q.y ? p.y < q.y : p.x < q.x;
    });
    std::vector<int32_t> netOfRoot(all, 0);
    BoardModel model;
    for (size_t i = 0; i < roots.size(); ++i) {
        netOfRoot[static_cast<size_t>(roots[i])] = static_cast<int32_t>(i + 1);
        std::string name = "N";
        name += std::to_string(i + 1);
        model.nets.push_back(std::move(name));
    }
    auto netOf = [&](size_t region) { return netOfRoot[static_cast<size_t>(groups.Find(static_cast<int32_t>(region)))]; };

    // Regions in nanometres, the bottom's carried into the top's frame.
    model.regions.reserve(all);
    for (size_t r = 0; r < all; ++r) {
        BoardRegion region;
        region.net = netOf(r);
        if (r < topCount) {
            region.layer = BoardLayer::Front;
            for (const OutlinePoint& p : top.regions[r].points) {
                region.contour.push_back({AreaScale::RoundDiv(int64_t{p.x2} * AreaScale::kHalfInchNm, top.xres),
                                          AreaScale::RoundDiv(int64_t{p.y2} * AreaScale::kHalfInchNm, top.yres)});
            }
        } else {
            region.layer = BoardLayer::Back;
            for (const OutlinePoint& p : bottom->regions[r - topCount].points) {
                const Vec2 v = map.Apply({p.x2 / 2.0, p.y2 / 2.0});
                region.contour.push_back({NmOf(v.x, top.xres), NmOf(v.y, top.yres)});
            }
        }
        model.regions.push_back(std::move(region));
    }

    BoardFacts counted;
    for (const WorkHole& h : holes) {
        BoardHole hole;
        hole.centre = {NmOf(h.top.x, top.xres), NmOf(h.top.y, top.yres)};
        hole.drillNm = DrillNmOf(h.diameterMm);
        hole.plated = h.topRegion >= 0 && h.bottomRegion >= 0;
        if (h.topRegion >= 0) {
            hole.net = netOf(static_cast<size_t>(h.topRegion));
        } else if (h.bottomRegion >= 0) {
            hole.net = netOf(topCount + static_cast<size_t>(h.bottomRegion));
            hole.ringed = BoardLayer::Back;
        }
        // The pad reaches as far out as the nearer ring probes, where they
        // found copper: past the opening's edge by a probe's margin, from the
        // measured opening or the drill, whichever is wider. KiCad joins a
        // pad to a zone only where the pad's edge lies well inside the fill,
        // and a scanned opening's edge is a staircase that a pad just wider
        // than the drill keeps crossing.
        if (hole.net != 0) {
            double margin = ProbeMarginMm(top.xres, top.yres);
            if (twoSided) margin = std::min(margin, ProbeMarginMm(bottom->xres, bottom->yres));
            const double radiusMm = std::max(hole.drillNm / 2e6, h.diameterMm / 2) + margin;
            hole.padNm = 2 * std::llround(radiusMm * 1e3) * 1000;
        } else {
            hole.padNm = hole.drillNm;
        }
        ++counted.holes;
        if (hole.plated) {
            ++counted.plated;
            if (hole.drillNm < 800'000) ++counted.vias;
        }
        model.holes.push_back(hole);
    }

    if (!top.edge.empty()) {
        for (const Vec2& v : top.edge) model.edge.push_back({NmOf(v.x, top.xres), NmOf(v.y, top.yres)});
    } else if (twoSided && !bottom->edge.empty()) {
        for (const Vec2& v : bottom->edge) {
            const Vec2 w = map.Apply(v);
            model.edge.push_back({NmOf(w.x, top.xres), NmOf(w.y, top.yres)});
        }
    }
    model.widthNm = NmOf(top.width, top.xres);
    model.heightNm = NmOf(top.height, top.yres);
    counted.regions = static_cast<int32_t>(all);
    counted.nets = static_cast<int32_t>(model.nets.size());
    if (facts != nullptr) *facts = counted;
    return model;
}

}  // namespace rastrace
