// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-realboards: how well the command-line converter recovers the
// copper of real-looking boards, per board style and resolution, used as a
// new user would use it: the scan as a PNG, one click on each kind of
// surface, the preview read back.
//
//   rastrace-realboards [--dpi N]... [--seeds N] [--first-seed N] [--cli PATH] [--style NAME]...
//                       [--size WxH] [--board-speckle N] [--board-only]
//                       [--errors DIR] [--verbose]
//
// Today's colour rule gets its tolerance and speckle size tuned per board
// by a small grid search (the best a user tuning by eye can get); the board
// rule runs at its defaults. --board-only leaves the grid out (minutes
// become seconds when only the board rule changed); --errors writes each
// board's scan and the board rule's errors over it (copper missed in blue,
// copper traced where there is none in red) as PNGs into DIR, with a list
// of the true regions not kept whole; --first-seed
// starts the seeds elsewhere than 1 (boards the rule was not shaped on).
// Each board's line on standard error counts the pixels missed and traced
// in excess, and how many of them lie on the true copper's edge (within a
// pixel of it), where the blur decides. Prints a Markdown table on
// standard output.
// Exit status 0 on success, 2 on a bad command line, 1 on any other failure.
#include "bench/RealBoardBench.h"
#include "common/Error.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace rastrace;
using namespace rastrace::bench;

namespace {

struct Tally {
    double iouSum = 0, iouWorst = 1, wholeSum = 0, wholeWorst = 1;
    int boards = 0;
    void Add(const Recovery& r) {
        iouSum += r.iou;
        iouWorst = std::min(iouWorst, r.iou);
        wholeSum += r.connectivity;
        wholeWorst = std::min(wholeWorst, r.connectivity);
        ++boards;
    }
    std::string Cells() const {
        if (boards == 0) return "n/a | n/a | n/a | n/a";
        char text[80];
        std::snprintf(text, sizeof text, "%.3f | %.3f | %.3f | %.3f", iouSum / boards, iouWorst, wholeSum / boards,
                      wholeWorst);
        return text;
    }
};

struct Settings {
    std::vector<double> dpis;
    int seeds = 4;
    int firstSeed = 1;
    std::string cli = "build/rastrace-cli";
    std::vector<BoardStyle> styles;
    double widthInches = 2.6, heightInches = 2.0;
    int32_t boardSpeckle = 0;
    bool boardOnly = false;
    std::string errors;  // folder for the error pictures; empty for none
    bool verbose = false;
};

Settings Parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verbose") {
            s.verbose = true;
            continue;
        }
        if (arg == "--board-only") {
            s.boardOnly = true;
            continue;
        }
        if (i + 1 >= argc) throw Error("option " + arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--dpi") {
            s.dpis.push_back(std::atof(value.c_str()));
            if (s.dpis.back() < 50 || s.dpis.back() > 2400) throw Error("--dpi: 50 to 2400");
        } else if (arg == "--seeds") {
            s.seeds = std::atoi(value.c_str());
            if (s.seeds < 1) throw Error("--seeds: at least 1");
        } else if (arg == "--first-seed") {
            s.firstSeed = std::atoi(value.c_str());
            if (s.firstSeed < 1) throw Error("--first-seed: at least 1");
        } else if (arg == "--cli") {
            s.cli = value;
        } else if (arg == "--style") {
            const auto style = BoardStyleNamed(value);
            if (!style) throw Error("--style: one of green, blue, red, black, green-yellow, tinned, bare");
            s.styles.push_back(*style);
        } else if (arg == "--size") {
            if (std::sscanf(value.c_str(), "%lfx%lf", &s.widthInches, &s.heightInches) != 2 || s.widthInches < 0.5 ||
                s.heightInches < 0.5 || s.widthInches > 12 || s.heightInches > 12) {
                throw Error("--size: WxH in inches, each 0.5 to 12");
            }
        } else if (arg == "--errors") {
            s.errors = value;
        } else if (arg == "--board-speckle") {
            s.boardSpeckle = std::atoi(value.c_str());
            if (s.boardSpeckle < 0) throw Error("--board-speckle: 0 or more");
        } else {
            throw Error("unknown option " + arg);
        }
    }
    if (s.dpis.empty()) s.dpis = {600, 1200};
    if (s.styles.empty()) s.styles.assign(AllBoardStyles().begin(), AllBoardStyles().end());
    return s;
}

// One preview run: the converter's exit status, and the recovery and what
// was traced when it succeeded.
struct Run {
    int status = 0;
    Recovery recovery;
    std::vector<uint8_t> traced;
};

Run Measure(const Settings& settings, const ScannedRealBoard& board, const std::vector<std::string>& args,
            const std::string& preview) {
    Run run;
    std::filesystem::remove(preview);
    run.status = RunProgram(settings.cli, args);
    if (run.status != 0) return run;
    run.traced = ReadPreviewMask(preview, board.scan.Width(), board.scan.Height());
    run.recovery = MeasureRecovery(board.copper, run.traced, board.scan.Width(), board.scan.Height());
    return run;
}

// Writes the scan as name.png and, as name-errors.png, the scan with the
// copper traced missed in blue and the copper traced where none is in red;
// name-regions.txt lists the true regions not kept whole.
void WriteErrors(const ScannedRealBoard& board, const std::vector<uint8_t>& traced, const Recovery& recovery,
                 const std::filesystem::path& name) {
    if (FILE* list = std::fopen((name.string() + "-regions.txt").c_str(), "w")) {
        for (const RegionFault& f : recovery.faults) {
            std::fprintf(list, "%d,%d to %d,%d: %s%s\n", f.left, f.top, f.right, f.bottom,
                         f.pieces == 0 ? "lost" : f.pieces == 1 ? "whole" : ("broken into " + std::to_string(f.pieces)).c_str(),
                         f.joined ? ", joined to another" : "");
        }
        std::fclose(list);
    }
    WritePng(board.scan, name.string() + ".png", board.dpi);
    Raster errors = board.scan.Clone();
    const auto w = static_cast<size_t>(errors.Width());
    for (int32_t y = 0; y < errors.Height(); ++y) {
        uint8_t* p = errors.RowBytes(y).data();
        for (size_t x = 0; x < w; ++x, p += 3) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (board.copper[i] == traced[i]) continue;
            p[0] = board.copper[i] ? 255 : 0;  // blue, green, red
            p[1] = 0;
            p[2] = board.copper[i] ? 0 : 255;
        }
    }
    WritePng(errors, name.string() + "-errors.png", board.dpi);
}

// " missed N (E on edges) extra N (E on edges)": a pixel is on an edge
// when the true copper changes within the 3 x 3 square around it.
std::string ErrorCounts(const ScannedRealBoard& board, const std::vector<uint8_t>& traced) {
    const int32_t w = board.scan.Width(), h = board.scan.Height();
    int64_t missed = 0, missedEdge = 0, extra = 0, extraEdge = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            if (board.copper[i] == traced[i]) continue;
            bool edge = false;
            for (int32_t dy = -1; dy <= 1 && !edge; ++dy) {
                for (int32_t dx = -1; dx <= 1 && !edge; ++dx) {
                    const int32_t nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    edge = board.copper[static_cast<size_t>(ny) * static_cast<size_t>(w) + static_cast<size_t>(nx)] !=
                           board.copper[i];
                }
            }
            (board.copper[i] ? missed : extra) += 1;
            if (edge) (board.copper[i] ? missedEdge : extraEdge) += 1;
        }
    }
    return " missed " + std::to_string(missed) + " (" + std::to_string(missedEdge) + " on edges) extra " +
           std::to_string(extra) + " (" + std::to_string(extraEdge) + " on edges)";
}

int Main(int argc, char** argv) {
    const Settings settings = Parse(argc, argv);
    std::string pattern = (std::filesystem::temp_directory_path() / "rastrace-realboards-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw Error("Cannot make a temporary folder");
    const std::filesystem::path folder = pattern;
    struct Cleanup {
        std::filesystem::path folder;
        ~Cleanup() {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    } cleanup{folder};
    const std::string input = (folder / "scan.png").string(), preview = (folder / "traced.png").string();
    if (!settings.errors.empty()) std::filesystem::create_directories(settings.errors);

    int boardRule = -1;  // unknown, 0 not available, 1 available
    std::vector<std::string> rows;
    for (const BoardStyle style : settings.styles) {
        for (const double dpi : settings.dpis) {
            Tally today, board;
            const double area = dpi / 600 * dpi / 600;
            // No tolerance to try leaves the colour rule out.
            const std::vector<int32_t> tolerances =
                settings.boardOnly ? std::vector<int32_t>{} : std::vector<int32_t>{12, 24, 40, 56, 80, 112};
            std::vector<int32_t> speckles = {0};
            for (const double s : {16, 64, 256, 1024}) speckles.push_back(static_cast<int32_t>(s * area));
            for (int seed = settings.firstSeed; seed < settings.firstSeed + settings.seeds; ++seed) {
                const RealBoardOptions options{static_cast<int32_t>(settings.widthInches * dpi + 0.5),
                                               static_cast<int32_t>(settings.heightInches * dpi + 0.5),
                                               static_cast<uint64_t>(seed), dpi, style};
                const ScannedRealBoard scanned = ScanRealBoard(options);
                WritePng(scanned.scan, input, dpi);
                const std::vector<Click> clicks = UserClicks(scanned);
                Recovery best;
                double bestScore = -1;
                int32_t bestT = 0, bestS = 0;
                for (const int32_t t : tolerances) {
                    for (const int32_t s : speckles) {
                        const Run run = Measure(settings, scanned, PreviewArguments(clicks, false, t, s, input, preview), preview);
                        if (run.status != 0) throw Error("rastrace-cli failed with status " + std::to_string(run.status));
                        const double score = (run.recovery.iou + run.recovery.connectivity) / 2;
                        if (score > bestScore) {
                            bestScore = score;
                            best = run.recovery;
                            bestT = t;
                            bestS = s;
                        }
                    }
                }
                std::string line = std::string(BoardStyleName(style)) + " " + std::to_string(static_cast<int>(dpi)) +
                                   " dpi seed " + std::to_string(seed) + ":";
                if (!settings.boardOnly) {
                    today.Add(best);
                    line += " today -t " + std::to_string(bestT) + " -s " + std::to_string(bestS) + " IoU " +
                            std::to_string(best.iou) + " whole " + std::to_string(best.connectivity) + ";";
                }
                if (boardRule != 0) {
                    const Run run = Measure(settings, scanned,
                                            PreviewArguments(clicks, true, -1, settings.boardSpeckle, input, preview), preview);
                    if (run.status == 2 && boardRule == -1) {
                        boardRule = 0;
                    } else if (run.status != 0) {
                        throw Error("rastrace-cli -r board failed with status " + std::to_string(run.status));
                    } else {
                        boardRule = 1;
                        board.Add(run.recovery);
                        line += " board IoU " + std::to_string(run.recovery.iou) + " whole " +
                                std::to_string(run.recovery.connectivity) + ErrorCounts(scanned, run.traced);
                        if (!settings.errors.empty()) {
                            WriteErrors(scanned, run.traced, run.recovery,
                                        std::filesystem::path(settings.errors) /
                                            (std::string(BoardStyleName(style)) + "-" +
                                             std::to_string(static_cast<int>(dpi)) + "-" + std::to_string(seed)));
                        }
                    }
                }
                if (settings.verbose) {
                    line += " (clicks:";
                    for (const Click& c : clicks) {
                        line.append(" ").append(SurfaceName(c.surface)).append(" ").append(HexColor(c.color));
                    }
                    line += ")";
                }
                std::fprintf(stderr, "%s\n", line.c_str());
            }
            rows.push_back("| " + std::string(BoardStyleName(style)) + " | " + std::to_string(static_cast<int>(dpi)) +
                           " | " + today.Cells() + " | " + board.Cells() + " |");
        }
    }
    std::printf("| style | dpi | colour rule IoU avg | worst | whole avg | worst | board rule IoU avg | worst | whole avg | worst |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (const std::string& row : rows) std::printf("%s\n", row.c_str());
    std::printf("\n%d boards per row (%.1f x %.1f inches). Colour rule: -c on each copper click, -b on every other "
                "click, -t and -s the best of a grid per board%s. Board rule: %s\n",
                settings.seeds, settings.widthInches, settings.heightInches, settings.boardOnly ? " (not run: --board-only)" : "",
                boardRule == 1 ? "-r board -c ... -b ... -H ..., its defaults."
                               : "not available (rastrace-cli -r board exits with status 2).");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rastrace-realboards: %s\n", e.what());
        return 1;
    }
}
