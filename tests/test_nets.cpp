// SPDX-License-Identifier: GPL-3.0-or-later
// Which region holds a point, the nets of a board put together from two
// sides (regions joined only through holes ringed on both sides), and the
// zones the KiCad board makes of the regions.
#include "board/Nets.h"
#include "formats/KiCadBoard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace rastrace {
namespace {

// A picture of set pixels: rows of '#' and '.'.
using Picture = std::vector<std::string>;

std::vector<OutlineShape> Trace(const Picture& picture) {
    std::vector<OutlineShape> shapes;
    OutlineTracer tracer([&shapes](const OutlineShape& s) { shapes.push_back(s); });
    for (const std::string& row : picture) {
        std::vector<Span> runs;
        for (int32_t x = 0; x < static_cast<int32_t>(row.size()); ++x) {
            if (row[static_cast<size_t>(x)] != '#') continue;
            if (!runs.empty() && runs.back().end == x) {
                ++runs.back().end;
            } else {
                runs.push_back({x, x + 1});
            }
        }
        tracer.AddRow(runs);
    }
    tracer.Finish();
    return shapes;
}

// 4-connected labels by flood fill, -1 off copper.
std::vector<int> Labels(const Picture& picture, int& count) {
    const int h = static_cast<int>(picture.size()), w = static_cast<int>(picture[0].size());
    std::vector<int> label(static_cast<size_t>(w * h), -1);
    count = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (picture[static_cast<size_t>(y)][static_cast<size_t>(x)] != '#' || label[static_cast<size_t>(y * w + x)] >= 0) continue;
            std::vector<std::pair<int, int>> stack{{x, y}};
            label[static_cast<size_t>(y * w + x)] = count;
            while (!stack.empty()) {
                auto [cx, cy] = stack.back();
                stack.pop_back();
                const int d[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
                for (const auto& dd : d) {
                    const int nx = cx + dd[0], ny = cy + dd[1];
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    if (picture[static_cast<size_t>(ny)][static_cast<size_t>(nx)] != '#') continue;
                    if (label[static_cast<size_t>(ny * w + nx)] >= 0) continue;
                    label[static_cast<size_t>(ny * w + nx)] = count;
                    stack.push_back({nx, ny});
                }
            }
            ++count;
        }
    }
    return label;
}

// Every pixel of random pictures (blobs, rings with islands, pixels
// meeting at corners) lies in the region a flood fill gives it, and in
// none off copper: one region per label, however the contours' cuts run.
TEST(RegionsAt, AgreesWithFloodFillOnRandomPictures) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 60; ++trial) {
        const int w = 8 + static_cast<int>(rng() % 40), h = 6 + static_cast<int>(rng() % 30);
        Picture picture(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
        const int density = 30 + static_cast<int>(rng() % 40);
        for (auto& row : picture) {
            for (char& c : row) c = static_cast<int>(rng() % 100) < density ? '#' : '.';
        }
        if (trial % 3 == 0) {
            // A ring holding an island.
            for (int y = 1; y < h - 1; ++y) {
                for (int x = 1; x < w - 1; ++x) {
                    const bool edge = y == 1 || y == h - 2 || x == 1 || x == w - 2;
                    const bool gap = y == 2 || y == h - 3 || x == 2 || x == w - 3;
                    if (edge) picture[static_cast<size_t>(y)][static_cast<size_t>(x)] = '#';
                    if (gap && !edge) picture[static_cast<size_t>(y)][static_cast<size_t>(x)] = '.';
                }
            }
        }
        const std::vector<OutlineShape> shapes = Trace(picture);
        int count = 0;
        const std::vector<int> labels = Labels(picture, count);
        ASSERT_EQ(static_cast<int>(shapes.size()), count);

        std::vector<Vec2> points;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) points.push_back({x + 0.3 + 0.4 * (rng() % 2), y + 0.7});
        }
        points.push_back({-1, 2});  // off the picture
        const std::vector<int32_t> found = RegionsAt(shapes, points);
        ASSERT_EQ(found.size(), points.size());
        EXPECT_EQ(found.back(), -1);
        // Our region of each flood-fill label must be one and the same.
        std::vector<int32_t> regionOfLabel(static_cast<size_t>(count), -2);
        for (int i = 0; i < w * h; ++i) {
            const int label = labels[static_cast<size_t>(i)];
            if (label < 0) {
                EXPECT_EQ(found[static_cast<size_t>(i)], -1) << "trial " << trial << " pixel " << i;
                continue;
            }
            ASSERT_GE(found[static_cast<size_t>(i)], 0) << "trial " << trial << " pixel " << i;
            int32_t& r = regionOfLabel[static_cast<size_t>(label)];
            if (r == -2) r = found[static_cast<size_t>(i)];
            EXPECT_EQ(found[static_cast<size_t>(i)], r) << "trial " << trial << " pixel " << i;
            EXPECT_EQ(shapes[static_cast<size_t>(r)].pixels, std::count(labels.begin(), labels.end(), label));
        }
        std::set<int32_t> distinct;
        for (int32_t r : regionOfLabel) distinct.insert(r);
        EXPECT_EQ(static_cast<int>(distinct.size()), count);
    }
}

// A side of a board drawn as text: '#' copper, 'o' a drilled hole's pixels.
SideTrace Side(const Picture& picture, int32_t dpi) {
    SideTrace side;
    side.width = static_cast<int32_t>(picture[0].size());
    side.height = static_cast<int32_t>(picture.size());
    side.xres = side.yres = dpi;
    side.regions = Trace(picture);
    // Each hole: the pixels of a connected 'o' blob.
    Picture holes = picture;
    for (auto& row : holes) {
        for (char& c : row) c = c == 'o' ? '#' : '.';
    }
    int count = 0;
    const std::vector<int> labels = Labels(holes, count);
    for (int k = 0; k < count; ++k) {
        Hole hole;
        double sx = 0, sy = 0;
        for (int i = 0; i < side.width * side.height; ++i) {
            if (labels[static_cast<size_t>(i)] != k) continue;
            sx += i % side.width + 0.5;
            sy += i / side.width + 0.5;
            ++hole.pixels;
        }
        hole.centre = {sx / static_cast<double>(hole.pixels), sy / static_cast<double>(hole.pixels)};
        hole.diameterPx = 2 * std::sqrt(static_cast<double>(hole.pixels) / 3.14159265358979);
        hole.ringed = true;
        side.holes.push_back(hole);
    }
    return side;
}

// The bottom scan of a board drawn from above: mirrored left to right.
Picture Mirrored(Picture picture) {
    for (auto& row : picture) row = std::string(row.rbegin(), row.rend());
    return picture;
}

const Picture kTop = {
    "..................................",
    ".#######.........#######..........",
    ".#######.........#######....####..",
    ".##ooo##.........##ooo##....####..",
    ".##ooo##.........##ooo##....####..",
    ".##ooo#####......##ooo##....####..",
    ".#######..#......#######....####..",
    ".#######..#......#######..........",
    "..........#..........#............",
    "..........############............",
    "..................................",
};
// The bottom as seen from above: the right pad joined to a pour, the left
// pad alone.
const Picture kBottomFromAbove = {
    "..................................",
    ".#######.........#######..........",
    ".#######.........#############....",
    ".##ooo##.........##ooo##.....#....",
    ".##ooo##.........##ooo##.....#....",
    ".##ooo##.........##ooo##.....#....",
    ".#######.........#######.....#....",
    ".#######.........#######...######.",
    "...........................######.",
    "...........................######.",
    "..................................",
};

Affine2 MirrorMap(int32_t width) {
    Affine2 m;
    m.m00 = -1;
    m.tx = width;
    return m;
}

// Both sides' pads ringed: the plated holes join the top's track (left pad
// to right pad) with the bottom's pour, so all copper but the top's block
// is one net; that block is its own. Names go top-left first.
TEST(AssembleBoard, PlatedHolesJoinBothSidesIntoNets) {
    const SideTrace top = Side(kTop, 100);
    const SideTrace bottom = Side(Mirrored(kBottomFromAbove), 100);
    ASSERT_EQ(top.holes.size(), 2u);
    ASSERT_EQ(bottom.holes.size(), 2u);
    const Affine2 map = MirrorMap(bottom.width);
    BoardFacts facts;
    const BoardModel model = AssembleBoard(top, &bottom, map, {}, &facts);

    EXPECT_EQ(facts.holes, 2);
    EXPECT_EQ(facts.plated, 2);
    EXPECT_EQ(facts.regions, static_cast<int32_t>(top.regions.size() + bottom.regions.size()));
    // Top: pads + track (one region), the block. Bottom: left pad, right pad + pour.
    ASSERT_EQ(top.regions.size(), 2u);
    ASSERT_EQ(bottom.regions.size(), 2u);
    EXPECT_EQ(facts.nets, 2);
    ASSERT_EQ(model.nets, (std::vector<std::string>{"N1", "N2"}));
    for (const BoardHole& hole : model.holes) {
        EXPECT_TRUE(hole.plated);
        EXPECT_EQ(hole.net, 1);
        // 3 x 3 pixels at 100 dpi: a disc of that area is 0.86 mm wide.
        EXPECT_EQ(hole.drillNm, 850'000);
        EXPECT_GT(hole.padNm, hole.drillNm);
    }
    int front = 0, back = 0;
    for (const BoardRegion& region : model.regions) {
        (region.layer == BoardLayer::Front ? front : back) += 1;
        // The block alone is N2, on the top.
        const bool block = region.layer == BoardLayer::Front && region.contour.size() == 4;
        EXPECT_EQ(region.net, block ? 2 : 1);
    }
    EXPECT_EQ(front, 2);
    EXPECT_EQ(back, 2);
    // The bottom's regions are carried into the top's frame: the mirrored
    // pour's box lands where it lies seen from above (columns 27..33).
    int64_t minX = INT64_MAX, maxX = INT64_MIN;
    for (const BoardRegion& region : model.regions) {
        if (region.layer != BoardLayer::Back) continue;
        for (const BoardPoint& p : region.contour) {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
        }
    }
    EXPECT_EQ(minX, 254'000);       // column 1 at 100 dpi
    EXPECT_EQ(maxX, 33 * 254'000);  // column 33's right edge
    // The top's holes keep their measured centres, in nanometres.
    EXPECT_EQ(model.holes[0].centre, (BoardPoint{1'143'000, 1'143'000}));  // pixel 4.5, 4.5
}

// A hole ringed on one side only joins nothing and is not plated; with no
// bottom at all no hole is plated, and every region is a net of its own.
TEST(AssembleBoard, HolesRingedOnOneSideOrOneSidedBoards) {
    Picture bottomPicture = kBottomFromAbove;
    // The bottom's left pad gone: its hole shows in bare board.
    for (int y = 1; y <= 7; ++y) {
        for (int x = 1; x <= 7; ++x) {
            char& c = bottomPicture[static_cast<size_t>(y)][static_cast<size_t>(x)];
            if (c == '#') c = '.';
        }
    }
    const SideTrace top = Side(kTop, 100);
    const SideTrace bottom = Side(Mirrored(bottomPicture), 100);
    BoardFacts facts;
    const BoardModel model = AssembleBoard(top, &bottom, MirrorMap(bottom.width), {}, &facts);
    EXPECT_EQ(facts.holes, 2);
    EXPECT_EQ(facts.plated, 1);
    ASSERT_EQ(model.holes.size(), 2u);
    EXPECT_FALSE(model.holes[0].plated);  // the left one, first by its x
    EXPECT_EQ(model.holes[0].net, 1);     // still the net of the top's copper around it
    EXPECT_TRUE(model.holes[1].plated);

    const BoardModel alone = AssembleBoard(top, nullptr, std::nullopt, {}, &facts);
    EXPECT_EQ(facts.plated, 0);
    EXPECT_EQ(facts.nets, 2);
    EXPECT_EQ(alone.regions.size(), 2u);
    EXPECT_EQ(alone.widthNm, 34 * 254'000);
    EXPECT_EQ(alone.heightNm, 11 * 254'000);
    EXPECT_TRUE(alone.edge.empty());
}

TEST(AssembleBoard, DrillsRoundToTheNearestTwentiethOfAMillimetre) {
    EXPECT_EQ(DrillNmOf(0.3), 300'000);
    EXPECT_EQ(DrillNmOf(0.324), 300'000);
    EXPECT_EQ(DrillNmOf(0.326), 350'000);
    EXPECT_EQ(DrillNmOf(1.02), 1'000'000);
    EXPECT_EQ(DrillNmOf(0.001), 50'000);  // never a drill of nothing
}

TEST(Affine2, InverseAndThenUndoEachOther) {
    Affine2 a;
    a.m00 = -0.998;
    a.m01 = 0.07;
    a.m10 = 0.069;
    a.m11 = 1.002;
    a.tx = 3000;
    a.ty = -12.5;
    const Affine2 round = a.Then(a.Inverse());
    const Vec2 p{1234.5, 987.25};
    const Vec2 q = round.Apply(p);
    EXPECT_NEAR(q.x, p.x, 1e-9);
    EXPECT_NEAR(q.y, p.y, 1e-9);
    const Vec2 r = a.Then(MirrorMap(10)).Apply(p);
    const Vec2 s = MirrorMap(10).Apply(a.Apply(p));
    EXPECT_NEAR(r.x, s.x, 1e-9);
    EXPECT_NEAR(r.y, s.y, 1e-9);
    Affine2 flat;
    flat.m00 = flat.m11 = 0;
    EXPECT_THROW(flat.Inverse(), std::runtime_error);
}


// Twice the signed area, about the first point.
double TwiceArea(const std::vector<BoardPoint>& loop) {
    double sum = 0;
    for (size_t i = 1; i + 1 < loop.size(); ++i) {
        sum += static_cast<double>(loop[i].x - loop[0].x) * static_cast<double>(loop[i + 1].y - loop[0].y) -
               static_cast<double>(loop[i + 1].x - loop[0].x) * static_cast<double>(loop[i].y - loop[0].y);
    }
    return sum;
}

// A pour with holes: two side by side at the top, a small one, one under
// the top right hole (its cut ends on that hole) holding an island, which is
// a region of its own; a notch at the right edge.
const Picture kPour = {
    "#################",
    "#...#####...######",
    "#...#####...######",
    "#...#########.####",
    "#####.##########..",
    "#####.#####...####",
    "###########.#.####",
    "###########...####",
    "##################",
};

std::vector<BoardPoint> ContourOf(const OutlineShape& shape, const Affine2& map) {
    std::vector<BoardPoint> contour;
    for (const OutlinePoint& p : shape.points) {
        const Vec2 v = map.Apply({p.x2 / 2.0, p.y2 / 2.0});
        contour.push_back({std::llround(v.x * 42'333.3), std::llround(v.y * 42'333.3)});
    }
    return contour;
}

// The cuts come apart into the outline and one loop per hole, the holes
// turned against the outline, their areas the region's pixels; so too once
// the contour is carried through a mirroring, turning map and rounded.
TEST(KiCadBoard, RegionLoopsTakeTheCutsApart) {
    Picture pour = kPour;
    for (std::string& row : pour) row.resize(18, '#');
    const std::vector<OutlineShape> shapes = Trace(pour);
    const OutlineShape* big = nullptr;
    for (const OutlineShape& s : shapes) {
        if (big == nullptr || s.pixels > big->pixels) big = &s;
    }
    ASSERT_NE(big, nullptr);
    ASSERT_GE(big->holes, 4);
    Affine2 turned;
    turned.m00 = -std::cos(0.3);
    turned.m01 = std::sin(0.3);
    turned.m10 = std::sin(0.3);
    turned.m11 = std::cos(0.3);
    turned.tx = 40;
    for (const Affine2& map : {Affine2{}, turned}) {
        const std::vector<BoardPoint> contour = ContourOf(*big, map);
        const auto loops = RegionLoops(contour);
        ASSERT_EQ(loops.size(), static_cast<size_t>(big->holes) + 1);
        const double outer = TwiceArea(loops[0]);
        double net = 0;
        for (size_t i = 0; i < loops.size(); ++i) {
            const double area = TwiceArea(loops[i]);
            if (i > 0) {
                EXPECT_LT(area * outer, 0) << "hole " << i << " turns with the outline";
                EXPECT_LT(std::abs(area), std::abs(outer));
            }
            net += area;
            for (size_t k = 0; k < loops[i].size(); ++k) {
                EXPECT_FALSE(loops[i][k] == loops[i][(k + 1) % loops[i].size()]) << "a repeated point";
            }
        }
        // Within the rounding to nanometres; a lost hole is a pixel, 1/100 of it.
        const double pixelArea = 42'333.3 * 42'333.3;
        EXPECT_NEAR(std::abs(net) / 2, static_cast<double>(big->pixels) * pixelArea, 1e-5 * big->pixels * pixelArea);
    }
    // A region without holes is its contour.
    const OutlineShape* plain = nullptr;
    for (const OutlineShape& s : shapes) {
        if (s.holes == 0) plain = &s;
    }
    ASSERT_NE(plain, nullptr);
    const std::vector<BoardPoint> contour = ContourOf(*plain, Affine2{});
    EXPECT_EQ(RegionLoops(contour), std::vector<std::vector<BoardPoint>>{contour});
}

// Contours that do not come apart into an outline around holes come back
// whole: too short, an edge run twice the same way, a loop inside turned
// with the outline.
TEST(KiCadBoard, RegionLoopsKeepWhatTheyCannotTakeApart) {
    const std::vector<BoardPoint> two = {{0, 0}, {5, 5}};
    EXPECT_EQ(RegionLoops(two), std::vector<std::vector<BoardPoint>>{two});
    EXPECT_TRUE(RegionLoops(std::vector<BoardPoint>{}).size() == 1 && RegionLoops(std::vector<BoardPoint>{})[0].empty());
    // Two squares joined by a cut, the inner one turned the same way.
    const std::vector<BoardPoint> same = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {5, 0}, {5, 2},
                                          {3, 2}, {3, 4}, {7, 4}, {7, 2}, {5, 2}, {5, 0}};
    EXPECT_EQ(RegionLoops(same).size(), 1u);
    // A zero-width spike out of a square: its two sides are a cut to
    // nothing, and the walk still closes the square alone.
    const std::vector<BoardPoint> spike = {{0, 0}, {0, 10}, {10, 10}, {10, 5}, {20, 5}, {10, 5}, {10, 0}};
    const auto loops = RegionLoops(spike);
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_EQ(std::abs(TwiceArea(loops[0])), 200.0);
}

// The board file: a region with holes becomes a zone whose first polygon
// is the outline and each further one a hole, the outline's signed area
// positive (Y down) on both layers, the bottom's mirrored contour too.
TEST(KiCadBoard, ZonesCarryTheirHolesInKiCadsOrientation) {
    const std::vector<OutlineShape> shapes = Trace(kTop);
    BoardModel model;
    model.nets = {"N1"};
    model.widthNm = model.heightNm = 20'000'000;
    Affine2 mirror;
    mirror.m00 = -1;
    mirror.tx = 34;
    for (const OutlineShape& s : shapes) {
        if (s.holes == 0) continue;
        model.regions.push_back({BoardLayer::Front, 1, ContourOf(s, Affine2{})});
        model.regions.push_back({BoardLayer::Back, 1, ContourOf(s, mirror)});
    }
    ASSERT_FALSE(model.regions.empty());
    std::string text;
    WriteKiCadBoard(model, "test", [&text](std::string_view piece) { text += piece; });
    size_t zones = 0;
    for (size_t at = text.find("  (zone "); at != std::string::npos; at = text.find("  (zone ", at + 1), ++zones) {
        const size_t end = text.find("\n  )\n", at);
        const std::string zone = text.substr(at, end - at);
        size_t polygons = 0;
        for (size_t p = zone.find("(polygon"); p != std::string::npos; p = zone.find("(polygon", p + 1)) ++polygons;
        EXPECT_EQ(polygons, 3u) << "the outline and the two drilled pads' holes";
        // The first polygon's points, in micrometres.
        std::vector<BoardPoint> outline;
        const size_t first = zone.find("(polygon");
        const size_t stop = zone.find(")\n    )", first);
        for (size_t p = zone.find("(xy ", first); p != std::string::npos && p < stop; p = zone.find("(xy ", p + 1)) {
            double x = 0, y = 0;
            ASSERT_EQ(std::sscanf(zone.c_str() + p, "(xy %lf %lf)", &x, &y), 2);
            outline.push_back({std::llround(x * 1000), std::llround(y * 1000)});
        }
        EXPECT_GT(TwiceArea(outline), 0) << zone.substr(0, 200);
        EXPECT_NE(zone.find("(filled_polygon"), std::string::npos);
    }
    EXPECT_EQ(zones, model.regions.size());
}

}  // namespace
}  // namespace rastrace
