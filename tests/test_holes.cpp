// SPDX-License-Identifier: GPL-3.0-or-later
// Holes and the board's outline found in streamed rows of runs.
#include "board/Holes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace rastrace {
namespace {

// What a pixel shows: 0 non-copper, 1 copper, 2 the hole colour.
using Kind = std::function<int(int32_t x, int32_t y)>;

HoleFinder Find(int32_t w, int32_t h, const Kind& kind, bool holeColours, double minPx = 4, double maxPx = 200) {
    HoleFinder finder(w, h, {minPx, maxPx}, holeColours);
    for (int32_t y = 0; y < h; ++y) {
        std::vector<Span> copper, hole;
        for (int32_t x = 0; x < w; ++x) {
            const int k = kind(x, y);
            std::vector<Span>* list = k == 1 ? &copper : k == 2 ? &hole : nullptr;
            if (list == nullptr) continue;
            if (!list->empty() && list->back().end == x) {
                ++list->back().end;
            } else {
                list->push_back({x, x + 1});
            }
        }
        finder.AddRow(copper, hole);
    }
    finder.Finish();
    return finder;
}

bool InDisc(int32_t x, int32_t y, double cx, double cy, double r) {
    return std::hypot(x + 0.5 - cx, y + 0.5 - cy) <= r;
}

// Discs of the hole colour at fractions of a pixel, in pads of copper:
// centre within a fifth of a pixel, diameter within half a pixel.
TEST(HoleFinder, MeasuresDiscsToAFractionOfAPixel) {
    for (double d : {8.0, 13.5, 24.0, 60.0}) {
        for (double off : {0.0, 0.3, 0.71}) {
            const double cx = 50 + off, cy = 47 - off / 2;
            HoleFinder f = Find(100, 100, [&](int32_t x, int32_t y) {
                return InDisc(x, y, cx, cy, d / 2) ? 2 : InDisc(x, y, cx, cy, d / 2 + 6) ? 1 : 0;
            }, true);
            ASSERT_EQ(f.Holes().size(), 1u) << d;
            const Hole& h = f.Holes()[0];
            EXPECT_NEAR(h.centre.x, cx, 0.2) << d;
            EXPECT_NEAR(h.centre.y, cy, 0.2) << d;
            EXPECT_NEAR(h.diameterPx, d, 0.5) << d;
        }
    }
}

// Squares, lines, patches touching the border and ones out of the limits
// are no holes; without hole colours an enclosed round opening is one.
TEST(HoleFinder, RefusesWhatIsNoDrilledHole) {
    HoleFinder square = Find(60, 60, [](int32_t x, int32_t y) { return x >= 20 && x < 36 && y >= 20 && y < 36 ? 2 : 1; }, true);
    EXPECT_TRUE(square.Holes().empty());
    HoleFinder line = Find(60, 60, [](int32_t x, int32_t y) { return y == 30 && x > 5 && x < 50 ? 2 : 1; }, true);
    EXPECT_TRUE(line.Holes().empty());
    HoleFinder edge = Find(60, 60, [](int32_t x, int32_t y) { return InDisc(x, y, 3, 30, 8) ? 2 : 1; }, true);
    EXPECT_TRUE(edge.Holes().empty());
    HoleFinder tiny = Find(60, 60, [](int32_t x, int32_t y) { return InDisc(x, y, 30, 30, 1.2) ? 2 : 1; }, true);
    EXPECT_TRUE(tiny.Holes().empty());
    HoleFinder opening = Find(60, 60, [](int32_t x, int32_t y) { return InDisc(x, y, 30.5, 30, 9) ? 0 : 1; }, false);
    ASSERT_EQ(opening.Holes().size(), 1u);
    EXPECT_TRUE(opening.Holes()[0].ringed);
    EXPECT_NEAR(opening.Holes()[0].centre.x, 30.5, 0.2);
}

// A grid of holes in one band, and a run of equal rows given once.
TEST(HoleFinder, ManyHolesAndRepeatedRows) {
    HoleFinder grid = Find(400, 400, [](int32_t x, int32_t y) {
        const double cx = (x / 10) * 10 + 5, cy = (y / 10) * 10 + 5;
        return InDisc(x, y, cx, cy, 3) ? 2 : 1;
    }, true, 3, 20);
    EXPECT_EQ(grid.Holes().size(), 40u * 40u);
    // Tall repeated rows: one column of lid the whole height reaches both borders.
    HoleFinder tall(20000, 100000, {4, 200}, true);
    std::vector<Span> copper{{0, 20000}}, none;
    tall.AddRow(copper, none);
    tall.RepeatRow(99999);
    tall.Finish();
    EXPECT_TRUE(tall.Holes().empty());
    std::vector<Span> bad{{5, 3}};
    HoleFinder f(10, 10, {4, 200}, true);
    EXPECT_THROW(f.AddRow(bad, none), std::invalid_argument);
    std::vector<Span> a{{0, 5}}, b{{4, 6}};
    EXPECT_THROW(f.AddRow(a, b), std::invalid_argument);
}

// The outline of a board in the lid: a rectangle, turned a little, and
// rounded corners, each within a pixel and with few corners.
TEST(HoleFinder, BoardOutlineWithinAPixel) {
    HoleFinder rect = Find(200, 150, [](int32_t x, int32_t y) { return x >= 20 && x < 180 && y >= 10 && y < 140 ? 0 : 2; }, true);
    ASSERT_EQ(rect.Edge().size(), 4u);
    for (const Vec2& p : rect.Edge()) {
        EXPECT_TRUE(p.x == 20 || p.x == 180);
        EXPECT_TRUE(p.y == 10 || p.y == 140);
    }
    const double a = 0.02;
    HoleFinder turned = Find(300, 200, [a](int32_t x, int32_t y) {
        const double u = std::cos(a) * (x - 150) + std::sin(a) * (y - 100), v = -std::sin(a) * (x - 150) + std::cos(a) * (y - 100);
        return std::abs(u) < 120 && std::abs(v) < 70 ? 0 : 2;
    }, true);
    EXPECT_LE(turned.Edge().size(), 8u);
    EXPECT_GE(turned.Edge().size(), 4u);
    HoleFinder round = Find(200, 150, [](int32_t x, int32_t y) {
        const double cx = std::clamp(x + 0.5, 40.0, 160.0), cy = std::clamp(y + 0.5, 30.0, 120.0);
        return std::hypot(x + 0.5 - cx, y + 0.5 - cy) < 20 ? 0 : 2;
    }, true);
    EXPECT_GE(round.Edge().size(), 8u);
    EXPECT_LE(round.Edge().size(), 40u);
    HoleFinder none = Find(50, 50, [](int32_t, int32_t) { return 0; }, true);
    EXPECT_TRUE(none.Edge().empty());
}

}  // namespace
}  // namespace rastrace
