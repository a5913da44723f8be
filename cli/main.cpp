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
#include "formats/AreaOutput.h"
#include "formats/KiCad.h"
#include "job/ConversionJob.h"
#include "job/OutputFile.h"
#include "job/SimpleOwner.h"
#include "raster/Mirror.h"
#include "raster/PictureReader.h"
#include "trace/ColorCount.h"
#include "trace/ColorMatch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
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

Picture LoadPicture(const CliOptions& options) {
    // Standard input is read through its own name, so a redirected file is
    // read like any other. The kind (BMP, PNG, TIFF, JPEG) comes from the
    // file's first bytes.
    const std::string path = options.input == "-" ? "/dev/stdin" : options.input;
    Picture picture;
    try {
        picture = ReadPictureFile(path);
    } catch (const std::bad_alloc&) {
        throw Failure{InputName(options.input), "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{InputName(options.input), e.what()};
    }
    if (picture.truncated) {
        Warn(InputName(options.input) + ": the file ends before its pixel data; the missing pixels were filled in");
    }
    if (picture.raster.Empty()) Warn(InputName(options.input) + ": the picture is empty");
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
void NoteStatedResolution(const Picture& picture, const CliOptions& options) {
    if (!picture.dpiX || !picture.dpiY) return;
    if (*picture.dpiX == options.xresValue && *picture.dpiY == options.yresValue) return;
    Say("note: the file says " + DpiText(*picture.dpiX, *picture.dpiY) + "; converting at " +
        DpiText(options.xresValue, options.yresValue) + " (-x, -y)");
}

// "-x auto" and "-y auto": the resolution the file states.
void TakeStatedResolution(const Picture& picture, CliOptions& options) {
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
    const Picture picture = LoadPicture(options);
    ProgressBar bar(ProgressBarWanted(options.quiet, true));
    bar.Start(picture.raster.Height());
    int32_t shown = 0;
    std::vector<ColorCount> counts = CountColors(picture.raster, [&](int32_t rows) {
        bar.Step(rows - shown);
        shown = rows;
    });
    bar.End();
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
    const Picture picture = LoadPicture(options);
    const auto [x, y] = *options.colorAt;
    const Raster& r = picture.raster;
    if (x >= r.Width() || y >= r.Height()) {
        throw Failure{"--color-at", IntToStr(x) + "," + IntToStr(y) + " lies outside the picture of " +
                                        IntToStr(r.Width()) + " x " + IntToStr(r.Height()) + " pixels"};
    }
    const uint32_t color = r.PixelColor(x, y);
    WriteStdout(IntToStr(color) + " " + HexColor(color) + "\n");
    return 0;
}

// The owner of the command line's conversion: the main thread drains the
// job's queue; progress goes to the bar.
class CliOwner : public SimpleOwner {
public:
    explicit CliOwner(ProgressBar& bar) : bar_(bar) {}

    void ProgressStart(int64_t maximum) override { bar_.Start(maximum); }
    void ProgressStep(int64_t steps) override { bar_.Step(steps); }
    void ConversionFinished(const std::optional<std::string>& error) override {
        bar_.End();
        SimpleOwner::ConversionFinished(error);
    }

private:
    ProgressBar& bar_;
};

Failure JobFailure(const std::string& message, const CliOptions& options) {
    return Failure{IsIoErrorText(message) ? OutputName(options.output) : "", message};
}

MatchOptions MatchOptionsOf(const CliOptions& options) {
    MatchOptions match;
    match.tolerance = options.tolerance;
    match.despeckle = options.despeckle;
    for (const ColorOption& b : options.backgrounds) match.backgroundColors.push_back(b.value);
    return match;
}

// Writes the copper of all colours together as the areas of a Gerber or
// KiCad file. The file is replaced whole or not at all, as the track
// formats' files are.
int ConvertArea(const CliOptions& options, const Raster& raster) {
    std::vector<uint32_t> colors;
    for (const ColorOption& c : options.colors) colors.push_back(c.value);
    AreaOptions area;
    area.format = *options.areaFormat;
    area.xres = options.xresValue;
    area.yres = options.yresValue;
    area.layer = options.layer;
    area.name = FootprintNameFor(options.output);
    area.width = raster.Width();
    area.height = raster.Height();

    const MatchOptions match = MatchOptionsOf(options);
    RowRunsSource rows;
    try {
        CheckMatchOptions(match, colors.size());
        rows = MatchedCopperRows(raster, colors, match);
    } catch (const std::bad_alloc&) {
        throw Failure{"", "Out of memory"};
    } catch (const std::exception& e) {
        throw Failure{"", e.what()};
    }

    OutputFile file;
    {
        TerminationSignalBlock block;
        try {
            file = OutputFile::Create(options.output);
        } catch (const std::exception& e) {
            throw Failure{OutputName(options.output), e.what()};
        }
        RemoveOnTermination(file.TemporaryPath());
    }
    ProgressBar bar(ProgressBarWanted(options.quiet, options.output == "-"));
    AreaStats stats;
    try {
        bar.Start(raster.Height());
        stats = WriteArea(area, rows, [&file](std::string_view text) { file.Write(text); },
                          [&bar](int32_t row) {
                              if (row > 0) bar.Step(1);
                          });
        if (raster.Height() > 0) bar.Step(1);
        bar.End();
        TerminationSignalBlock block;
        file.Close();  // renamed into place: what a signal would remove is gone
        RemoveOnTermination("");
    } catch (const std::exception& e) {
        bar.End();
        file.Abandon();
        TerminationSignalBlock block;
        RemoveOnTermination("");
        if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) throw Failure{"", "Out of memory"};
        const std::string message = e.what();
        throw Failure{IsIoErrorText(message) ? OutputName(options.output) : "", message};
    }
    if (stats.pixels == 0 && !raster.Empty()) Warn("the colours given match no pixel");
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
    auto fillRow = [&](int32_t y, uint8_t* rgb) {
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

    OutputFile file;
    {
        TerminationSignalBlock block;
        try {
            file = OutputFile::Create(path);
        } catch (const std::exception& e) {
            throw Failure{OutputName(path), e.what()};
        }
        RemoveOnTermination(file.TemporaryPath());
    }
    try {
        EncodePreviewPng(raster.Width(), raster.Height(), fillRow, [&file](std::string_view bytes) { file.Write(bytes); });
        TerminationSignalBlock block;
        RemoveOnTermination("");
        file.Close();
    } catch (const std::exception& e) {
        file.Abandon();
        TerminationSignalBlock block;
        RemoveOnTermination("");
        if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) throw Failure{"", "Out of memory"};
        const std::string message = e.what();
        throw Failure{IsIoErrorText(message) ? OutputName(path) : "--preview", message};
    }
    if (!options.quiet) Say("preview written to " + OutputName(path));
}

int Convert(CliOptions options) {
    // Both scales are known before anything is written; a stated one
    // ("auto") once the picture is read.
    if (!options.output.empty() && options.xresValue == 0) throw Failure{"-x", "Floating point division by zero"};
    if (!options.output.empty() && options.yresValue == 0) throw Failure{"-y", "Floating point division by zero"};
    if (!options.output.empty()) RefuseOutputOverInput(options, options.output, "OUTPUT ");
    if (options.preview) RefuseOutputOverInput(options, *options.preview, "--preview: ");

    ConversionRequest request;
    request.format = *options.format;
    request.layerNumber = options.layer;
    request.groupByColor = true;
    for (const ColorOption& c : options.colors) request.colorTexts.push_back(IntToStr(c.value));
    request.match = MatchOptionsOf(options);

    Picture picture = LoadPicture(options);
    if (options.preview) WritePreview(options, picture.raster);
    if (options.output.empty()) return 0;
    TakeStatedResolution(picture, options);
    if (!options.quiet) NoteStatedResolution(picture, options);
    request.xresText = options.xres;
    request.yresText = options.yres;
    request.widthText = options.widthAuto ? RowPitchWidth(options.yresValue) : options.width;
    if (options.areaFormat) return ConvertArea(options, picture.raster);
    auto raster = std::make_shared<const Raster>(std::move(picture.raster));

    // The output is written to a temporary file beside it, renamed into
    // place when complete. It is made (in Start) and registered for removal
    // as one step, so an interrupt in between cannot leave it behind; the
    // workers, started with the signals blocked, leave them to this thread.
    request.outputPath = options.output;
    ProgressBar bar(ProgressBarWanted(options.quiet, options.output == "-"));
    CliOwner owner(bar);
    ConversionJob job(owner, raster);
    {
        TerminationSignalBlock block;
        try {
            job.Start(request);
        } catch (const std::bad_alloc&) {
            bar.End();
            throw Failure{"", "Out of memory"};
        } catch (const std::exception& e) {
            bar.End();
            throw JobFailure(e.what(), options);
        }
        RemoveOnTermination(job.TemporaryPath());
    }
    job.RunToCompletion();
    {
        TerminationSignalBlock block;
        RemoveOnTermination("");
    }
    if (owner.Failure()) throw JobFailure(*owner.Failure(), options);

    const std::vector<int64_t>& tracks = job.TracksWritten();
    std::string summary;
    for (size_t i = 0; i < options.colors.size() && i < tracks.size(); ++i) {
        const ColorOption& c = options.colors[i];
        if (tracks[i] == 0 && !raster->Empty()) {
            Warn("colour " + c.text + " (" + HexColor(c.value) + ") matches no pixel");
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
        WriteStdout(std::string("rastrace-cli ") + RASTRACE_VERSION + "\n");
        return 0;
    }
    if (options.listColors) return ListColors(options);
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
