// SPDX-License-Identifier: GPL-3.0-or-later
// The outline tracer against an independent scanline fill: every traced
// shape, filled again at the pixel centres, must give back exactly one
// 4-connected region of the input, and all of them together the input.
#include "trace/Outline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace rastrace;

namespace {

using Picture = std::vector<std::string>;  // '#' is a set pixel, row 0 first

std::vector<Span> RowRuns(const std::string& row) {
    std::vector<Span> runs;
    for (int32_t x = 0; x < static_cast<int32_t>(row.size());) {
        if (row[static_cast<size_t>(x)] != '#') {
            ++x;
            continue;
        }
        const int32_t s = x;
        while (x < static_cast<int32_t>(row.size()) && row[static_cast<size_t>(x)] == '#') ++x;
        runs.push_back(Span{s, x});
    }
    return runs;
}

struct Traced {
    std::vector<OutlineShape> shapes;
    std::vector<int32_t> finishedAfterRow;  // rows given when each shape came out
};

Traced Trace(const Picture& pic) {
    Traced out;
    int32_t rows = 0;
    OutlineTracer tracer([&](const OutlineShape& s) {
        out.shapes.push_back(s);
        out.finishedAfterRow.push_back(rows);
    });
    for (const std::string& row : pic) {
        tracer.AddRow(RowRuns(row));
        ++rows;
    }
    tracer.Finish();
    EXPECT_EQ(tracer.OpenVertices(), 0u);
    return out;
}

// Scanline fill sampling pixel centres: winding number (nonzero) or crossing
// parity (even-odd) of the centre against the contour's non-horizontal edges.
Picture Fill(const OutlineShape& shape, int32_t width, int32_t height, bool evenOdd) {
    Picture pic(static_cast<size_t>(height), std::string(static_cast<size_t>(width), '.'));
    const auto& p = shape.points;
    for (int32_t r = 0; r < height; ++r) {
        const double sy = 2.0 * r + 1;
        std::vector<std::pair<double, int>> crossings;
        for (size_t i = 0; i < p.size(); ++i) {
            const OutlinePoint a = p[i], b = p[(i + 1) % p.size()];
            if ((a.y2 < sy) == (b.y2 < sy)) continue;
            const double x = a.x2 + (sy - a.y2) * (b.x2 - a.x2) / (b.y2 - a.y2);
            crossings.emplace_back(x, b.y2 > a.y2 ? 1 : -1);
        }
        for (int32_t c = 0; c < width; ++c) {
            const double sx = 2.0 * c + 1;
            int winding = 0, parity = 0;
            for (auto [x, dir] : crossings) {
                if (x < sx) {
                    winding += dir;
                    parity ^= 1;
                }
            }
            if (evenOdd ? parity != 0 : winding != 0) pic[static_cast<size_t>(r)][static_cast<size_t>(c)] = '#';
        }
    }
    return pic;
}

// The 4-connected regions of pic, each as a picture of its own.
std::vector<Picture> Regions(const Picture& pic) {
    const int32_t h = static_cast<int32_t>(pic.size()), w = h ? static_cast<int32_t>(pic[0].size()) : 0;
    std::vector<int> seen(static_cast<size_t>(w * h), 0);
    std::vector<Picture> regions;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (pic[y][x] != '#' || seen[y * w + x]) continue;
            Picture region(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
            std::vector<std::pair<int32_t, int32_t>> stack{{x, y}};
            seen[y * w + x] = 1;
            while (!stack.empty()) {
                auto [cx, cy] = stack.back();
                stack.pop_back();
                region[cy][cx] = '#';
                const int32_t dx[] = {1, -1, 0, 0}, dy[] = {0, 0, 1, -1};
                for (int k = 0; k < 4; ++k) {
                    const int32_t nx = cx + dx[k], ny = cy + dy[k];
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h || pic[ny][nx] != '#' || seen[ny * w + nx]) continue;
                    seen[ny * w + nx] = 1;
                    stack.push_back({nx, ny});
                }
            }
            regions.push_back(region);
        }
    }
    return regions;
}

int64_t Count(const Picture& pic) {
    int64_t n = 0;
    for (const auto& row : pic) n += std::count(row.begin(), row.end(), '#');
    return n;
}

int32_t Holes(const Picture& region) {
    // Background components (8-connected) not reaching the border.
    const int32_t h = static_cast<int32_t>(region.size()) + 2, w = static_cast<int32_t>(region[0].size()) + 2;
    auto bg = [&](int32_t x, int32_t y) {
        return x == 0 || y == 0 || x == w - 1 || y == h - 1 || region[y - 1][x - 1] != '#';
    };
    std::vector<int> seen(static_cast<size_t>(w * h), 0);
    int32_t components = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (!bg(x, y) || seen[y * w + x]) continue;
            ++components;
            std::vector<std::pair<int32_t, int32_t>> stack{{x, y}};
            seen[y * w + x] = 1;
            while (!stack.empty()) {
                auto [cx, cy] = stack.back();
                stack.pop_back();
                for (int32_t dy = -1; dy <= 1; ++dy) {
                    for (int32_t dx = -1; dx <= 1; ++dx) {
                        const int32_t nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || !bg(nx, ny) || seen[ny * w + nx]) continue;
                        seen[ny * w + nx] = 1;
                        stack.push_back({nx, ny});
                    }
                }
            }
        }
    }
    return components - 1;
}

// Every check on one picture; returns the shapes for further checks.
Traced CheckPicture(const Picture& pic) {
    const Traced traced = Trace(pic);
    const int32_t h = static_cast<int32_t>(pic.size()), w = h ? static_cast<int32_t>(pic[0].size()) : 0;
    std::vector<Picture> regions = Regions(pic);
    EXPECT_EQ(traced.shapes.size(), regions.size());
    std::vector<bool> matched(regions.size(), false);
    for (const OutlineShape& shape : traced.shapes) {
        const Picture filled = Fill(shape, w, h, false);
        EXPECT_EQ(Fill(shape, w, h, true), filled) << "even-odd and nonzero disagree";
        auto it = std::find(regions.begin(), regions.end(), filled);
        if (it == regions.end()) {
            ADD_FAILURE() << "a shape fills no region of the picture";
            continue;
        }
        const size_t k = static_cast<size_t>(it - regions.begin());
        EXPECT_FALSE(matched[k]) << "two shapes for one region";
        matched[k] = true;
        EXPECT_EQ(shape.pixels, Count(filled));
        EXPECT_EQ(shape.holes, Holes(regions[k]));
        // Rectilinear, corners only: consecutive edges alternate between
        // horizontal and vertical and none is empty.
        const auto& p = shape.points;
        EXPECT_EQ(p.size() % 2, 0u);
        for (size_t i = 0; i < p.size(); ++i) {
            const OutlinePoint a = p[i], b = p[(i + 1) % p.size()], c = p[(i + 2) % p.size()];
            const bool abH = a.y2 == b.y2, bcH = b.y2 == c.y2;
            EXPECT_TRUE((abH && a.x2 != b.x2) || (!abH && a.x2 == b.x2 && a.y2 != b.y2));
            EXPECT_NE(abH, bcH) << "collinear vertex at " << b.x2 << "," << b.y2;
        }
    }
    return traced;
}

Picture RandomPicture(std::mt19937& rng, int32_t w, int32_t h, double density) {
    std::bernoulli_distribution set(density);
    Picture pic(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
    for (auto& row : pic) {
        for (auto& c : row) c = set(rng) ? '#' : '.';
    }
    return pic;
}

}  // namespace

TEST(Outline, OnePixelIsASquareCounterClockwiseYUp) {
    const Traced t = CheckPicture({"#"});
    ASSERT_EQ(t.shapes.size(), 1u);
    // Y down: (0,0) (0,1) (1,1) (1,0), which turned Y-up runs counter-clockwise.
    EXPECT_EQ(t.shapes[0].points, (std::vector<OutlinePoint>{{0, 0}, {0, 2}, {2, 2}, {2, 0}}));
    EXPECT_EQ(t.shapes[0].pixels, 1);
}

TEST(Outline, EmptyAndBlankPicturesGiveNoShapes) {
    EXPECT_TRUE(Trace({}).shapes.empty());
    EXPECT_TRUE(Trace({"....", "....", "...."}).shapes.empty());
}

TEST(Outline, FullPictureIsOneRectangle) {
    const Traced t = CheckPicture(Picture(7, std::string(5, '#')));
    ASSERT_EQ(t.shapes.size(), 1u);
    EXPECT_EQ(t.shapes[0].points.size(), 4u);
    EXPECT_EQ(t.shapes[0].pixels, 35);
}

TEST(Outline, HoleIsJoinedByACutThroughAPixelColumn) {
    const Traced t = CheckPicture({"###", "#.#", "###"});
    ASSERT_EQ(t.shapes.size(), 1u);
    EXPECT_EQ(t.shapes[0].holes, 1);
    EXPECT_EQ(t.shapes[0].pixels, 8);
    // Outline 4 corners, hole 4 corners, and the cut's 4 ends.
    EXPECT_EQ(t.shapes[0].points.size(), 12u);
    int odd = 0;
    for (const OutlinePoint& p : t.shapes[0].points) odd += p.x2 % 2 != 0;
    EXPECT_EQ(odd, 4);
}

TEST(Outline, DiagonalTouchesKeepRegionsApart) {
    const Traced t = CheckPicture({"#.#.", ".#.#", "#.#.", ".#.#"});
    EXPECT_EQ(t.shapes.size(), 8u);
    for (const auto& s : t.shapes) EXPECT_EQ(s.points.size(), 4u);
    CheckPicture({"#.", ".#"});
    CheckPicture({".#", "#."});
}

TEST(Outline, RegionTouchingItselfAtACornerHasNoHole) {
    // The enclosed pixel meets the outside at a corner, so it is no hole.
    const Traced t = CheckPicture({".##", "#.#", "###"});
    ASSERT_EQ(t.shapes.size(), 1u);
    EXPECT_EQ(t.shapes[0].holes, 0);
    CheckPicture({"##.", "#.#", "###"});
    CheckPicture({"###.", "#..#", "#.##", "###."});
}

TEST(Outline, HolesWithinIslandsWithinHoles) {
    const Picture pic = {
        "###########",
        "#.........#",
        "#.#######.#",
        "#.#.....#.#",
        "#.#.###.#.#",
        "#.#.#.#.#.#",
        "#.#.###.#.#",
        "#.#.....#.#",
        "#.#######.#",
        "#.........#",
        "###########",
    };
    const Traced t = CheckPicture(pic);
    ASSERT_EQ(t.shapes.size(), 3u);
    // Inner regions finish first: each comes out once its last row has passed.
    EXPECT_EQ(t.finishedAfterRow, (std::vector<int32_t>{7, 9, 11}));
}

TEST(Outline, ManyHolesUnderOneEdgeAndHolesUnderHoles) {
    CheckPicture({
        "#########",
        "#.#.#.#.#",
        "#########",
        "##.##.###",
        "#########",
        "#.......#",
        "###.#.###",
        "#.#####.#",
        "#########",
    });
    // Holes of many shapes: U, comb, stairs.
    CheckPicture({
        "##########",
        "#.##.#...#",
        "#.##.#.#.#",
        "#....#.#.#",
        "######...#",
        "#..#######",
        "##..######",
        "###......#",
        "##########",
    });
}

TEST(Outline, SpiralAndCombs) {
    CheckPicture({
        "#########",
        "........#",
        "#######.#",
        "#.....#.#",
        "#.###.#.#",
        "#.#...#.#",
        "#.#####.#",
        "#.......#",
        "#########",
    });
    CheckPicture({"#.#.#.#", "#######", "#.#.#.#", "#######"});
}

TEST(Outline, RandomPicturesFillBackExactly) {
    std::mt19937 rng(12345);
    for (int i = 0; i < 400; ++i) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 24), h = 1 + static_cast<int32_t>(rng() % 24);
        const double density = 0.2 + 0.6 * (i % 7) / 6.0;
        const Picture pic = RandomPicture(rng, w, h, density);
        SCOPED_TRACE(::testing::PrintToString(pic));
        CheckPicture(pic);
        if (::testing::Test::HasFailure()) break;
    }
}

TEST(Outline, LargeRandomPictureWithBlobs) {
    // Denser blobs give ground planes with many holes and islands in them.
    std::mt19937 rng(7);
    const int32_t w = 90, h = 70;
    Picture pic(h, std::string(w, '.'));
    for (int k = 0; k < 60; ++k) {
        const int32_t cx = static_cast<int32_t>(rng() % w), cy = static_cast<int32_t>(rng() % h);
        const int32_t rw = 2 + static_cast<int32_t>(rng() % 20), rh = 2 + static_cast<int32_t>(rng() % 20);
        const char c = k % 3 == 2 ? '.' : '#';
        for (int32_t y = cy; y < std::min(h, cy + rh); ++y) {
            for (int32_t x = cx; x < std::min(w, cx + rw); ++x) pic[y][x] = c;
        }
    }
    for (int k = 0; k < 300; ++k) pic[rng() % h][rng() % w] ^= ('#' ^ '.');
    CheckPicture(pic);
}

TEST(Outline, TouchingRunsJoinAndBadRunsAreRefused) {
    int shapes = 0;
    OutlineTracer tracer([&](const OutlineShape& s) {
        ++shapes;
        EXPECT_EQ(s.points.size(), 4u);
        EXPECT_EQ(s.pixels, 4);
    });
    const std::vector<Span> touching = {{0, 1}, {1, 2}, {2, 2}};
    tracer.AddRow(touching);
    tracer.AddRow(std::vector<Span>{{0, 2}});
    const std::vector<Span> overlapping = {{0, 3}, {2, 4}};
    EXPECT_THROW(tracer.AddRow(overlapping), std::invalid_argument);
    const std::vector<Span> negative = {{-1, 3}};
    EXPECT_THROW(tracer.AddRow(negative), std::invalid_argument);
    tracer.Finish();
    EXPECT_EQ(shapes, 1);
    EXPECT_THROW(tracer.AddRow(touching), std::logic_error);
}

TEST(Outline, MemoryHoldsOnlyOpenRegions) {
    // A thousand separate bars, one below the other: each is handed out when
    // it ends, so the open vertices never exceed those of one bar.
    size_t peak = 0;
    int shapes = 0;
    OutlineTracer tracer([&](const OutlineShape&) { ++shapes; });
    const std::vector<Span> bar = {{0, 5}, {7, 9}};
    for (int i = 0; i < 1000; ++i) {
        tracer.AddRow(bar);
        tracer.AddRow({});
        peak = std::max(peak, tracer.OpenVertices());
    }
    tracer.Finish();
    EXPECT_EQ(shapes, 2000);
    EXPECT_LE(peak, 8u);
}
