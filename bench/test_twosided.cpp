// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the two-sided board model: the scans and their truth agree (the
// map, the holes, the rings, the nets, the clearance), and the scores tell
// the truth from a wrong answer.
#include "bench/TwoSidedBoard.h"
#include "common/Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace rastrace::bench {
namespace {

TwoSidedOptions Small(uint64_t seed, double dpi = 600) {
    TwoSidedOptions o;
    o.widthMm = 50, o.heightMm = 36, o.dpi = dpi, o.seed = seed;
    return o;
}

bool SamePixels(const Raster& a, const Raster& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.RowBytes(y).data(), b.RowBytes(y).data(), a.RowBytes(y).size()) != 0) return false;
    return true;
}

int Distance2(uint32_t a, uint32_t b) {
    int d = 0;
    for (int s = 0; s < 24; s += 8) {
        const int x = static_cast<int>(a >> s & 0xFF) - static_cast<int>(b >> s & 0xFF);
        d += x * x;
    }
    return d;
}

// The palette colour nearest to the pixel: 0 lid, 1 board, 2 copper.
int Nearest(const TwoSidedBoard& b, const Raster& r, int32_t x, int32_t y) {
    const uint32_t c = r.PixelColor(x, y);
    const int d[3] = {Distance2(c, b.lidColor), Distance2(c, b.boardColor), Distance2(c, b.copperColor)};
    return static_cast<int>(std::min_element(d, d + 3) - d);
}

// 4-connected labels of the pixels where pick(x, y) holds.
template <class Pick>
std::vector<int32_t> Labels(int32_t w, int32_t h, Pick pick) {
    std::vector<int32_t> label(static_cast<size_t>(w) * h, 0);
    int32_t n = 0;
    std::vector<int32_t> stack;
    for (int32_t i = 0; i < w * h; ++i) {
        if (label[static_cast<size_t>(i)] || !pick(i % w, i / w)) continue;
        label[static_cast<size_t>(i)] = ++n;
        stack.push_back(i);
        while (!stack.empty()) {
            const int32_t p = stack.back();
            stack.pop_back();
            const int32_t x = p % w, y = p / w;
            const int32_t nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
            for (int k = 0; k < 4; ++k) {
                if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h) continue;
                const int32_t q = ny[k] * w + nx[k];
                if (!label[static_cast<size_t>(q)] && pick(nx[k], ny[k])) {
                    label[static_cast<size_t>(q)] = n;
                    stack.push_back(q);
                }
            }
        }
    }
    return label;
}

// The centroid of the opening within radius of centre, each pixel weighted
// by how far its colour lies from the base (the ring's copper, or the board
// around an unplated hole) towards the lid: edge pixels count by their share.
Vec2 LidCentroid(const TwoSidedBoard& b, const Raster& r, Vec2 centre, double radius, uint32_t base) {
    double sx = 0, sy = 0, n = 0, span = 0, along[3];
    for (int k = 0; k < 3; ++k) {
        along[k] = static_cast<double>(b.lidColor >> (8 * k) & 0xFF) - static_cast<double>(base >> (8 * k) & 0xFF);
        span += along[k] * along[k];
    }
    for (int32_t y = static_cast<int32_t>(centre.y - radius); y <= static_cast<int32_t>(centre.y + radius); ++y)
        for (int32_t x = static_cast<int32_t>(centre.x - radius); x <= static_cast<int32_t>(centre.x + radius); ++x) {
            if (std::hypot(x + 0.5 - centre.x, y + 0.5 - centre.y) > radius) continue;
            const uint32_t c = r.PixelColor(x, y);
            double f = 0;
            for (int k = 0; k < 3; ++k) f += (static_cast<double>(c >> (8 * k) & 0xFF) - static_cast<double>(base >> (8 * k) & 0xFF)) * along[k];
            f = std::clamp(f / span, 0.0, 1.0);
            if (f < 0.1) continue;  // the base with its noise
            sx += f * (x + 0.5), sy += f * (y + 0.5), n += f;
        }
    return n ? Vec2{sx / n, sy / n} : Vec2{-1e9, -1e9};
}

TEST(TwoSidedBoard, IsAFunctionOfTheOptions) {
    const TwoSidedBoard a = MakeTwoSidedBoard(Small(3, 300)), b = MakeTwoSidedBoard(Small(3, 300));
    const TwoSidedBoard c = MakeTwoSidedBoard(Small(4, 300));
    EXPECT_TRUE(SamePixels(a.top, b.top));
    EXPECT_TRUE(SamePixels(a.bottom, b.bottom));
    EXPECT_EQ(a.topCopper, b.topCopper);
    EXPECT_EQ(a.bottomCopper, b.bottomCopper);
    EXPECT_EQ(a.holes.size(), b.holes.size());
    EXPECT_EQ(a.nets, b.nets);
    EXPECT_EQ(std::memcmp(&a.bottomToTop, &b.bottomToTop, sizeof a.bottomToTop), 0);
    EXPECT_FALSE(SamePixels(a.top, c.top));
}

TEST(TwoSidedBoard, RefusesOptionsOutOfRange) {
    TwoSidedOptions o = Small(1);
    o.dpi = 0;
    EXPECT_THROW(MakeTwoSidedBoard(o), Error);
    o = Small(1), o.widthMm = -3;
    EXPECT_THROW(MakeTwoSidedBoard(o), Error);
    o = Small(1), o.maxTurnDeg = 90;
    EXPECT_THROW(MakeTwoSidedBoard(o), Error);
    o = Small(1), o.widthMm = 1000, o.heightMm = 1000, o.dpi = 4800;
    EXPECT_THROW(MakeTwoSidedBoard(o), Error);
}

// The drawn openings lie where the truth says on both scans, and the true
// map carries each bottom centre onto its top centre: the rendering keeps
// pixel (c, r) over [c, c + 1) x [r, r + 1) through the mirror, the turn and
// the scale. Also with a bottom scan at another resolution.
TEST(TwoSidedBoard, HolesShowTheLidWhereTheTruthAndTheMapPutThem) {
    int vias = 0;
    for (uint64_t seed = 1; seed <= 3; ++seed) {
        TwoSidedOptions o = Small(seed);
        if (seed == 3) o.bottomDpi = 450;
        const TwoSidedBoard b = MakeTwoSidedBoard(o);
        ASSERT_GT(b.holes.size(), 10u) << "seed " << seed;
        const double topPx = o.dpi / 25.4, botPx = (o.bottomDpi ? o.bottomDpi : o.dpi) / 25.4;
        double worst = 0;
        for (const TrueHole& h : b.holes) {
            vias += h.via;
            const uint32_t base = h.plated ? b.copperColor : b.boardColor;
            const Vec2 t = LidCentroid(b, b.top, h.top, h.drillMm / 2 * topPx + 1.5, base);
            const Vec2 u = LidCentroid(b, b.bottom, h.bottom, h.drillMm / 2 * botPx + 1.5, base);
            worst = std::max({worst, std::hypot(t.x - h.top.x, t.y - h.top.y), std::hypot(u.x - h.bottom.x, u.y - h.bottom.y)});
            const Vec2 m = b.bottomToTop.Apply(h.bottom);
            EXPECT_NEAR(m.x, h.top.x, 1e-6);
            EXPECT_NEAR(m.y, h.top.y, 1e-6);
        }
        EXPECT_LT(worst, 0.2) << "seed " << seed;
        std::printf("seed %d: %zu holes, worst centroid off its true centre by %.3f px\n", static_cast<int>(seed), b.holes.size(), worst);
        EXPECT_LT(b.bottomToTop.Determinant(), 0) << "the bottom is a mirror image";
    }
    EXPECT_GT(vias, 3);
}

// Holes one scan hides show no lid there (and still do on the other scan);
// spurious spots show the lid on their own scan only.
TEST(TwoSidedBoard, HidesAndInventsHolesOnOneScan) {
    TwoSidedOptions o = Small(2, 300);
    const TwoSidedBoard plain = MakeTwoSidedBoard(o);
    o.hiddenHoleShare = 0.2, o.spuriousHoleShare = 0.1;
    const TwoSidedBoard b = MakeTwoSidedBoard(o);
    ASSERT_EQ(b.holes.size(), plain.holes.size()) << "the same board underneath";
    EXPECT_EQ(b.nets, plain.nets);
    EXPECT_EQ(std::memcmp(&b.bottomToTop, &plain.bottomToTop, sizeof b.bottomToTop), 0);
    int hidden = 0;
    const Affine2 topToBottom = b.bottomToTop.Inverse();
    for (const TrueHole& h : b.holes) {
        if (!h.hiddenOn) continue;
        ++hidden;
        const Vec2 seen = h.hiddenOn == 1 ? h.bottom : h.top, unseen = h.hiddenOn == 1 ? h.top : h.bottom;
        const Raster& s = h.hiddenOn == 1 ? b.bottom : b.top;
        const Raster& u = h.hiddenOn == 1 ? b.top : b.bottom;
        EXPECT_EQ(Nearest(b, s, static_cast<int32_t>(seen.x), static_cast<int32_t>(seen.y)), 0);
        EXPECT_NE(Nearest(b, u, static_cast<int32_t>(unseen.x), static_cast<int32_t>(unseen.y)), 0);
    }
    EXPECT_GT(hidden, 0);
    EXPECT_EQ(b.spurious.size(), static_cast<size_t>(std::lround(0.1 * static_cast<double>(b.holes.size()))));
    for (const SpuriousHole& h : b.spurious) {
        const Vec2 other = h.bottom ? b.bottomToTop.Apply(h.centre) : topToBottom.Apply(h.centre);
        const Raster& s = h.bottom ? b.bottom : b.top;
        const Raster& u = h.bottom ? b.top : b.bottom;
        EXPECT_EQ(Nearest(b, s, static_cast<int32_t>(h.centre.x), static_cast<int32_t>(h.centre.y)), 0);
        EXPECT_EQ(Nearest(b, u, static_cast<int32_t>(other.x), static_cast<int32_t>(other.y)), 1) << "bare board on the other side";
    }
}

// Every plated hole has copper all round it on both sides; an unplated one
// has none near it.
TEST(TwoSidedBoard, PlatedHolesAreRingedOnBothSides) {
    for (uint64_t seed = 1; seed <= 3; ++seed) {
        const TwoSidedOptions o = Small(seed, 400);
        const TwoSidedBoard b = MakeTwoSidedBoard(o);
        const double px = o.dpi / 25.4;
        int unplated = 0;
        for (const TrueHole& h : b.holes) {
            for (int side = 0; side < 2; ++side) {
                const Raster& r = side ? b.bottom : b.top;
                const auto& truth = side ? b.bottomCopper : b.topCopper;
                const Vec2 c = side ? h.bottom : h.top;
                for (int k = 0; k < 16; ++k) {
                    const double a = k * std::acos(-1.0) / 8;
                    const double radius = h.plated ? (h.drillMm + h.padMm) / 4 * px : (h.drillMm / 2 + 0.3) * px;
                    const int32_t x = static_cast<int32_t>(std::floor(c.x + radius * std::cos(a)));
                    const int32_t y = static_cast<int32_t>(std::floor(c.y + radius * std::sin(a)));
                    const bool copper = truth[static_cast<size_t>(y) * r.Width() + x] != 0;
                    ASSERT_EQ(copper, h.plated) << "seed " << seed << " side " << side << " hole at " << h.top.x << ", " << h.top.y;
                }
            }
            if (h.plated) {
                EXPECT_GT(h.net, 0);
            }
            unplated += !h.plated;
        }
        EXPECT_EQ(unplated, 4) << "the mounting holes";
    }
}

// The nets of the truth stay apart in the scans themselves: copper picked by
// the nearest palette colour never joins two pads of different true nets,
// and every pad lies on copper of its own net's colour.
TEST(TwoSidedBoard, TrueNetsDoNotTouchInTheScans) {
    for (uint64_t seed = 1; seed <= 3; ++seed) {
        const TwoSidedBoard b = MakeTwoSidedBoard(Small(seed, 300));
        int multi = 0;
        for (int side = 0; side < 2; ++side) {
            const Raster& r = side ? b.bottom : b.top;
            const auto label = Labels(r.Width(), r.Height(), [&](int32_t x, int32_t y) { return Nearest(b, r, x, y) == 2; });
            std::map<int32_t, int32_t> netOfLabel;
            for (const TruePad& p : b.pads) {
                if (side == 0 ? !p.front : p.front && !p.throughHole) continue;
                const Vec2 c = side ? p.bottom : p.top;
                const int32_t l = label[static_cast<size_t>(std::floor(c.y)) * r.Width() + static_cast<int32_t>(std::floor(c.x))];
                ASSERT_NE(l, 0) << "seed " << seed << " side " << side << ": a pad off the copper at " << c.x << ", " << c.y;
                const auto [it, fresh] = netOfLabel.emplace(l, p.net);
                EXPECT_EQ(it->second, p.net) << "seed " << seed << " side " << side << ": nets " << it->second << " and " << p.net << " touch";
                multi += !fresh;
            }
        }
        EXPECT_GT(multi, 0) << "seed " << seed << ": no region holds two pads";
    }
}

// Copper of different true nets keeps the 0.2 mm clearance on the truth
// rasters (less a pixel and a half for where the edges fall).
TEST(TwoSidedBoard, ClearanceIsKeptBetweenNets) {
    const TwoSidedOptions o = Small(5, 600);
    const TwoSidedBoard b = MakeTwoSidedBoard(o);
    const double r = 0.2 * o.dpi / 25.4 - 1.5;
    for (int side = 0; side < 2; ++side) {
        const Raster& ras = side ? b.bottom : b.top;
        const auto& truth = side ? b.bottomCopper : b.topCopper;
        const int32_t w = ras.Width(), h = ras.Height();
        const auto label = Labels(w, h, [&](int32_t x, int32_t y) { return truth[static_cast<size_t>(y) * w + x] != 0; });
        const int32_t n = static_cast<int32_t>(std::ceil(r));
        int64_t checked = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int32_t l = label[static_cast<size_t>(y) * w + x];
                if (!l) continue;
                ++checked;
                for (int32_t dy = -n; dy <= n; ++dy)
                    for (int32_t dx = -n; dx <= n; ++dx) {
                        const int32_t xx = x + dx, yy = y + dy;
                        if (xx < 0 || yy < 0 || xx >= w || yy >= h || std::hypot(dx, dy) > r) continue;
                        const int32_t m = label[static_cast<size_t>(yy) * w + xx];
                        ASSERT_TRUE(m == 0 || m == l) << "side " << side << ": two regions " << std::hypot(dx, dy) << " px apart at " << x << ", " << y;
                    }
            }
        EXPECT_GT(checked, 1000);
    }
}

TEST(TwoSidedBoard, RoutesMostConnectionsAndChangesSides) {
    const TwoSidedBoard b = MakeTwoSidedBoard(Small(2, 200));
    EXPECT_GT(b.routedConnections, 5);
    EXPECT_GE(b.routedConnections, 4 * b.droppedConnections);
    std::set<int32_t> nets;
    for (const TruePad& p : b.pads) nets.insert(p.net);
    EXPECT_EQ(static_cast<int32_t>(nets.size()), b.nets) << "every net holds a pad";
    EXPECT_TRUE(std::any_of(b.pads.begin(), b.pads.end(), [](const TruePad& p) { return !p.front; })) << "no pad on the bottom only";
}

TEST(TwoSidedScores, AreOneForTheTruthAndDropForAWrongAnswer) {
    const TwoSidedBoard b = MakeTwoSidedBoard(Small(1, 300));
    // Holes.
    std::vector<Vec2> centres, bottoms;
    std::vector<double> drills;
    for (const TrueHole& h : b.holes) centres.push_back(h.top), bottoms.push_back(h.bottom), drills.push_back(h.drillMm);
    HoleScore s = ScoreHoles(b.holes, centres, drills);
    EXPECT_EQ(s.recall, 1);
    EXPECT_EQ(s.precision, 1);
    EXPECT_EQ(s.worstCentrePx, 0);
    EXPECT_EQ(s.worstDiameterMm, 0);
    EXPECT_EQ(ScoreHoles(b.holes, bottoms, drills, true).recall, 1);
    auto fewer = centres;
    auto fewerDrills = drills;
    fewer.pop_back(), fewerDrills.pop_back();
    s = ScoreHoles(b.holes, fewer, fewerDrills);
    EXPECT_NEAR(s.recall, 1 - 1.0 / static_cast<double>(b.holes.size()), 1e-12);
    EXPECT_EQ(s.precision, 1);
    auto more = centres;
    auto moreDrills = drills;
    more.push_back({1, 1}), moreDrills.push_back(1);
    EXPECT_LT(ScoreHoles(b.holes, more, moreDrills).precision, 1);
    auto off = centres;
    auto offDrills = drills;
    off[0].x += 0.7, offDrills[1] += 0.2;
    s = ScoreHoles(b.holes, off, offDrills);
    EXPECT_NEAR(s.worstCentrePx, 0.7, 1e-9);
    EXPECT_NEAR(s.worstDiameterMm, 0.2, 1e-9);
    EXPECT_THROW(ScoreHoles(b.holes, centres, fewerDrills), Error);

    // The map.
    MapScore m = ScoreMap(b, b.bottomToTop);
    EXPECT_LT(m.worstPx, 1e-6);
    Affine2 shifted = b.bottomToTop;
    shifted.tx += 1;
    m = ScoreMap(b, shifted);
    EXPECT_NEAR(m.rmsPx, 1, 1e-6);
    EXPECT_NEAR(m.worstPx, 1, 1e-6);

    // Nets: the truth itself, then two pads of different nets swapped, then
    // two nets merged into one.
    std::vector<int32_t> ours;
    for (const TruePad& p : b.pads) ours.push_back(p.net + 100);
    EXPECT_EQ(ScoreNets(b.pads, ours), 1);
    std::map<int32_t, std::vector<size_t>> byNet;
    for (size_t i = 0; i < b.pads.size(); ++i) byNet[b.pads[i].net].push_back(i);
    std::vector<size_t> multi;
    for (const auto& [net, list] : byNet)
        if (list.size() >= 2) multi.push_back(list[0]);
    ASSERT_GE(multi.size(), 3u);
    const double one = 1.0 / static_cast<double>(multi.size());
    auto swapped = ours;
    std::swap(swapped[multi[0]], swapped[multi[1]]);
    EXPECT_NEAR(ScoreNets(b.pads, swapped), 1 - 2 * one, 1e-12);
    auto merged = ours;
    for (size_t i = 0; i < b.pads.size(); ++i)
        if (b.pads[i].net == b.pads[multi[1]].net) merged[i] = ours[multi[0]];
    EXPECT_NEAR(ScoreNets(b.pads, merged), 1 - 2 * one, 1e-12);
    auto lost = ours;
    lost[multi[2]] = 0;
    EXPECT_NEAR(ScoreNets(b.pads, lost), 1 - one, 1e-12);
    EXPECT_THROW(ScoreNets(b.pads, std::vector<int32_t>(3, 1)), Error);
}

TEST(TwoSidedBoard, WritesTheScansAndTheTruth) {
    const TwoSidedOptions o = Small(1, 150);
    const TwoSidedBoard b = MakeTwoSidedBoard(o);
    const std::string dir = (std::filesystem::temp_directory_path() / "rastrace_twosided_test").string();
    std::filesystem::remove_all(dir);
    WriteTwoSidedBoard(b, o, dir);
    EXPECT_GT(std::filesystem::file_size(dir + "/top.bmp"), 54u);
    EXPECT_GT(std::filesystem::file_size(dir + "/bottom.bmp"), 54u);
    std::ifstream in(dir + "/truth.txt");
    std::map<std::string, int> count;
    std::string line;
    while (std::getline(in, line)) ++count[line.substr(0, line.find(' '))];
    EXPECT_EQ(count["hole"], static_cast<int>(b.holes.size()));
    EXPECT_EQ(count["pad"], static_cast<int>(b.pads.size()));
    EXPECT_EQ(count["map"], 1);
    EXPECT_EQ(count["colors"], 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace rastrace::bench
