// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-cli: converts one BMP scan into a PCB or PADS track file with the
// same core as the window, lists the colours of a scan, or names the colour
// of one pixel.
//
// Every line on standard error begins "rastrace-cli: " and names what it is
// about (an option, the input, the output); the system's own message text
// follows unchanged. Exit status: 0 done, 1 failed, 2 unusable command line.
#include "cli/CliOptions.h"
#include "cli/PreviewPng.h"
#include "cli/ProgressBar.h"
#include "cli/Signals.h"
#include "common/Error.h"
#include "common/IntText.h"
#include "common/MessageText.h"
#include "board/Nets.h"
#include "board/Registration.h"
#include "board/SideTrace.h"
#include "board/WholeBoard.h"
#include "formats/AreaOutput.h"
#include "formats/KiCad.h"
#include "job/OutputFile.h"
#include "job/StreamConversion.h"
#include "raster/Mirror.h"
#include "raster/PictureReader.h"
#include "raster/PictureRows.h"
#include "trace/ColorCount.h"
#include "trace/ColorMatch.h"
#include "trace/BoardRule.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <numeric>
#include <string>
#include <unordered_set>

using namespace rastrace;
using namespace rastrace::cli;

namespace {

constexpr const char* kTryHelp = "Try 'rastrace-cli --help' for more information.\n";

// A failure the user is told of with exit status 1: "rastrace-cli: [subject:
// ]message." where message is one of the system's texts.
struct Failure {
    std::string subject;  // empty: the message says enough
    std::string message;
};

void Say(const std::string& text) {
    const std::string line = "rastrace-cli: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void Warn(const std::string& text) { Say("warning: " + text); }

std::string InputName(const std::string& input) { return input == "-" ? "standard input" : input; }
std::string OutputName(const std::string& output) { return output == "-" ? "standard output" : output; }

// Whether a message is one of the I/O error texts of a file call, which are
// about the output file.
bool IsIoErrorText(const std::string& message) {
    for (int code : {2, 3, 4, 5, 101}) {
        if (message == IoErrorText(code)) return true;
    }
    return message.rfind("I/O error ", 0) == 0;
}

// Writes text to standard output and makes sure it arrived.
void WriteStdout(const std::string& text) {
    const size_t written = std::fwrite(text.data(), 1, text.size(), stdout);
    int err = written == text.size() ? 0 : errno;
    if (std::fflush(stdout) != 0 && err == 0) err = errno;
    if (err == 0 && std::ferror(stdout) != 0) err = EIO;
    if (err != 0) throw Failure{"standard output", IoErrorMessage(err)};
}

std::string InputPath(const CliOptions& options) { return options.input == "-" ? "/dev/stdin" : options.input; }

void WarnOfFilledIn(const CliOptions& options) {
    Warn(InputName(options.input) + ": the file ends before its pixel data; the missing pixels were filled in");
}

void WarnOfPicture(const PictureFacts& facts, bool empty, const CliOptions& options) {
    if (facts.truncated) WarnOfFilledIn(options);
    if (empty) Warn(InputName(options.input) + ": the picture is empty");
}

// Damaged data that a reader filled in is known only once its rows have
// been read (a JPEG's): the same warning as a file cut short, given then.
void WarnOfRowsFilledIn(const PictureRows& rows, const CliOptions& options) {
    if (rows.FilledIn()) WarnOfFilledIn(options);
}

// Whether the mirrors given, applied in order, turn the picture over on
// each axis: two of one kind undo each other.
bool MirrorsOdd(const CliOptions& options, char kind) {
    return std::count(options.mirrors.begin(), options.mirrors.end(), kind) % 2 == 1;
}

// The picture to be read by rows, mirrored as the options say: rows come
// from the file as they are traced, never the whole picture at once (but
// for the kinds that cannot be read so, which are read whole).
std::unique_ptr<PictureRows> OpenRows(const CliOptions& options) {
    std::unique_ptr<PictureRows> rows;
    try {
        rows = OpenPictureRows(InputPath(options), {}, MirrorsOdd(options, 'v'));
    } catch (const std::bad_alloc&) {
        throw Failure{InputName(options.input), "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{InputName(options.input), e.what()};
    }
    WarnOfPicture(rows->Facts(), rows->Width() == 0 || rows->Height() == 0, options);
    return MirroredRows(std::move(rows), MirrorsOdd(options, 'h'), MirrorsOdd(options, 'v'));
}

Picture LoadPicture(const CliOptions& options) {
    // Standard input is read through its own name, so a redirected file is
    // read like any other. The kind (BMP, PNG, TIFF, JPEG) comes from the
    // file's first bytes.
    const std::string path = InputPath(options);
    Picture picture;
    try {
        picture = ReadPictureFile(path);
    } catch (const std::bad_alloc&) {
        throw Failure{InputName(options.input), "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{InputName(options.input), e.what()};
    }
    WarnOfPicture(picture, picture.raster.Empty(), options);
    for (char m : options.mirrors) {
        if (m == 'h') {
            MirrorHorizontal(picture.raster);
        } else {
            MirrorVertical(picture.raster);
        }
    }
    return picture;
}

std::string DpiText(int64_t x, int64_t y) {
    return x == y ? IntToStr(x) + " dpi" : IntToStr(x) + " x " + IntToStr(y) + " dpi";
}

// A note when the file states a resolution other than the one converted
// at: a scan at 150 dpi converted at the default 600 comes out four times
// too small.
void NoteStatedResolution(const PictureFacts& picture, const CliOptions& options) {
    if (!picture.dpiX || !picture.dpiY) return;
    if (*picture.dpiX == options.xresValue && *picture.dpiY == options.yresValue) return;
    Say("note: the file says " + DpiText(*picture.dpiX, *picture.dpiY) + "; converting at " +
        DpiText(options.xresValue, options.yresValue) + " (-x, -y)");
}

// "-x auto" and "-y auto": the resolution the file states.
void TakeStatedResolution(const PictureFacts& picture, CliOptions& options) {
    try {
        if (options.xresAuto) {
            options.xresValue = RequireStatedDpi(picture, Axis::X);
            options.xres = IntToStr(options.xresValue);
        }
        if (options.yresAuto) {
            options.yresValue = RequireStatedDpi(picture, Axis::Y);
            options.yres = IntToStr(options.yresValue);
        }
    } catch (const std::exception& e) {
        throw Failure{InputName(options.input), e.what()};
    }
}

// An OUTPUT that is the INPUT file itself, under any name or link, would
// replace the picture with the tracks.
void RefuseOutputOverInput(const CliOptions& options, const std::string& output, const char* what) {
    struct stat in {}, out {};
    const bool haveIn = options.input == "-" ? ::fstat(STDIN_FILENO, &in) == 0 : ::stat(options.input.c_str(), &in) == 0;
    if (!haveIn || !S_ISREG(in.st_mode)) return;
    const bool haveOut =
        output == "-" ? ::fstat(STDOUT_FILENO, &out) == 0 : ::stat(output.c_str(), &out) == 0;
    if (haveOut && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        throw UsageError{what + ("'" + OutputName(output) + "' is the same file as INPUT '") +
                         InputName(options.input) + "'"};
    }
}

int ListColors(const CliOptions& options) {
    const std::unique_ptr<PictureRows> rows = OpenRows(options);
    ProgressBar bar(ProgressBarWanted(options.quiet, true));
    bar.Start(rows->Height());
    // Bands counted on two workers; colours are listed in order of first
    // appearance.
    std::vector<ColorCount> counts;
    try {
        counts = CountColors(*rows, 2, [&bar](int32_t done) { bar.Step(done); });
    } catch (const std::bad_alloc&) {
        bar.End();
        throw Failure{InputName(options.input), "Out of memory"};
    } catch (const std::exception& e) {
        bar.End();
        throw Failure{InputName(options.input), e.what()};
    }
    bar.End();
    WarnOfRowsFilledIn(*rows, options);
    std::string text;
    if (options.top) {
        // Most common first; equal counts keep their order of appearance.
        std::stable_sort(counts.begin(), counts.end(),
                         [](const ColorCount& a, const ColorCount& b) { return a.pixels > b.pixels; });
        if (static_cast<uint64_t>(*options.top) < counts.size()) counts.resize(static_cast<size_t>(*options.top));
    }
    for (const ColorCount& c : counts) {
        text += IntToStr(c.color);
        text += ' ';
        text += IntToStr(static_cast<int64_t>(c.pixels));
        if (options.top) {
            text += ' ';
            text += HexColor(c.color);
        }
        text += '\n';
    }
    WriteStdout(text);
    return 0;
}

int ColorAt(const CliOptions& options) {
    const std::unique_ptr<PictureRows> rows = OpenRows(options);
    const auto [x, y] = *options.colorAt;
    if (x >= rows->Width() || y >= rows->Height()) {
        throw Failure{"--color-at", IntToStr(x) + "," + IntToStr(y) + " lies outside the picture of " +
                                        IntToStr(rows->Width()) + " x " + IntToStr(rows->Height()) + " pixels"};
    }
    // Only the rows up to the one asked for are read (that row alone where
    // the file can be read in any order).
    std::vector<uint8_t> row(static_cast<size_t>(rows->Width()) * 3);
    try {
        for (int32_t r = rows->AnyOrder() ? y : 0; r <= y; ++r) rows->ReadRows(r, 1, row.data(), static_cast<ptrdiff_t>(row.size()));
    } catch (const std::bad_alloc&) {
        throw Failure{InputName(options.input), "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{InputName(options.input), e.what()};
    }
    WarnOfRowsFilledIn(*rows, options);
    const uint32_t color = PackColor(row.data() + 3 * static_cast<size_t>(x));
    WriteStdout(IntToStr(color) + " " + HexColor(color) + "\n");
    return 0;
}

// A write to the output that failed: its message is about the output.
struct OutputWriteError {
    std::string message;
};

// Writes the files at paths, file i with body(i, write), each replaced
// whole once every body is done, or none at all. The temporary files beside
// them are made and registered for removal by a termination signal as one
// step, so an interrupt cannot leave them behind; bar ends on every path.
// On failure the temporary files are gone and the error is told: a failed
// write or close about its path, a shortage of memory alone, anything else
// about otherSubject (the input, or the option that asked for the file).
// Only a rename failing after others succeeded leaves some files new.
void ReplaceOutputFiles(
    const std::vector<std::string>& paths, const std::string& otherSubject, ProgressBar& bar,
    const std::function<void(size_t file, const std::function<void(std::string_view)>& write)>& body) {
    std::vector<OutputFile> files(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        TerminationSignalBlock block;
        try {
            files[i] = OutputFile::Create(paths[i]);
        } catch (const std::exception& e) {
            for (size_t j = 0; j < i; ++j) files[j].Abandon();
            RemoveOnTermination("");
            throw Failure{OutputName(paths[i]), e.what()};
        }
        if (i == 0) {
            RemoveOnTermination(files[i].TemporaryPath());
        } else {
            AlsoRemoveOnTermination(files[i].TemporaryPath());
        }
    }
    size_t current = 0;  // the file a write or close failed on
    try {
        for (size_t i = 0; i < paths.size(); ++i) {
            current = i;
            OutputFile& file = files[i];
            body(i, [&file](std::string_view text) {
                try {
                    file.Write(text);
                } catch (const std::exception& e) {
                    throw OutputWriteError{e.what()};
                }
            });
        }
        bar.End();
        TerminationSignalBlock block;
        for (size_t i = 0; i < paths.size(); ++i) {
            current = i;
            try {
                files[i].Close();  // renamed into place: what a signal would remove is gone
            } catch (const std::exception& e) {
                throw OutputWriteError{e.what()};
            }
        }
        RemoveOnTermination("");
    } catch (...) {
        bar.End();
        for (OutputFile& file : files) file.Abandon();
        {
            TerminationSignalBlock block;
            RemoveOnTermination("");
        }
        const std::string& path = paths[current];
        try {
            throw;
        } catch (const OutputWriteError& e) {
            throw Failure{OutputName(path), e.message};
        } catch (const std::bad_alloc&) {
            throw Failure{"", "Out of memory"};
        } catch (const Failure&) {
            throw;
        } catch (const std::exception& e) {
            const std::string message = e.what();
            if (message == "Out of memory") throw Failure{"", message};
            throw Failure{IsIoErrorText(message) ? OutputName(path) : otherSubject, message};
        }
    }
}

// The same for one file.
void ReplaceOutputFile(const std::string& path, const std::string& otherSubject, ProgressBar& bar,
                       const std::function<void(const std::function<void(std::string_view)>& write)>& body) {
    ReplaceOutputFiles({path}, otherSubject, bar, [&body](size_t, const auto& write) { body(write); });
}

// "12 pixels; speckle removal (-s 16) removed them all": for colours that
// matched pixels, every one of them in a region smaller than the speckle
// size.
std::string SpeckledAway(uint64_t pixels, const CliOptions& options) {
    return IntToStr(static_cast<int64_t>(pixels)) + (pixels == 1 ? " pixel" : " pixels") + "; speckle removal (-s " +
           IntToStr(options.despeckle) + ") removed " + (pixels == 1 ? "it" : "them all");
}

MatchOptions MatchOptionsOf(const CliOptions& options) {
    MatchOptions match;
    match.tolerance = options.tolerance;
    match.despeckle = options.despeckle;
    for (const ColorOption& b : options.backgrounds) match.backgroundColors.push_back(b.value);
    // Today's rule sees a hole colour as one more colour never traced.
    for (const ColorOption& h : options.holes) match.backgroundColors.push_back(h.value);
    return match;
}

// The board rule's picks and the window it looks through at the X
// resolution.
BoardColors BoardColorsOf(const CliOptions& options) {
    BoardColors board = BoardDefaultsFor(options.xresValue < 0 ? -options.xresValue : options.xresValue);
    for (const ColorOption& c : options.colors) board.copper.push_back(c.value);
    for (const ColorOption& b : options.backgrounds) board.noncopper.push_back(b.value);
    for (const ColorOption& h : options.holes) board.holes.push_back(h.value);
    board.tolerance = options.tolerance;
    return board;
}

// The board rule hands its copper on as pixels of the first copper colour:
// the rest of the conversion then traces that colour exactly.
CliOptions AfterBoardRule(CliOptions options) {
    options.colors.resize(1);
    options.backgrounds.clear();
    options.holes.clear();
    options.tolerance = 0;
    return options;
}

// The picture's main colours, one line each: "#RRGGBB 41.2% at X,Y".
int Suggest(const CliOptions& options) {
    const std::unique_ptr<PictureRows> rows = OpenRows(options);
    std::vector<MainColor> colors;
    try {
        colors = SuggestColors(*rows, options.top ? static_cast<size_t>(std::min<int64_t>(*options.top, 1 << 20)) : 8);
    } catch (const std::bad_alloc&) {
        throw Failure{InputName(options.input), "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{InputName(options.input), e.what()};
    }
    const uint64_t all = static_cast<uint64_t>(rows->Width()) * static_cast<uint64_t>(rows->Height());
    std::string text;
    for (const MainColor& c : colors) {
        const uint64_t tenths = (c.pixels * 1000 + all / 2) / all;
        text += HexColor(c.color) + ' ' + IntToStr(static_cast<int64_t>(tenths / 10)) + '.' +
                IntToStr(static_cast<int64_t>(tenths % 10)) + "% at " + IntToStr(c.x) + ',' + IntToStr(c.y) + '\n';
    }
    WriteStdout(text);
    return 0;
}

AreaOptions AreaOptionsOf(const CliOptions& options, int32_t width, int32_t height) {
    AreaOptions area;
    area.format = *options.areaFormat;
    area.xres = options.xresValue;
    area.yres = options.yresValue;
    area.layer = options.layer;
    area.name = FootprintNameFor(options.output);
    area.width = width;
    area.height = height;
    return area;
}

// A Gerber or KiCad file whose coordinates the format cannot hold is
// refused before anything is written, the preview included. A resolution
// that cannot be had ("auto" for a file that states none) is told later,
// where it always was.
void RefuseAreaBeyondFormat(const CliOptions& options, const PictureFacts& facts, int32_t width, int32_t height) {
    if (!options.areaFormat || options.output.empty()) return;
    CliOptions resolved = options;
    try {
        TakeStatedResolution(facts, resolved);
    } catch (const Failure&) {
        return;
    }
    if (const auto problem = AreaSizeProblemOf(AreaOptionsOf(resolved, width, height))) {
        throw Failure{problem->vertical ? "-y" : "-x", problem->message};
    }
}

// Writes the copper of all colours together as the areas of a Gerber or
// KiCad file. The file is replaced whole or not at all, as the track
// formats' files are.
int ConvertArea(const CliOptions& options, PictureRows& picture) {
    std::vector<uint32_t> colors;
    for (const ColorOption& c : options.colors) colors.push_back(c.value);
    const AreaOptions area = AreaOptionsOf(options, picture.Width(), picture.Height());
    const bool empty = picture.Width() == 0 || picture.Height() == 0;

    const MatchOptions match = MatchOptionsOf(options);
    SameRowRunsSource rows;
    try {
        CheckMatchOptions(match, colors.size());
    } catch (const std::exception& e) {
        throw Failure{"", e.what()};
    }
    RefuseAreaBeyondFormat(options, picture.Facts(), picture.Width(), picture.Height());
    std::vector<uint64_t> matched;  // before speckle removal
    try {
        rows = MatchedCopperRows(picture, colors, match, &matched);
    } catch (const std::bad_alloc&) {
        throw Failure{"", "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{InputName(options.input), e.what()};
    }

    ProgressBar bar(ProgressBarWanted(options.quiet, options.output == "-"));
    AreaStats stats;
    ReplaceOutputFile(options.output, InputName(options.input), bar, [&](const auto& write) {
        bar.Start(picture.Height());
        int32_t stepped = 0;  // rows done; rows alike come at once
        stats = WriteArea(area, rows, write, [&bar, &stepped](int32_t row) {
            bar.Step(row - stepped);
            stepped = row;
        });
        bar.Step(picture.Height() - stepped);
        picture.CheckUnchanged();
    });
    WarnOfRowsFilledIn(picture, options);
    if (stats.pixels == 0 && !empty) {
        const uint64_t before = std::accumulate(matched.begin(), matched.end(), uint64_t{0});
        Warn(before == 0 ? std::string("the colours given match no pixel")
                         : "the colours given match " + SpeckledAway(before, options));
    }
    if (!options.quiet) {
        Say(IntToStr(stats.shapes) + (stats.shapes == 1 ? " shape" : " shapes") + " written to " +
            OutputName(options.output));
    }
    return 0;
}

// Writes the --preview picture: what the conversion would trace, each copper
// colour's pixels in that colour, every other pixel white.
void WritePreview(const CliOptions& options, const Raster& raster) {
    const std::string& path = *options.preview;
    if (raster.Empty()) throw Failure{"--preview", "The picture is empty"};
    std::vector<uint32_t> colors;
    for (const ColorOption& c : options.colors) colors.push_back(c.value);
    const MatchOptions match = MatchOptionsOf(options);
    ClassMap map;
    try {
        CheckMatchOptions(match, colors.size());
        if (match.NeedsClassMap()) map = BuildClassMap(raster, colors, match, 2);
    } catch (const std::bad_alloc&) {
        throw Failure{"", "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{"", e.what()};
    }
    const bool mapped = match.NeedsClassMap();
    const std::unordered_set<uint32_t> exact(colors.begin(), colors.end());
    std::unique_ptr<BoardClassifier> board;
    std::vector<uint8_t> verdict;
    if (options.rule == TraceRule::Board) {
        try {
            board = std::make_unique<BoardClassifier>(raster.Width(), raster.Height(), BoardColorsOf(options));
            verdict.resize(static_cast<size_t>(raster.Width()));
        } catch (const std::bad_alloc&) {
            throw Failure{"", "Out of memory"};
        }
    }
    auto fillRow = [&](int32_t y, uint8_t* rgb) {
        if (board) {
            board->PopPulling([&raster](int32_t row) { return raster.RowBytes(row).data(); }, verdict.data());
            for (int32_t x = 0; x < raster.Width(); ++x, rgb += 3) {
                const uint32_t shown = verdict[static_cast<size_t>(x)] != 0 ? colors[0] : 0xFFFFFF;
                rgb[0] = static_cast<uint8_t>(shown);
                rgb[1] = static_cast<uint8_t>(shown >> 8);
                rgb[2] = static_cast<uint8_t>(shown >> 16);
            }
            return;
        }
        const uint8_t* pixels = raster.RowBytes(y).data();
        const uint8_t* classes = mapped ? map.Row(y) : nullptr;
        for (int32_t x = 0; x < raster.Width(); ++x, pixels += 3, rgb += 3) {
            uint32_t shown = 0xFFFFFF;
            if (mapped) {
                if (classes[x] != kNoClass) shown = colors[classes[x] - 1];
            } else if (const uint32_t c = PackColor(pixels); exact.count(c) != 0) {
                shown = c;
            }
            rgb[0] = static_cast<uint8_t>(shown);
            rgb[1] = static_cast<uint8_t>(shown >> 8);
            rgb[2] = static_cast<uint8_t>(shown >> 16);
        }
    };

    ProgressBar noBar(false);
    ReplaceOutputFile(path, "--preview", noBar,
                      [&](const auto& write) { EncodePreviewPng(raster.Width(), raster.Height(), fillRow, write); });
    if (!options.quiet) Say("preview written to " + OutputName(path));
}

// Converts the rows into a PCB or PADS file, replaced whole once complete;
// returns the records written per colour, and with speckle removal the
// pixels each matched before it in matched.
std::vector<int64_t> ConvertTracks(const CliOptions& options, PictureRows& rows, std::vector<uint64_t>& matched) {
    StreamRequest request;
    request.format = *options.format;
    request.layerText = IntToStr(options.layer);
    for (const ColorOption& c : options.colors) request.colors.push_back(c.value);
    request.xres = options.xresValue;
    request.yres = options.yresValue;
    request.widthText = options.widthAuto ? RowPitchWidth(options.yresValue) : options.width;
    request.match = MatchOptionsOf(options);
    try {
        CheckMatchOptions(request.match, request.colors.size());
    } catch (const std::exception& e) {
        throw Failure{"", e.what()};
    }

    ProgressBar bar(ProgressBarWanted(options.quiet, options.output == "-"));
    std::vector<int64_t> tracks;
    ReplaceOutputFile(options.output, InputName(options.input), bar, [&](const auto& write) {
        bar.Start(static_cast<int64_t>(rows.Height()) * static_cast<int64_t>(request.colors.size()));
        tracks = ConvertRows(rows, request, write, [&bar](int64_t steps) { bar.Step(steps); }, &matched);
    });
    return tracks;
}

// The colours, rule and resolution of one side of a board.
SideRequest SideRequestOf(const CliOptions& options, bool bottom) {
    SideRequest side;
    auto values = [](const std::vector<ColorOption>& list) {
        std::vector<uint32_t> out;
        for (const ColorOption& c : list) out.push_back(c.value);
        return out;
    };
    side.colors.copper = values(bottom && !options.bottomColors.empty() ? options.bottomColors : options.colors);
    side.colors.noncopper =
        values(bottom && !options.bottomBackgrounds.empty() ? options.bottomBackgrounds : options.backgrounds);
    side.colors.holes = values(bottom && !options.bottomHoles.empty() ? options.bottomHoles : options.holes);
    side.rule = options.rule;
    side.tolerance = options.tolerance;
    side.despeckle = options.despeckle;
    side.xres = options.xresValue;
    side.yres = options.yresValue;
    return side;
}

// Reads both sides (or the top alone), aligns them, puts the nets together
// and writes the board: a KiCad board, or a Gerber job with its files.
int ConvertBoard(CliOptions options) {
    if (options.bottom) {
        CliOptions bottomInput = options;
        bottomInput.input = *options.bottom;
        RefuseOutputOverInput(bottomInput, options.output, "OUTPUT ");
    }
    // Each side at the resolution given, or at the one its file states.
    CliOptions bottomOptions = options;
    if (options.bottom) bottomOptions.input = *options.bottom;
    std::unique_ptr<PictureRows> topRows = OpenRows(options);
    TakeStatedResolution(topRows->Facts(), options);
    std::unique_ptr<PictureRows> bottomRows;
    if (options.bottom) {
        bottomRows = OpenRows(bottomOptions);
        TakeStatedResolution(bottomRows->Facts(), bottomOptions);
    }
    for (const CliOptions* side : {&options, options.bottom ? &bottomOptions : nullptr}) {
        if (side == nullptr) continue;
        if (side->xresValue <= 0) throw Failure{"-x", side->xresValue == 0 ? "Floating point division by zero" : "A board needs a positive resolution"};
        if (side->yresValue <= 0) throw Failure{"-y", side->yresValue == 0 ? "Floating point division by zero" : "A board needs a positive resolution"};
    }
    const SideRequest topSide = SideRequestOf(options, false);
    const SideRequest bottomSide = SideRequestOf(bottomOptions, true);
    for (const SideRequest* side : {&topSide, &bottomSide}) {
        MatchOptions match;
        match.tolerance = side->tolerance;
        match.despeckle = side->despeckle;
        try {
            CheckMatchOptions(match, side->colors.copper.size());
        } catch (const std::exception& e) {
            throw Failure{"", e.what()};
        }
    }

    ProgressBar bar(ProgressBarWanted(options.quiet, false));
    const int64_t allRows = int64_t{topRows->Height()} + (bottomRows ? bottomRows->Height() : 0);
    bar.Start(allRows);
    int64_t done = 0;
    auto trace = [&](std::unique_ptr<PictureRows> rows, const SideRequest& side, const std::string& name) {
        int32_t stepped = 0;
        try {
            SideTrace traced = TraceSide(std::move(rows), side, [&](int32_t row) {
                bar.Step(row - stepped);
                stepped = row;
            });
            bar.Step(traced.height - stepped);
            done += traced.height;
            return traced;
        } catch (const std::bad_alloc&) {
            bar.End();
            throw Failure{"", "Out of memory"};
        } catch (const std::exception& e) {
            bar.End();
            const std::string message = e.what();
            if (message == "Out of memory") throw Failure{"", message};
            throw Failure{name, message};
        }
    };
    const SideTrace top = trace(std::move(topRows), topSide, InputName(options.input));
    std::optional<SideTrace> bottom;
    if (bottomRows) bottom = trace(std::move(bottomRows), bottomSide, InputName(*options.bottom));
    bar.End();

    std::optional<Affine2> map;
    Alignment alignment;
    if (bottom) {
        try {
            std::vector<std::pair<Vec2, Vec2>> pairs;
            for (const auto& [t, b] : options.align) {
                pairs.push_back({{t.first + 0.5, t.second + 0.5}, {b.first + 0.5, b.second + 0.5}});
            }
            alignment = AlignTracedSides(top, *bottom, pairs);
        } catch (const std::exception& e) {
            std::string message = e.what();
            if (options.align.empty()) {
                if (!message.empty() && message.back() != '.') message += '.';
                message += " Give at least three point pairs with --align X,Y=U,V";
            }
            throw Failure{"", message};
        }
        map = alignment.bottomToTop;
        if (!options.quiet) {
            Say("the bottom is aligned on " + IntToStr(alignment.matched) +
                (options.align.empty() ? " holes" : " point pairs") + ", residual " +
                FixedText(alignment.rmsPx, 2) + " px RMS");
        }
    }

    BoardFacts facts;
    BoardModel model;
    try {
        model = AssembleBoard(top, bottom ? &*bottom : nullptr, map, alignment.pairs, &facts);
    } catch (const std::bad_alloc&) {
        throw Failure{"", "Out of memory"};
    }

    ProgressBar noBar(false);
    const BoardFileKind kind = *options.boardOutput;
    ReplaceOutputFiles(BoardFilePaths(kind, options.output), InputName(options.input), noBar,
                       [&](size_t file, const auto& write) {
                           WriteBoardFileText(model, kind, options.output, file, RASTRACE_VERSION, write);
                       });
    if (!options.quiet) {
        Say(IntToStr(facts.regions) + (facts.regions == 1 ? " region" : " regions") + " in " +
            IntToStr(facts.nets) + (facts.nets == 1 ? " net" : " nets") + ", " + IntToStr(facts.holes) +
            (facts.holes == 1 ? " hole" : " holes") + " (" + IntToStr(facts.plated) + " plated, " +
            IntToStr(facts.vias) + (facts.vias == 1 ? " via" : " vias") + ") written to " +
            OutputName(options.output));
    }
    return 0;
}

int Convert(CliOptions options) {
    // Both scales are known before anything is written; a stated one
    // ("auto") once the picture is read.
    if (!options.output.empty() && options.xresValue == 0) throw Failure{"-x", "Floating point division by zero"};
    if (!options.output.empty() && options.yresValue == 0) throw Failure{"-y", "Floating point division by zero"};
    if (!options.output.empty()) RefuseOutputOverInput(options, options.output, "OUTPUT ");
    if (options.preview) RefuseOutputOverInput(options, *options.preview, "--preview: ");
    if (options.boardOutput) return ConvertBoard(std::move(options));

    std::unique_ptr<PictureRows> rows;
    if (options.preview) {
        // The preview is made from the whole picture, which the conversion
        // then reads from memory, and at the resolution it converts at
        // (which sizes the board rule's stroke, blends and specks).
        Picture picture = LoadPicture(options);
        TakeStatedResolution(picture, options);
        RefuseAreaBeyondFormat(options, picture, picture.raster.Width(), picture.raster.Height());
        WritePreview(options, picture.raster);
        if (options.output.empty()) return 0;
        rows = RasterRows(std::move(picture));
    } else {
        rows = OpenRows(options);
        TakeStatedResolution(rows->Facts(), options);
    }
    if (!options.quiet) NoteStatedResolution(rows->Facts(), options);
    if (options.rule == TraceRule::Board) {
        try {
            rows = BoardRows(std::move(rows), BoardColorsOf(options));
        } catch (const std::bad_alloc&) {
            throw Failure{"", "Out of memory"};
        }
        options = AfterBoardRule(std::move(options));
    }
    if (options.areaFormat) return ConvertArea(options, *rows);

    std::vector<uint64_t> matched;
    const std::vector<int64_t> tracks = ConvertTracks(options, *rows, matched);
    WarnOfRowsFilledIn(*rows, options);
    const bool empty = rows->Width() == 0 || rows->Height() == 0;
    std::string summary;
    for (size_t i = 0; i < options.colors.size() && i < tracks.size(); ++i) {
        const ColorOption& c = options.colors[i];
        if (tracks[i] == 0 && !empty) {
            Warn("colour " + c.text + " (" + HexColor(c.value) + ") matches " +
                 (i < matched.size() && matched[i] > 0 ? SpeckledAway(matched[i], options) : std::string("no pixel")));
        }
        if (i > 0) summary += ", ";
        summary += IntToStr(tracks[i]);
        if (i == 0) summary += tracks[i] == 1 ? " track" : " tracks";
        summary += " of " + c.text;
    }
    if (!options.quiet) Say(summary + " written to " + OutputName(options.output));
    return 0;
}

int RunCommand(const CliOptions& options) {
    if (options.help) {
        WriteStdout(UsageText());
        return 0;
    }
    if (options.version) {
        // The name and version, then the notice GNU programs print.
        WriteStdout(std::string("rastrace-cli ") + RASTRACE_VERSION +
                    "\n"
                    "Copyright (C) 2026 The Rastrace developers.\n"
                    "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                    "This is free software: you are free to change and redistribute it.\n"
                    "There is NO WARRANTY, to the extent permitted by law.\n");
        return 0;
    }
    if (options.listColors) return ListColors(options);
    if (options.suggest) return Suggest(options);
    if (options.colorAt) return ColorAt(options);
    return Convert(options);
}

}  // namespace

int main(int argc, char** argv) {
    InstallSignalHandlers();
    try {
        return RunCommand(ParseCommandLine(argc, argv));
    } catch (const UsageError& e) {
        Say(e.message);
        std::fputs(kTryHelp, stderr);
        return 2;
    } catch (const OptionValueError& e) {
        Say(e.option + ": " + ShownText(e.message));
    } catch (const Failure& f) {
        Say((f.subject.empty() ? "" : f.subject + ": ") + ShownText(f.message));
    } catch (const std::bad_alloc&) {
        Say(ShownText("Out of memory"));
    } catch (const std::exception& e) {
        Say(ShownText(e.what()));
    }
    return 1;
}
