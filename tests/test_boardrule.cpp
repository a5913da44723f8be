// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Error.h"
#include "job/StreamConversion.h"
#include "raster/PictureRows.h"
#include "support/Pixels.h"
#include "trace/BoardRule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace rastrace {
namespace {

// Colours as packed 0x00BBGGRR from red, green, blue.
constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16; }

// A black mask: copper under it is a dark grey, which is also what the
// edge of a white print stroke blurs through.
constexpr uint32_t kBlack = Rgb(10, 10, 10);
constexpr uint32_t kTrack = Rgb(60, 60, 60);
constexpr uint32_t kPrint = Rgb(240, 240, 240);
constexpr uint32_t kPrintOnTrack = Rgb(170, 170, 170);  // more print than track
// A green mask with bare pads.
constexpr uint32_t kGreen = Rgb(20, 90, 40);
constexpr uint32_t kTin = Rgb(190, 190, 200);
constexpr uint32_t kGold = Rgb(200, 160, 60);
constexpr uint32_t kLid = Rgb(252, 252, 252);
constexpr uint32_t kWhite = Rgb(225, 225, 225);
constexpr uint32_t kTinToLid = Rgb(210, 210, 217);  // a third of the way from tin to lid
constexpr uint32_t kTinToGold = Rgb(195, 175, 130);

Picture PictureOf(const std::vector<std::string>& rows, const std::map<char, uint32_t>& legend) {
    Picture picture;
    picture.raster = Raster(static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()), Raster::RowOrder::TopDown);
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            test::SetPixel(picture.raster, static_cast<int32_t>(x), static_cast<int32_t>(y), legend.at(rows[y][x]));
        }
    }
    return picture;
}

// The rule's verdict on rows: '#' copper, '.' not, read count rows a call.
std::vector<std::string> Verdict(const std::vector<std::string>& rows, const std::map<char, uint32_t>& legend,
                                 const BoardColors& colors, int32_t count = 1) {
    auto board = BoardRows(RasterRows(PictureOf(rows, legend)), colors);
    const int32_t width = board->Width();
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * 3 * static_cast<size_t>(count));
    std::vector<std::string> out;
    for (int32_t y = 0; y < board->Height(); y += count) {
        const int32_t n = std::min(count, board->Height() - y);
        board->ReadRows(y, n, pixels.data(), width * 3);
        for (int32_t i = 0; i < n; ++i) {
            std::string line;
            for (int32_t x = 0; x < width; ++x) {
                line += PackColor(pixels.data() + (static_cast<size_t>(i) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3) ==
                                colors.copper[0]
                            ? '#'
                            : '.';
            }
            out.push_back(line);
        }
    }
    return out;
}

// Regions of '#' joined by an edge.
int Regions(std::vector<std::string> grid) {
    int regions = 0;
    for (size_t y = 0; y < grid.size(); ++y) {
        for (size_t x = 0; x < grid[y].size(); ++x) {
            if (grid[y][x] != '#') continue;
            ++regions;
            std::vector<std::pair<size_t, size_t>> stack{{x, y}};
            grid[y][x] = '.';
            while (!stack.empty()) {
                const auto [cx, cy] = stack.back();
                stack.pop_back();
                const std::pair<ptrdiff_t, ptrdiff_t> steps[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
                for (const auto& [dx, dy] : steps) {
                    const ptrdiff_t nx = static_cast<ptrdiff_t>(cx) + dx, ny = static_cast<ptrdiff_t>(cy) + dy;
                    if (ny < 0 || nx < 0 || ny >= static_cast<ptrdiff_t>(grid.size()) ||
                        nx >= static_cast<ptrdiff_t>(grid[0].size()) || grid[ny][nx] != '#') {
                        continue;
                    }
                    grid[ny][nx] = '.';
                    stack.push_back({static_cast<size_t>(nx), static_cast<size_t>(ny)});
                }
            }
        }
    }
    return regions;
}

BoardColors Picks(std::vector<uint32_t> copper, std::vector<uint32_t> noncopper, std::vector<uint32_t> holes = {}) {
    BoardColors c;
    c.copper = std::move(copper);
    c.noncopper = std::move(noncopper);
    c.holes = std::move(holes);
    c.strokeWidth = 6;
    c.blendRadius = 1;
    return c;
}

const std::map<char, uint32_t> kBlackBoard = {{'M', kBlack}, {'C', kTrack}, {'P', kPrint}, {'p', kPrintOnTrack}};

TEST(BoardRule, AWhiteStrokeOnBlackMaskIsNotCopperButATrackOfItsEdgeColourIs) {
    // Columns 2 and 5: the stroke's blurred edges, the track's very colour.
    const std::vector<std::string> scan(6, "MMCPPCMMMMCCCMMM");
    EXPECT_EQ(Verdict(scan, kBlackBoard, Picks({kTrack}, {kBlack, kPrint})),
              std::vector<std::string>(6, "..........###..."));
    // Today's rule, nearest colour alone, takes both edges for copper.
}

TEST(BoardRule, ATrackRunsOnUnderAStrokeAcrossIt) {
    const std::vector<std::string> scan = {
        "MMMMMMCCCMMMMMM", "MMMMMMCCCMMMMMM", "MMMMMMCCCMMMMMM", "MMMMMMCCCMMMMMM", "MMMMMMCCCMMMMMM",
        "CCCCCCpppCCCCCC", "PPPPPPPPPPPPPPP", "PPPPPPPPPPPPPPP", "PPPPPPPPPPPPPPP", "CCCCCCpppCCCCCC",
        "MMMMMMCCCMMMMMM", "MMMMMMCCCMMMMMM", "MMMMMMCCCMMMMMM", "MMMMMMCCCMMMMMM"};
    const std::vector<std::string> verdict = Verdict(scan, kBlackBoard, Picks({kTrack}, {kBlack, kPrint}));
    EXPECT_EQ(Regions(verdict), 1);
    for (size_t y = 0; y < scan.size(); ++y) {
        // The track all the way; where it meets the stroke its edge may
        // take one pixel more, the stroke's edges past it none.
        EXPECT_EQ(verdict[y].substr(6, 3), "###") << "row " << y;
        EXPECT_EQ(verdict[y].substr(0, 5), ".....") << "row " << y;
        EXPECT_EQ(verdict[y].substr(10), ".....") << "row " << y;
    }

    // A stroke across two tracks: its blurred edges between them are light
    // and lie beside the stroke, but the stroke runs on from them one way
    // only. Each track runs on under it; they are not joined.
    std::vector<std::string> two(6, "MMCCCMMMCCCMM");
    two.push_back("MMCCCpppCCCMM");
    for (int i = 0; i < 5; ++i) two.push_back("PPPPPPPPPPPPP");
    two.push_back("MMCCCpppCCCMM");
    for (int i = 0; i < 5; ++i) two.push_back("MMCCCMMMCCCMM");
    const std::vector<std::string> tracks = Verdict(two, kBlackBoard, Picks({kTrack}, {kBlack, kPrint}));
    EXPECT_EQ(Regions(tracks), 2);
    for (size_t y = 0; y < two.size(); ++y) EXPECT_EQ(tracks[y].substr(5, 3), "...") << "row " << y;
}

TEST(BoardRule, AStrokeCrossingATrackAtASlantIsFilled) {
    // A track down the picture; a thin stroke crosses it at slants of 19
    // to 29 degrees, between the row and the diagonal: along neither does
    // its light run on far enough past the gap it leaves in the track.
    for (const double slope : {0.35, 0.45, 0.55}) {
        std::vector<std::string> scan(40, std::string(40, 'M'));
        for (int32_t y = 0; y < 40; ++y) {
            for (int32_t x = 0; x < 40; ++x) {
                const bool track = x >= 18 && x <= 21;
                // Distance from the stroke's middle line, times its length.
                const double across = (y - 20 - slope * (x - 20)) / std::sqrt(1 + slope * slope);
                if (std::fabs(across) < 1.6) {
                    scan[static_cast<size_t>(y)][static_cast<size_t>(x)] = 'P';
                } else if (track) {
                    scan[static_cast<size_t>(y)][static_cast<size_t>(x)] = 'C';
                }
            }
        }
        BoardColors colors = Picks({kTrack}, {kBlack, kPrint});
        colors.blendRadius = 2;
        colors.strokeWidth = 9;
        const std::vector<std::string> verdict = Verdict(scan, kBlackBoard, colors);
        EXPECT_EQ(Regions(verdict), 1) << "slope " << slope;
        for (size_t y = 0; y < scan.size(); ++y) EXPECT_EQ(verdict[y].substr(18, 4), "####") << "slope " << slope << " row " << y;
    }
}

TEST(BoardRule, ATrackCrossingAStrokeAtASlantIsWholeUnderItToItsEdges) {
    // A track six rows high falling to the right, and a stroke down the
    // picture: at the track's edges the copper on the stroke's far side is
    // rows lower than on the near side, so no row finds copper at both of
    // its ends there. Left out before: 25 and 30 of its pixels under the
    // stroke, and at 0.75 the track was cut.
    BoardColors colors = Picks({kTrack}, {kBlack, kPrint});
    colors.blendRadius = 2;
    colors.strokeWidth = 9;
    for (const double slope : {0.5, 0.75}) {
        std::vector<std::string> scan(70, std::string(48, 'M'));
        std::vector<std::string> truth(70, std::string(48, '.'));
        for (int32_t y = 0; y < 70; ++y) {
            for (int32_t x = 0; x < 48; ++x) {
                const double top = 6 + slope * x;
                const bool track = y >= top && y < top + 6;
                if (track) truth[static_cast<size_t>(y)][static_cast<size_t>(x)] = '#';
                scan[static_cast<size_t>(y)][static_cast<size_t>(x)] = x >= 22 && x < 27 ? 'P' : track ? 'C' : 'M';
            }
        }
        const std::vector<std::string> verdict = Verdict(scan, kBlackBoard, colors);
        // Under the stroke: the track's pixels left out (a corner of its
        // lower edge, which no line going down from a run's end reaches),
        // and copper where there is no track.
        int missed = 0, extra = 0;
        for (size_t y = 0; y < scan.size(); ++y) {
            for (size_t x = 22; x < 27; ++x) {
                missed += truth[y][x] == '#' && verdict[y][x] != '#';
                extra += truth[y][x] != '#' && verdict[y][x] == '#';
            }
        }
        EXPECT_LE(missed, 10) << "slope " << slope;
        EXPECT_EQ(extra, 0) << "slope " << slope;
        EXPECT_EQ(Regions(verdict), 1) << "slope " << slope;
    }
    // Two level tracks two rows apart under the same stroke stay apart.
    std::vector<std::string> level(20, std::string(48, 'M'));
    for (size_t y = 5; y < 15; ++y) {
        for (size_t x = 0; x < 48; ++x) level[y][x] = x >= 22 && x < 27 ? 'P' : y == 9 || y == 10 ? 'M' : 'C';
    }
    EXPECT_EQ(Regions(Verdict(level, kBlackBoard, colors)), 2);
}

TEST(BoardRule, AThinStrokeNearerTheHoleColourThanThePrintStillCrossesATrack) {
    // A red mask, its copper lighter, white print, a light lid and holes a
    // little greyer than the lid. A stroke five pixels wide is blurred so
    // that even its middle is nearer the hole's colour than the print's,
    // and the hole's colour is no brighter than the copper's by much; the
    // lid's colour is, as print is. Before, the track was cut in two here.
    const uint32_t mask = Rgb(154, 29, 35), track = Rgb(209, 70, 63), print = Rgb(242, 242, 234), lid = Rgb(236, 235, 231),
                   hole = Rgb(217, 218, 213);
    const std::map<char, uint32_t> legend = {{'M', mask}, {'C', track}, {'s', Rgb(239, 210, 202)}, {'e', Rgb(225, 170, 160)},
                                             {'q', Rgb(236, 200, 195)}, {'f', Rgb(215, 150, 145)}};
    std::vector<std::string> scan(30, std::string(12, 'M') + "fqqqf" + std::string(12, 'M'));
    for (size_t y = 12; y < 18; ++y) scan[y] = std::string(12, 'C') + "essse" + std::string(12, 'C');
    BoardColors colors = Picks({track}, {mask, print, lid}, {hole});
    colors.blendRadius = 2;
    colors.strokeWidth = 9;
    const std::vector<std::string> verdict = Verdict(scan, legend, colors);
    EXPECT_EQ(Regions(verdict), 1);
    for (size_t y = 12; y < 18; ++y) EXPECT_EQ(verdict[y].substr(12, 5), "#####") << "row " << y;
    // Over the mask the stroke stays out.
    for (size_t y : {0, 5, 25, 29}) EXPECT_EQ(verdict[y], std::string(29, '.')) << "row " << y;
}

TEST(BoardRule, WhereATrackLeavesAPadItsBlendWithTheBareBoardRingIsCopper) {
    // A gold pad and the track leaving it under a green mask: between them
    // a few pixels pass from the gold's colour to the masked copper's, one
    // of them also part bare board (the ring the mask opening leaves). No
    // picked colour fills a square of three around it; of all picks, a
    // blend of bare board and mask explains it best, and before, that cut
    // the track from the pad. The copper colours present a little farther
    // off explain it as their blend.
    const uint32_t track = Rgb(75, 146, 76), tin = Rgb(174, 175, 179), gold = Rgb(231, 182, 80), lid = Rgb(246, 247, 242),
                   fr4 = Rgb(191, 181, 132), mask = Rgb(36, 104, 57), print = Rgb(245, 246, 238), hole = Rgb(226, 225, 221);
    // Beside it the blends lie nearest one pick and another by turns, as
    // a scan's noise has them: no square of three of one.
    const std::map<char, uint32_t> legend = {{'G', gold}, {'C', track}, {'M', mask}, {'1', Rgb(200, 175, 79)},
                                             {'2', Rgb(176, 169, 79)}, {'x', Rgb(141, 164, 94)}, {'3', Rgb(106, 153, 77)},
                                             {'4', Rgb(161, 166, 78)}};
    std::vector<std::string> scan(4, std::string(6, 'G') + std::string(17, 'M'));
    for (int i = 0; i < 6; ++i) scan.push_back(i % 2 == 0 ? "GGGGGG12x34CCCCCCCCCCCC" : "GGGGGG21x43CCCCCCCCCCCC");
    for (int i = 0; i < 4; ++i) scan.push_back(std::string(6, 'G') + std::string(17, 'M'));
    BoardColors colors = Picks({track, tin, gold}, {lid, fr4, mask, print}, {hole});
    colors.blendRadius = 2;
    colors.strokeWidth = 9;
    const std::vector<std::string> verdict = Verdict(scan, legend, colors);
    EXPECT_EQ(Regions(verdict), 1);
    // The track's edge rows have the mask beside them.
    for (size_t y = 5; y < 9; ++y) EXPECT_EQ(verdict[y], std::string(23, '#')) << "row " << y;
    // A colour no two copper picks blend to stays what all picks say: a
    // stroke's blurred edge there is still no copper.
    std::vector<std::string> edge = scan;
    for (size_t y = 4; y < 10; ++y) edge[y][8] = 'e';
    std::map<char, uint32_t> withEdge = legend;
    withEdge['e'] = Rgb(140, 175, 147);  // mask and print
    EXPECT_EQ(Regions(Verdict(edge, withEdge, colors)), 2);
    // Nor is yellow print there, which lies near the line from gold to
    // green copper but nearer still its own colour.
    const uint32_t yellow = Rgb(232, 209, 71);
    withEdge['e'] = Rgb(211, 197, 66);
    BoardColors yellowPrint = colors;
    yellowPrint.noncopper = {lid, fr4, mask, yellow};
    EXPECT_EQ(Regions(Verdict(edge, withEdge, yellowPrint)), 2);
}

TEST(BoardRule, AThinStrokeWhoseMiddleHasTheColourOfTinIsPrintButATinPadIsCopper) {
    // A black mask, white print and tinned pads: a stroke three pixels
    // wide, blurred so that its middle is only as light as tin, beside a
    // tin pad six pixels wide and a track under the mask as narrow as the
    // stroke.
    const uint32_t tin = Rgb(170, 170, 176), edge = Rgb(80, 80, 80);
    const std::map<char, uint32_t> legend = {{'M', kBlack}, {'C', kTrack}, {'T', tin}, {'e', edge}};
    const std::vector<std::string> scan(14, "MMMMMMeTTTeMMMMMMMMTTTTTTMMMMMMMCCCMMMMM");
    BoardColors colors = Picks({kTrack, tin}, {kBlack, kPrint});
    colors.blendRadius = 2;
    const std::vector<std::string> verdict = Verdict(scan, legend, colors);
    for (size_t y = 0; y < scan.size(); ++y) {
        EXPECT_EQ(verdict[y], "...................######.......###.....") << "row " << y;
    }
    // The test looks at rows below the one it marks: read a row at a time,
    // five at a time or whole, with a row of mask across, it is the same.
    std::vector<std::string> broken = scan;
    broken[5] = std::string(40, 'M');
    const std::vector<std::string> one = Verdict(broken, legend, colors, 1);
    EXPECT_EQ(one[5], std::string(40, '.'));
    EXPECT_EQ(one[9], verdict[9]);
    EXPECT_EQ(Verdict(broken, legend, colors, 5), one);
    EXPECT_EQ(Verdict(broken, legend, colors, static_cast<int32_t>(broken.size())), one);
    // Without print among the picks nothing is as light as a stroke's
    // middle could be: the line is tin.
    const std::vector<std::string> unprinted = Verdict(scan, legend, Picks({kTrack, tin}, {kBlack}));
    EXPECT_EQ(unprinted[7].substr(7, 3), "###");
}

TEST(BoardRule, PrintOnBareMaskAndMaskBetweenTracksStayOut) {
    const std::vector<std::string> scan = {
        "MCCCMMCCCMMMMMMMMM",  // two tracks two pixels apart
        "MCCCMMCCCMMMCCCMMM",  // a track that stops at a stroke
        "MCCCMMCCCMMMCCCMMM",  //
        "MCCCMMCCCMMMCCCMMM",  //
        "MCCCMMCCCMCCpppCCM",  // the stroke's edge, lying on bare mask past the track
        "MCCCMMCCCMPPPPPPPM",  //
        "MCCCMMCCCMPPPPPPPM",  //
        "MCCCMMCCCMCCCCCCCM",  //
        "MCCCMMCCCMMMMMMMMM"};
    const std::vector<std::string> verdict = Verdict(scan, kBlackBoard, Picks({kTrack}, {kBlack, kPrint}));
    EXPECT_EQ(Regions(verdict), 3);
    for (size_t y = 0; y < scan.size(); ++y) {
        EXPECT_EQ(verdict[y].substr(0, 10), ".###..###.") << "row " << y;
        // The stroke and its far edge are not copper; the near edge, where
        // the track stops, may be.
        if (y >= 5) {
            EXPECT_EQ(verdict[y].substr(10), "........") << "row " << y;
        }
    }
    EXPECT_EQ(verdict[2].substr(10), "..###...");
}

TEST(BoardRule, AHoleInAPadLeavesARingAndTwoFinishesMakeOnePad) {
    const std::map<char, uint32_t> legend = {{'M', kGreen}, {'T', kTin}, {'G', kGold}, {'L', kLid},
                                             {'W', kWhite}, {'h', kTinToLid}, {'g', kTinToGold}};
    // The ring is wider than the blend radius: a thinner one is a blend
    // of mask and lid as far as colours go.
    const std::vector<std::string> scan = {
        "MMMMMMMMMMMMMMMMMMM",   //
        "MTTTTTTTTTTTTTgGGGM",   // tin on the left, gold on the right
        "MTTTTTTTTTTTTTgGGGM",   //
        "MTTTTTTTTTTTTTgGGGM",   //
        "MTTTTThhhhTTTTgGGGM",   //
        "MTTTThLLLLhTTTgGGGM",   // a drilled hole showing the lid
        "MTTTThLLLLhTTTgGGGM",   //
        "MTTTThLLLLhTTTgGGGM",   //
        "MTTTTThhhhTTTTgGGGM",   //
        "MTTTTTTTTTTTTTgGGGM",   //
        "MTTTTTTTTTTTTTgGGGM",   //
        "MTTTTTTTTTTTTTgGGGM",   //
        "MMMMMMMMMMMMMMMMMMM",   //
        "MWWWWWWWWWWWWWWWWWM"};  // print, lighter than the tin but no lid
    for (const std::vector<uint32_t>& holes : {std::vector<uint32_t>{kLid}, std::vector<uint32_t>{}}) {
        const std::vector<std::string> verdict =
            Verdict(scan, legend, Picks({kTin, kGold}, {kGreen, kWhite}, holes));
        const std::string pad = ".#################.", ring = ".#####....########.", none(19, '.');
        std::vector<std::string> expected = {none, pad, pad, pad, pad, ring, ring, ring, pad, pad, pad, pad, none, none};
        if (holes.empty()) {
            // Without a hole colour the lid reads as print, and the blends
            // around it as blends of tin and print, more print than tin;
            // but a round light spot in copper is still no print crossing
            // it: the ring stays.
            expected[4] = expected[8] = ring;
            expected[5] = expected[6] = expected[7] = ".####......#######.";
        }
        EXPECT_EQ(verdict, expected);
        EXPECT_EQ(Regions(verdict), 1);
    }
}

TEST(BoardRule, PrintBetweenTracksOrBareBoardBetweenBareCopperIsNoCrossing) {
    // Two tracks four pixels apart; a stroke crosses both and the mask
    // between them, so it runs along their gap there.
    const std::vector<std::string> tracks = {
        "MMMMMMMPPPMMMMMMM", "MMMMMMMPPPMMMMMMM", "MMMMMMMPPPMMMMMMM", "MMMMMMMPPPMMMMMMM", "CCCCCCCpppCCCCCCC",
        "CCCCCCCpppCCCCCCC", "CCCCCCCpppCCCCCCC", "MMMMMMMPPPMMMMMMM", "MMMMMMMPPPMMMMMMM", "MMMMMMMPPPMMMMMMM",
        "MMMMMMMPPPMMMMMMM", "CCCCCCCpppCCCCCCC", "CCCCCCCpppCCCCCCC", "CCCCCCCpppCCCCCCC", "MMMMMMMPPPMMMMMMM",
        "MMMMMMMPPPMMMMMMM", "MMMMMMMPPPMMMMMMM", "MMMMMMMPPPMMMMMMM"};
    const std::vector<std::string> verdict = Verdict(tracks, kBlackBoard, Picks({kTrack}, {kBlack, kPrint}));
    EXPECT_EQ(Regions(verdict), 2);
    for (const size_t y : {4, 5, 6, 11, 12, 13}) EXPECT_EQ(verdict[y], std::string(17, '#')) << "row " << y;

    // No mask: bare copper, bare board (lighter than the copper, but no
    // brighter) and white print.
    const std::map<char, uint32_t> bare = {
        {'F', Rgb(186, 176, 128)}, {'B', Rgb(206, 128, 86)}, {'W', Rgb(242, 242, 238)}};
    const std::vector<std::string> board = {
        "FFFFFFFFFFFFFFFFFFF", "FFFFFFFFWWWFFFFFFFF", "FFFFFFFFWWWFFFFFFFF", "FFFFFFFFWWWFFFFFFFF", "BBBBBBBBWWWBBBBBBBB",
        "BBBBBBBBWWWBBBBBBBB", "BBBBBBBBWWWBBBBBBBB", "FFFFFFFFWWWFFFFFFFF", "FFFFFFFFWWWFFFFFFFF", "FFFFFFFFWWWFFFFFFFF",
        "FFFFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFFFFF", "BBBBBBBBBBBBBBBBBBB", "BBBBBBBBBBBBBBBBBBB", "BBBBBBBBBBBBBBBBBBB",
        "FFFFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFFFFF"};
    const BoardColors picks = Picks({Rgb(206, 128, 86)}, {Rgb(186, 176, 128), Rgb(242, 242, 238)});
    const std::vector<std::string> traced = Verdict(board, bare, picks);
    EXPECT_EQ(Regions(traced), 2);
    for (const size_t y : {4, 5, 6, 12, 13, 14}) EXPECT_EQ(traced[y], std::string(19, '#')) << "row " << y;
    for (const size_t y : {10, 11, 15, 16}) EXPECT_EQ(traced[y], std::string(19, '.')) << "row " << y;

    // Tinned copper on bare board, which is a little lighter than the tin
    // and brighter in red: the board between two tracks stays out, a white
    // stroke across a track is filled.
    const std::map<char, uint32_t> tinned = {{'F', Rgb(196, 184, 132)}, {'T', Rgb(159, 160, 162)}, {'W', Rgb(238, 238, 230)}};
    std::vector<std::string> tracksOnBoard(10, "FFTTTFFFTTTFFFF");
    for (const char* row : {"FFFFFFFFFFFFFFF", "FFFFFFWWWFFFFFF", "FFFFFFWWWFFFFFF", "FFFFFFWWWFFFFFF", "TTTTTTWWWTTTTTT",
                            "TTTTTTWWWTTTTTT", "TTTTTTWWWTTTTTT", "FFFFFFWWWFFFFFF", "FFFFFFWWWFFFFFF", "FFFFFFWWWFFFFFF"}) {
        tracksOnBoard.push_back(row);
    }
    const std::vector<std::string> tin =
        Verdict(tracksOnBoard, tinned, Picks({Rgb(159, 160, 162)}, {Rgb(196, 184, 132), Rgb(238, 238, 230)}));
    EXPECT_EQ(Regions(tin), 3);
    for (size_t y = 0; y < 10; ++y) EXPECT_EQ(tin[y].substr(5, 3), "...") << "row " << y;
    for (const size_t y : {14, 15, 16}) EXPECT_EQ(tin[y], std::string(15, '#')) << "row " << y;
}

TEST(BoardRule, DropsSpecksOfNoiseAndFillsPinholesUpToTheSpeckSize) {
    const std::vector<std::string> scan = {
        "MMMMMMMMMMMMMMMM",  //
        "MMCMMMMMMMMMMMMM",  // a speck of copper colour on the mask
        "MMMMMMCCCCCCCCMM",  //
        "MMMMMMCCCCCCCCMM",  //
        "MMMMMMCCCCCCCCMM",  //
        "MMMMMMCCCMCCCCMM",  // a pinhole in a pad
        "MMMMMMCCCCCCCCMM",  //
        "MMMMMMCCCCCCCCMM",  //
        "MMMMMMCCCCCCCCMM",  //
        "MCCMMMMMMMMMMMMM",  // two pixels, edge to edge
        "MMMMMMMMMMMMMMMM"};
    // Mask and copper only: nothing else explains the speck's colour.
    BoardColors colors = Picks({kTrack}, {kBlack});
    colors.strokeWidth = 0;
    colors.speck = 2;
    const std::vector<std::string> clean = Verdict(scan, kBlackBoard, colors);
    std::vector<std::string> pad(scan.size(), std::string(16, '.'));
    for (size_t y = 2; y <= 8; ++y) pad[y] = "......########..";
    EXPECT_EQ(clean, pad);
    colors.speck = 0;
    const std::vector<std::string> kept = Verdict(scan, kBlackBoard, colors);
    EXPECT_EQ(kept[1][2], '#');
    EXPECT_EQ(kept[5][9], '.');
    EXPECT_EQ(kept[9].substr(1, 2), "##");
}

TEST(BoardRule, IsTheSameReadInAnyBandsAndStreamsWithoutTheWholePicture) {
    // A picture of every case above, tiled, read a row at a time, seven at
    // a time and whole, and converted with speckle removal on one and two
    // workers.
    std::vector<std::string> scan;
    const std::string rows[] = {"MMCPPCMMMMCCCMMMMMMMCCCMM", "MMMMMMCCCMMMMMCCpppCCMMMM", "PPPPPPPPPPPPPPPPPPPPPPPPP",
                                "CCCCCCpppCCCCCCMMMMMCMCMM", "MMMMMMCCCMMMMMMMMMMMCCCMM"};
    for (int i = 0; i < 60; ++i) scan.push_back(rows[(i * 7 + i / 5) % 5]);
    const BoardColors colors = Picks({kTrack}, {kBlack, kPrint});
    const std::vector<std::string> one = Verdict(scan, kBlackBoard, colors, 1);
    EXPECT_EQ(Verdict(scan, kBlackBoard, colors, 7), one);
    EXPECT_EQ(Verdict(scan, kBlackBoard, colors, static_cast<int32_t>(scan.size())), one);

    std::string texts[2];
    for (int threads = 1; threads <= 2; ++threads) {
        StreamRequest request;
        request.colors = {kTrack};
        request.match.despeckle = 4;
        request.threads = threads;
        request.bandRows = threads == 1 ? 1 : 9;
        auto board = BoardRows(RasterRows(PictureOf(scan, kBlackBoard)), colors);
        ConvertRows(*board, request, [&](std::string_view t) { texts[threads - 1] += t; });
    }
    EXPECT_EQ(texts[0], texts[1]);
    EXPECT_NE(texts[0].find("FT"), std::string::npos);
}

TEST(BoardRule, SuggestsTheMainColoursMostCommonFirstWithAPixelOfEach) {
    std::vector<std::string> scan(10, "MMMMMMMMCC");
    scan[9] = "MMMMMMMMCP";
    // Colours a little off the mask's join it.
    const std::map<char, uint32_t> legend = {{'M', kBlack}, {'C', kTrack}, {'P', kPrint}};
    Picture picture = PictureOf(scan, legend);
    test::SetPixel(picture.raster, 3, 4, Rgb(14, 12, 10));
    auto rows = RasterRows(std::move(picture));
    const std::vector<MainColor> main = SuggestColors(*rows, 8);
    ASSERT_EQ(main.size(), 3u);
    EXPECT_EQ(main[0].color, kBlack);
    EXPECT_EQ(main[0].pixels, 80u);
    EXPECT_EQ(main[1].color, kTrack);
    EXPECT_EQ(main[1].pixels, 19u);
    EXPECT_EQ(main[1].x, 8);
    EXPECT_EQ(main[1].y, 0);
    EXPECT_EQ(main[2].color, kPrint);
    EXPECT_EQ(main[2].x, 9);
    EXPECT_EQ(main[2].y, 9);
    EXPECT_EQ(SuggestColors(*RasterRows(PictureOf(scan, legend)), 1).size(), 1u);
}

// A header may claim a picture a million pixels wide: at a high
// resolution the rule's window of rows would take gigabytes, and is refused
// before any is taken; at a scan's usual resolution it is made.
TEST(BoardRule, RefusesAWindowOfRowsBeyondAGigabyte) {
    BoardColors colors = BoardDefaultsFor(9600);
    colors.copper = {kTrack};
    try {
        BoardClassifier rule(1 << 20, 100, colors);
        FAIL() << "a window of " << rule.Ring() << " rows of 2^20 pixels was made";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
    colors = BoardDefaultsFor(600);
    colors.copper = {kTrack};
    EXPECT_NO_THROW(BoardClassifier(1 << 16, 100, colors));
}

}  // namespace
}  // namespace rastrace
