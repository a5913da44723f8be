// SPDX-License-Identifier: GPL-3.0-or-later
// Gerber and KiCad area output: exact header text, the number formats, and
// round trips: our files are parsed back by a small reader written here for
// exactly what we write, filled again at the pixel centres (in nanometres)
// and compared with the copper pixels. Where gerbv and KiCad's pcbnew module
// are installed, they have the last word.
#include "common/Error.h"
#include "support/Pixels.h"
#include "formats/AreaOutput.h"
#include "formats/Gerber.h"
#include "formats/KiCad.h"
#include "raster/BmpReader.h"
#include "support/Files.h"
#include "support/PngReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace rastrace;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kCopper = 0x4088C4, kCopper2 = 0x60A4D6, kOther = 0x2E5424;

using test::SetPixel;

// '#' copper, '+' second copper colour, anything else substrate; row 0 first.
Raster FromPattern(const std::vector<std::string>& rows) {
    Raster r(static_cast<int32_t>(rows.at(0).size()), static_cast<int32_t>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            const char c = rows[y][x];
            SetPixel(r, static_cast<int32_t>(x), static_cast<int32_t>(y),
                     c == '#' ? kCopper : c == '+' ? kCopper2 : kOther);
        }
    }
    return r;
}

Raster RandomBoard(std::mt19937& rng, int32_t w, int32_t h) {
    Raster r(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) SetPixel(r, x, y, kOther);
    }
    for (int k = 0; k < 12; ++k) {
        const int32_t cx = static_cast<int32_t>(rng() % w), cy = static_cast<int32_t>(rng() % h);
        const int32_t rw = 1 + static_cast<int32_t>(rng() % (w / 2 + 1)), rh = 1 + static_cast<int32_t>(rng() % (h / 2 + 1));
        const uint32_t c = k % 4 == 3 ? kOther : k % 2 ? kCopper : kCopper2;
        for (int32_t y = cy; y < std::min(h, cy + rh); ++y) {
            for (int32_t x = cx; x < std::min(w, cx + rw); ++x) SetPixel(r, x, y, c);
        }
    }
    for (int k = 0; k < w * h / 6; ++k) {
        SetPixel(r, static_cast<int32_t>(rng() % w), static_cast<int32_t>(rng() % h), rng() % 2 ? kCopper : kOther);
    }
    return r;
}

std::vector<std::string> Mask(const Raster& r, std::vector<uint32_t> colors) {
    std::vector<std::string> mask(static_cast<size_t>(r.Height()), std::string(static_cast<size_t>(r.Width()), '.'));
    for (int32_t y = 0; y < r.Height(); ++y) {
        for (int32_t x = 0; x < r.Width(); ++x) {
            for (uint32_t c : colors) {
                if (r.PixelColor(x, y) == c) mask[y][x] = '#';
            }
        }
    }
    return mask;
}

struct NmPoint {
    int64_t x, y;  // nanometres, Y up
};
using Contour = std::vector<NmPoint>;

std::string Write(const Raster& r, std::vector<uint32_t> colors, AreaOptions options, AreaStats* stats = nullptr) {
    std::string text;
    const AreaStats s = WriteCopperArea(r, colors, options, [&](std::string_view t) { text += t; });
    if (stats) *stats = s;
    return text;
}

// The Gerber we write: G36 opens a contour, modal X/Y, D02 moves, D01
// draws, G37 closes it. Every contour must end where it began.
std::vector<Contour> ParseGerber(const std::string& text) {
    std::vector<Contour> contours;
    bool inRegion = false;
    int64_t x = 0, y = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        const std::string line = text.substr(pos, end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (line == "G36*") {
            inRegion = true;
            contours.emplace_back();
            continue;
        }
        if (line == "G37*") {
            EXPECT_TRUE(inRegion);
            const Contour& c = contours.back();
            EXPECT_TRUE(c.size() >= 2 && c.front().x == c.back().x && c.front().y == c.back().y) << "open contour";
            contours.back().pop_back();
            inRegion = false;
            continue;
        }
        if (line.empty() || line[0] == '%' || (line[0] != 'X' && line[0] != 'Y')) continue;
        size_t i = 0;
        auto number = [&] {
            size_t used = 0;
            const long long v = std::stoll(line.substr(i), &used);
            i += used;
            return static_cast<int64_t>(v);
        };
        while (line[i] == 'X' || line[i] == 'Y') {
            const char axis = line[i++];
            (axis == 'X' ? x : y) = number();
        }
        const std::string op = line.substr(i);
        EXPECT_TRUE(inRegion) << line;
        if (op == "D02*") {
            EXPECT_TRUE(contours.back().empty());
        } else {
            EXPECT_EQ(op, "D01*");
        }
        contours.back().push_back(NmPoint{x, y});
    }
    EXPECT_FALSE(inRegion);
    return contours;
}

// Millimetres with up to six decimals to nanometres, exactly.
int64_t ParseMm(const std::string& s) {
    size_t i = 0;
    const bool negative = s[0] == '-';
    if (negative) ++i;
    int64_t whole = 0, frac = 0;
    int digits = 0;
    for (; i < s.size() && s[i] != '.'; ++i) whole = whole * 10 + (s[i] - '0');
    if (i < s.size()) {
        for (++i; i < s.size(); ++i, ++digits) frac = frac * 10 + (s[i] - '0');
    }
    EXPECT_LE(digits, 6);
    for (; digits < 6; ++digits) frac *= 10;
    const int64_t v = whole * 1'000'000 + frac;
    return negative ? -v : v;
}

// The fp_poly blocks of the footprint we write: "(xy X Y)" points up to the
// closing "(layer" of each polygon. Y is turned up again.
std::vector<Contour> ParseKiCad(const std::string& text, std::string* layer = nullptr) {
    std::vector<Contour> contours;
    size_t pos = 0;
    while ((pos = text.find("(fp_poly (pts", pos)) != std::string::npos) {
        const size_t stop = text.find("(layer", pos);
        contours.emplace_back();
        size_t p = pos;
        while ((p = text.find("(xy ", p)) != std::string::npos && p < stop) {
            const size_t close = text.find(')', p);
            const std::string body = text.substr(p + 4, close - p - 4);
            const size_t space = body.find(' ');
            contours.back().push_back(NmPoint{ParseMm(body.substr(0, space)), -ParseMm(body.substr(space + 1))});
            p = close;
        }
        const size_t layerEnd = text.find(')', stop);
        if (layer) *layer = text.substr(stop + 7, layerEnd - stop - 7);
        EXPECT_NE(text.find("(width 0) (fill solid))", layerEnd), std::string::npos);
        pos = stop;
    }
    return contours;
}

// Nonzero scanline fill of all contours at the pixel centres.
std::vector<std::string> Fill(const std::vector<Contour>& contours, int32_t w, int32_t h, int32_t xres, int32_t yres) {
    std::vector<std::string> mask(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
    for (int32_t r = 0; r < h; ++r) {
        const double cy = (2.0 * (h - r) - 1) * 12700000.0 / yres;
        std::vector<std::pair<double, int>> crossings;
        for (const Contour& c : contours) {
            for (size_t i = 0; i < c.size(); ++i) {
                const NmPoint a = c[i], b = c[(i + 1) % c.size()];
                if ((a.y < cy) == (b.y < cy)) continue;
                crossings.emplace_back(a.x + (cy - a.y) * (b.x - a.x) / static_cast<double>(b.y - a.y), b.y > a.y ? 1 : -1);
            }
        }
        for (int32_t c = 0; c < w; ++c) {
            const double cx = (2.0 * c + 1) * 12700000.0 / xres;
            int winding = 0;
            for (auto [x, dir] : crossings) {
                if (x < cx) winding += dir;
            }
            if (winding != 0) mask[r][c] = '#';
        }
    }
    return mask;
}

int64_t Count(const std::vector<std::string>& mask) {
    int64_t n = 0;
    for (const auto& row : mask) n += std::count(row.begin(), row.end(), '#');
    return n;
}

double Area(const Contour& c) {
    double a = 0;
    for (size_t i = 0; i < c.size(); ++i) {
        const NmPoint p = c[i], q = c[(i + 1) % c.size()];
        a += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
    }
    return a / 2;
}

bool HaveProgram(const char* check) { return std::system(check) == 0; }

}  // namespace

TEST(AreaScale, IsTheExactQuotientRoundedToTheNanometre) {
    for (int32_t res : {1, 7, 96, 150, 300, 600, 1200, 2400, 4800, 9600, 25400}) {
        const AreaScale s(res, res, 1000);
        for (int32_t v2 = 0; v2 <= 4000; ++v2) {
            const long double exact = static_cast<long double>(v2) * 12700000.0L / res;
            EXPECT_LE(std::fabs(static_cast<long double>(s.XNm(v2)) - exact), 0.5L);
            EXPECT_LE(std::fabs(static_cast<long double>(s.YNm(2000 - v2)) - exact), 0.5L);
        }
    }
    EXPECT_EQ(AreaScale(600, 600, 1).XNm(2), 42333);  // 42333.33
    EXPECT_EQ(AreaScale(600, 600, 1).XNm(1), 21167);  // 21166.67
    EXPECT_EQ(AreaScale(-1000, 1000, 1).XNm(2), -25400);
    EXPECT_EQ(AreaScale::RoundDiv(-5, 2), -3);  // half away from zero
    EXPECT_EQ(AreaScale::RoundDiv(5, 2), 3);
    try {
        AreaScale(0, 600, 1);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
    EXPECT_THROW(AreaScale(600, 0, 1), Error);
}

TEST(Gerber, HeaderNamesTheLayerFunction) {
    EXPECT_EQ(GerberHeader(1, "2.04"),
              "%TF.GenerationSoftware,Rastrace,Rastrace,2.04*%\n"
              "%TF.FileFunction,Copper,L1,Top*%\n"
              "%TF.FilePolarity,Positive*%\n"
              "%FSLAX46Y46*%\n"
              "%MOMM*%\n"
              "%LPD*%\n"
              "G01*\n");
    const char* expected[] = {"Other,Unassigned", "Copper,L1,Top", "Copper,L2,Inr", "Copper,L3,Inr", "Copper,L4,Inr",
                              "Copper,L5,Inr",    "Copper,L6,Bot", "Legend,Top",    "Legend,Bot"};
    for (int32_t layer = 0; layer <= 8; ++layer) EXPECT_EQ(GerberFileFunction(layer), expected[layer]);
    EXPECT_THROW(GerberFileFunction(9), std::invalid_argument);
    EXPECT_THROW(GerberFileFunction(-1), std::invalid_argument);
    EXPECT_EQ(GerberTrailer(), "M02*\n");
}

TEST(Gerber, OnePixelAt1000DpiIsOneSquareRegion) {
    AreaOptions options;
    options.xres = options.yres = 1000;
    const std::string text = Write(FromPattern({"#"}), {kCopper}, options);
    EXPECT_EQ(text, GerberHeader(1, RASTRACE_VERSION) +
                        "G36*\n"
                        "X0Y25400D02*\n"
                        "Y0D01*\n"
                        "X25400D01*\n"
                        "Y25400D01*\n"
                        "X0D01*\n"
                        "G37*\n"
                        "M02*\n");
}

TEST(Gerber, EmptyPictureIsHeaderAndTrailer) {
    AreaOptions options;
    options.layer = 6;
    EXPECT_EQ(Write(FromPattern({"...", "..."}), {kCopper}, options), GerberHeader(6, RASTRACE_VERSION) + "M02*\n");
}

TEST(KiCad, LayerNamesAndFootprintNames) {
    const char* expected[] = {"Dwgs.User", "F.Cu", "In1.Cu", "In2.Cu", "In3.Cu", "In4.Cu", "B.Cu", "F.SilkS", "B.SilkS"};
    for (int32_t layer = 0; layer <= 8; ++layer) EXPECT_EQ(KiCadLayerName(layer), expected[layer]);
    EXPECT_THROW(KiCadLayerName(9), std::invalid_argument);
    EXPECT_EQ(FootprintNameFor("out/board.kicad_mod"), "board");
    EXPECT_EQ(FootprintNameFor("C:\\scans\\top.v2.kicad_mod"), "top.v2");
    EXPECT_EQ(FootprintNameFor("plain"), "plain");
    EXPECT_EQ(FootprintNameFor(".hidden"), ".hidden");
    EXPECT_EQ(FootprintNameFor("-"), "rastrace");
    EXPECT_EQ(FootprintNameFor("dir/"), "rastrace");
}

TEST(KiCad, MillimetresHaveAtMostSixDecimalsAndNoTrailingZeros) {
    struct Case {
        int64_t nm;
        const char* text;
    } cases[] = {{0, "0"},           {1, "0.000001"},      {-1, "-0.000001"},    {1500000, "1.5"},
                 {25400000, "25.4"}, {-2540000, "-2.54"}, {42333, "0.042333"}, {1234567890123, "1234567.890123"}};
    for (const Case& c : cases) {
        char buf[64];
        EXPECT_EQ(std::string(buf, AppendMillimetres(buf, c.nm)), c.text);
    }
}

TEST(KiCad, FootprintHasTextsOnTheFrontSilkscreenAndPolygonsOnTheLayer) {
    AreaOptions options;
    options.format = AreaFormat::KiCad;
    options.xres = options.yres = 1000;
    options.layer = 6;
    options.name = "my \"board\"";
    const std::string text = Write(FromPattern({"#"}), {kCopper}, options);
    EXPECT_EQ(text, KiCadHeader("my \"board\"", RASTRACE_VERSION) +
                        "  (fp_poly (pts\n"
                        "      (xy 0 -0.0254) (xy 0 0) (xy 0.0254 0) (xy 0.0254 -0.0254)\n"
                        "    ) (layer \"B.Cu\") (width 0) (fill solid))\n"
                        ")\n");
    EXPECT_EQ(text.rfind("(footprint \"my \\\"board\\\"\" (version 20211014) (generator rastrace)\n  (layer \"F.Cu\")\n", 0), 0u);
    EXPECT_NE(text.find("(fp_text reference \"G***\" (at 0 0) (layer \"F.SilkS\")"), std::string::npos);
    EXPECT_NE(text.find("(fp_text value \"my \\\"board\\\"\" (at 0.75 0) (layer \"F.SilkS\") hide"), std::string::npos);
}

TEST(AreaOutput, RefusesBadResolutionBeforeWritingAndBadLayers) {
    const Raster r = FromPattern({"#"});
    AreaOptions options;
    options.xres = 0;
    std::string text;
    EXPECT_THROW(WriteCopperArea(r, std::vector<uint32_t>{kCopper}, options, [&](std::string_view t) { text += t; }),
                 Error);
    EXPECT_TRUE(text.empty());
    options.xres = 600;
    options.layer = 9;
    for (AreaFormat f : {AreaFormat::Gerber, AreaFormat::KiCad}) {
        options.format = f;
        EXPECT_THROW(WriteCopperArea(r, std::vector<uint32_t>{kCopper}, options, [&](std::string_view t) { text += t; }),
                     std::invalid_argument);
        EXPECT_TRUE(text.empty());
    }
}

// Every coordinate lies between 0 and the picture's extent at its
// resolution: a picture the format cannot hold on either axis is refused
// before a byte is written, and the message names the least resolution
// that holds it, which does.
TEST(AreaOutput, RefusesAPictureWhoseCoordinatesTheFormatCannotHold) {
    struct Case {
        AreaFormat format;
        int32_t pixels, dpi;
        const char* message;  // empty: it fits
    } cases[] = {
        {AreaFormat::Gerber, 393, 1, ""},  // 9982.2 mm
        {AreaFormat::Gerber, 394, 1,
         "The picture is 10007.6 mm tall at 1 dpi; a Gerber file holds at most 9999.999999 mm: "
         "use a resolution of 2 dpi or more"},
        {AreaFormat::Gerber, 394, -1,
         "The picture is 10007.6 mm tall at -1 dpi; a Gerber file holds at most 9999.999999 mm: "
         "use a resolution of -2 dpi or less"},
        {AreaFormat::Gerber, 1'000'000, 1,
         "The picture is 25400000 mm tall at 1 dpi; a Gerber file holds at most 9999.999999 mm: "
         "use a resolution of 2541 dpi or more"},
        {AreaFormat::Gerber, 2'000'000'000, 600,
         "The picture is 84666666.666667 mm tall at 600 dpi; a Gerber file holds at most 9999.999999 mm: "
         "use a resolution of 5080001 dpi or more"},
        {AreaFormat::KiCad, 59, 1, ""},  // 1498.6 mm
        {AreaFormat::KiCad, 60, 1,
         "The picture is 1524 mm tall at 1 dpi; a KiCad footprint holds at most 1518.485686 mm: "
         "use a resolution of 2 dpi or more"},
        {AreaFormat::KiCad, 35'869, 600, ""},  // 1518.454333 mm
        {AreaFormat::KiCad, 35'870, 600,
         "The picture is 1518.496667 mm tall at 600 dpi; a KiCad footprint holds at most 1518.485686 mm: "
         "use a resolution of 601 dpi or more"},
    };
    for (const Case& c : cases) {
        for (const bool vertical : {false, true}) {
            SCOPED_TRACE(std::to_string(c.pixels) + " pixels at " + std::to_string(c.dpi) + (vertical ? " dpi, Y" : " dpi, X"));
            AreaOptions options;
            options.format = c.format;
            options.width = vertical ? 1 : c.pixels;
            options.height = vertical ? c.pixels : 1;
            (vertical ? options.yres : options.xres) = c.dpi;
            const std::optional<AreaSizeProblem> problem = AreaSizeProblemOf(options);
            std::string expected = c.message;
            if (!vertical && !expected.empty()) expected.replace(expected.find(" tall "), 6, " wide ");
            EXPECT_EQ(problem ? problem->message : "", expected);
            if (!problem) continue;
            EXPECT_EQ(problem->vertical, vertical);
            std::string text;
            EXPECT_THROW(WriteArea(options, [](int32_t, std::vector<Span>&) {}, [&](std::string_view t) { text += t; }),
                         Error);
            EXPECT_EQ(text, "");
            // The resolution the message names holds the picture; one less does not.
            const size_t at = expected.rfind("of ") + 3;
            const int32_t least = std::stoi(expected.substr(at));
            (vertical ? options.yres : options.xres) = least;
            EXPECT_FALSE(AreaSizeProblemOf(options).has_value());
            if (std::abs(least) > 1) {
                (vertical ? options.yres : options.xres) = least > 0 ? least - 1 : least + 1;
                EXPECT_TRUE(AreaSizeProblemOf(options).has_value());
            }
        }
    }
    // The width is checked first; a resolution of 0 is refused as ever.
    AreaOptions both;
    both.width = both.height = 400;
    both.xres = both.yres = 1;
    EXPECT_FALSE(AreaSizeProblemOf(both)->vertical);
    both.xres = 0;
    EXPECT_TRUE(AreaSizeProblemOf(both)->vertical);
    try {
        CheckAreaSize(both);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
}

TEST(AreaOutput, CopperRowRunsMatchThePixelsForEveryWidth) {
    // The kernel's vector path and its last-column rule, against a plain
    // pixel loop: widths around the 4-pixel blocks, runs reaching the edge.
    std::mt19937 rng(3);
    for (int32_t w = 1; w <= 40; ++w) {
        Raster r(w, 6);
        for (int32_t y = 0; y < 6; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t pick = rng() % 5;
                SetPixel(r, x, y, y == 0 ? kCopper : pick < 2 ? kCopper : pick < 3 ? kCopper2 : kOther);
            }
        }
        const std::vector<uint32_t> colors = {kCopper2, kCopper, 0xFF000000u};
        std::vector<Span> runs;
        for (int32_t y = 0; y < 6; ++y) {
            CopperRowRuns(r, y, colors, runs);
            std::string got(static_cast<size_t>(w), '.');
            for (size_t i = 0; i < runs.size(); ++i) {
                if (i) {
                    EXPECT_LE(runs[i - 1].end, runs[i].start);
                }
                for (int32_t x = runs[i].start; x < runs[i].end; ++x) got[x] = '#';
            }
            EXPECT_EQ(got, Mask(r, {kCopper, kCopper2})[y]) << "width " << w;
        }
    }
}

TEST(AreaOutput, ColoursTogetherMakeOneLayer) {
    // Two colours side by side are one region; a repeated colour is harmless.
    const Raster r = FromPattern({"##++", "#..+", "++##"});
    AreaOptions options;
    AreaStats stats;
    const std::string text = Write(r, {kCopper, kCopper2, kCopper}, options, &stats);
    EXPECT_EQ(stats.shapes, 1);
    EXPECT_EQ(stats.holes, 1);
    EXPECT_EQ(stats.pixels, 10);
    EXPECT_EQ(ParseGerber(text).size(), 1u);
}

TEST(AreaOutput, BothFormatsFillBackToTheCopperPixels) {
    std::mt19937 rng(99);
    const int32_t resolutions[][2] = {{600, 600}, {1200, 300}, {254, 254}, {7, 13}, {4800, 4800}, {150, 2400}};
    for (int i = 0; i < 60; ++i) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 40), h = 1 + static_cast<int32_t>(rng() % 40);
        const Raster r = RandomBoard(rng, w, h);
        const auto mask = Mask(r, {kCopper, kCopper2});
        AreaOptions options;
        options.xres = resolutions[i % 6][0];
        options.yres = resolutions[i % 6][1];
        options.layer = i % 9;
        AreaStats stats;
        const auto gerber = ParseGerber(Write(r, {kCopper, kCopper2}, options, &stats));
        EXPECT_EQ(Fill(gerber, w, h, options.xres, options.yres), mask) << "Gerber, picture " << i;
        EXPECT_EQ(static_cast<int64_t>(gerber.size()), stats.shapes);
        options.format = AreaFormat::KiCad;
        std::string layer;
        const auto kicad = ParseKiCad(Write(r, {kCopper, kCopper2}, options), &layer);
        EXPECT_EQ(Fill(kicad, w, h, options.xres, options.yres), mask) << "KiCad, picture " << i;
        EXPECT_EQ(kicad.size(), gerber.size());
        if (!kicad.empty()) {
            EXPECT_EQ(layer, "\"" + std::string(KiCadLayerName(options.layer)) + "\"");
        }
        // The area written is the pixels' area, up to the nanometre rounding.
        double area = 0;
        for (const Contour& c : gerber) area += Area(c);
        const double pixel = 25.4e6 / options.xres * 25.4e6 / options.yres;
        EXPECT_NEAR(area / pixel, static_cast<double>(stats.pixels), 0.01 * std::max<int64_t>(1, stats.pixels));
        if (::testing::Test::HasFailure()) break;
    }
}

TEST(AreaOutput, ShapesOfManyThousandVerticesSurviveTheBlockedWriting) {
    // A comb: one shape of about 6000 vertices, more than one writing block.
    const int32_t w = 3001;
    std::vector<std::string> rows = {std::string(w, '#'), std::string(w, '.'), std::string(w, '.')};
    for (int32_t x = 0; x < w; x += 2) rows[1][x] = rows[2][x] = '#';
    const Raster r = FromPattern(rows);
    const auto mask = Mask(r, {kCopper});
    for (AreaFormat format : {AreaFormat::Gerber, AreaFormat::KiCad}) {
        AreaOptions options;
        options.format = format;
        AreaStats stats;
        const std::string text = Write(r, {kCopper}, options, &stats);
        EXPECT_EQ(stats.shapes, 1);
        EXPECT_EQ(stats.vertices, 2 + 4 * 1501 - 2);
        const auto contours = format == AreaFormat::Gerber ? ParseGerber(text) : ParseKiCad(text);
        ASSERT_EQ(contours.size(), 1u);
        EXPECT_EQ(static_cast<int64_t>(contours[0].size()), stats.vertices);
        EXPECT_EQ(Fill(contours, w, 3, 600, 600), mask);
    }
}

TEST(AreaOutput, FullPictureIsOneRectangleAndProgressSeesEveryRow) {
    const Raster r = FromPattern({"####", "####", "####"});
    std::vector<int32_t> rows;
    AreaOptions options;
    std::string text;
    const AreaStats stats = WriteCopperArea(r, std::vector<uint32_t>{kCopper}, options,
                                            [&](std::string_view t) { text += t; },
                                            [&](int32_t row) { rows.push_back(row); });
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(stats.shapes, 1);
    EXPECT_EQ(stats.vertices, 4);
    EXPECT_EQ(stats.bytes, text.size());
}

// gerbv's rendering of our Gerber of r at dpi, origin at 0,0, one image
// pixel per picture pixel, as a mask.
std::vector<std::string> RenderWithGerbv(const Raster& r, std::vector<uint32_t> colors, int32_t dpi) {
    const fs::path dir = fs::temp_directory_path() / ("rastrace_gerbv_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    AreaOptions options;
    options.xres = options.yres = dpi;
    const fs::path gbr = dir / "board.gbr", png = dir / "board.png";
    test::WriteBytes(gbr, Write(r, colors, options));
    const int32_t w = r.Width(), h = r.Height();
    const std::string command = "gerbv -x png -D " + std::to_string(dpi) + " -O 0x0 -w " + std::to_string(w) + "x" +
                                std::to_string(h) + " -B 0 -b '#000000' -f '#FFFFFFFF' -o '" + png.string() + "' '" +
                                gbr.string() + "' >/dev/null 2>&1";
    std::vector<std::string> rendered(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << command;
        return rendered;
    }
    const test::PngImage image = test::ReadPng(png);
    fs::remove_all(dir);
    if (image.width != w || image.height != h) {
        ADD_FAILURE() << "gerbv gave " << image.width << " x " << image.height;
        return rendered;
    }
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (image.Pixel(x, y)[0] >= 128) rendered[y][x] = '#';
        }
    }
    return rendered;
}

void SkipWithoutGerbv() {
    if (!HaveProgram("gerbv --version >/dev/null 2>&1")) GTEST_SKIP() << "gerbv is not installed";
    if (!test::PngSupported()) GTEST_SKIP() << "built without zlib: no PNG reader";
}

// gerbv renders our Gerber at the scan's resolution with the origin at 0,0:
// every pixel must come back as traced.
TEST(GerberViewer, GerbvRendersTheTracedPixels) {
    SkipWithoutGerbv();
    if (IsSkipped()) return;
    std::mt19937 rng(5);
    for (int i = 0; i < 3; ++i) {
        const int32_t w = 30 + 17 * i, h = 20 + 11 * i, dpi = i == 1 ? 300 : 100;
        Raster r = RandomBoard(rng, w, h);
        // A ring with an island inside its hole, in the corner.
        const std::vector<std::string> ring = {"#######", "#.....#", "#.###.#", "#.#.#.#", "#.###.#", "#.....#",
                                               "#######"};
        for (int32_t y = 0; y < 7; ++y) {
            for (int32_t x = 0; x < 7; ++x) SetPixel(r, x, y, ring[y][x] == '#' ? kCopper : kOther);
        }
        EXPECT_EQ(RenderWithGerbv(r, {kCopper, kCopper2}, dpi), Mask(r, {kCopper, kCopper2}))
            << "picture " << i << " at " << dpi << " dpi";
    }
}

TEST(GerberViewer, GerbvRendersTheSampleScan) {
    SkipWithoutGerbv();
    if (IsSkipped()) return;
    const Raster r = ReadBitmapFile(RASTRACE_SOURCE_DIR "/samples/board.bmp");
    const std::vector<uint32_t> copper = {4229316, 6333654};
    const auto mask = Mask(r, copper);
    const auto rendered = RenderWithGerbv(r, copper, 150);
    int64_t wrong = 0;
    for (size_t y = 0; y < mask.size(); ++y) {
        for (size_t x = 0; x < mask[y].size(); ++x) wrong += mask[y][x] != rendered[y][x];
    }
    EXPECT_EQ(wrong, 0) << "pixels that differ";
    EXPECT_GT(Count(mask), 10000);
}

// KiCad's own reader: pcbnew loads the footprint, and its polygons' area is
// the copper pixels' area.
TEST(KiCadPcbnew, LoadsTheFootprintWithTheCopperArea) {
    // KiCad installs its module for the system's Python, which another
    // python3 earlier on the PATH may not see.
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"}) {
        if (HaveProgram((std::string(candidate) + " -c 'import pcbnew' >/dev/null 2>&1").c_str())) {
            python = candidate;
            break;
        }
    }
    if (python.empty()) GTEST_SKIP() << "KiCad's pcbnew Python module is not installed";
    std::mt19937 rng(11);
    const Raster random = RandomBoard(rng, 60, 45);
    const Raster sample = ReadBitmapFile(RASTRACE_SOURCE_DIR "/samples/board.bmp");
    const fs::path dir = fs::temp_directory_path() / ("rastrace_kicad_" + std::to_string(::getpid())) / "lib.pretty";
    fs::create_directories(dir);
    struct Case {
        const Raster* raster;
        int32_t dpi, layer;
    } cases[] = {{&random, 600, 1}, {&sample, 150, 6}};
    for (const Case& c : cases) {
        AreaOptions options;
        options.format = AreaFormat::KiCad;
        options.xres = options.yres = c.dpi;
        options.layer = c.layer;
        options.name = "traced";
        AreaStats stats;
        const std::vector<uint32_t> copper = {4229316, 6333654};
        test::WriteBytes(dir / "traced.kicad_mod", Write(*c.raster, copper, options, &stats));
        std::string mask;
        for (const std::string& row : Mask(*c.raster, copper)) mask += row + "\n";
        test::WriteBytes(dir.parent_path() / "mask.txt", mask);
        const std::string command = python + " '" RASTRACE_SOURCE_DIR "/tests/kicad_footprint_area.py' '" +
                                    dir.string() + "' traced " + std::string(KiCadLayerName(c.layer)) + " " +
                                    std::to_string(stats.shapes) + " " + std::to_string(c.dpi) + " '" +
                                    (dir.parent_path() / "mask.txt").string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    fs::remove_all(dir.parent_path());
}

namespace {

std::vector<std::vector<Span>> AllRows(const RowRunsSource& source, int32_t height) {
    std::vector<std::vector<Span>> rows(static_cast<size_t>(height));
    for (int32_t r = 0; r < height; ++r) source(r, rows[static_cast<size_t>(r)]);
    return rows;
}

}  // namespace

// The area formats take the tolerance rule's copper: a noisy picture under a
// tolerance gives the clean picture's exact runs, colours merged, and
// speckle removal drops a lone speck.
TEST(MatchedCopperRows, ToleranceAndSpeckleRemovalFeedTheAreaOutput) {
    const std::vector<std::string> pattern = {"##..++#", "##..++.", "......#", "+++####"};
    const Raster clean = FromPattern(pattern);
    Raster noisy = FromPattern(pattern);
    std::mt19937 rng(7);
    for (int32_t y = 0; y < noisy.Height(); ++y) {
        for (uint8_t& byte : noisy.RowBytes(y)) byte = static_cast<uint8_t>(byte + (rng() % 5) - 2);
    }
    const std::vector<uint32_t> colors = {kCopper, kCopper2};
    MatchOptions exact;
    EXPECT_EQ(AllRows(MatchedCopperRows(clean, colors, exact), 4), AllRows(CopperRows(clean, colors), 4));

    MatchOptions tolerant;
    tolerant.tolerance = 8;
    tolerant.backgroundColors = {kOther};
    EXPECT_EQ(AllRows(MatchedCopperRows(noisy, colors, tolerant), 4), AllRows(CopperRows(clean, colors), 4));

    // The lone pixel at the right of row 0 is a region of one pixel, the
    // "+++" of row 3 one of three: speckle size 3 drops the first only,
    // size 4 both.
    tolerant.despeckle = 3;
    auto despeckled = AllRows(MatchedCopperRows(noisy, colors, tolerant), 4);
    EXPECT_EQ(despeckled[0], (std::vector<Span>{{0, 2}, {4, 6}}));
    EXPECT_EQ(despeckled[2], (std::vector<Span>{{6, 7}}));
    EXPECT_EQ(despeckled[3], (std::vector<Span>{{0, 3}, {3, 7}}));
    tolerant.despeckle = 4;
    despeckled = AllRows(MatchedCopperRows(noisy, colors, tolerant), 4);
    EXPECT_EQ(despeckled[3], (std::vector<Span>{{3, 7}}));
}
