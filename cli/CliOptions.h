// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of rastrace-cli: what the user asked for, parsed with
// getopt_long (options may come before or after the file names). Parsing
// does not touch any file.
#pragma once

#include "formats/AreaOutput.h"
#include "formats/Formats.h"
#include "job/BoardFiles.h"
#include "trace/BoardRule.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rastrace::cli {

// A colour to trace: the text as typed (for messages) and its packed value.
struct ColorOption {
    std::string text;
    uint32_t value = 0;  // packed 0x00BBGGRR
};

struct CliOptions {
    std::vector<ColorOption> colors;   // in the order given, each value once
    std::string xres = "600";
    std::string yres = "600";
    int32_t xresValue = 600;
    int32_t yresValue = 600;
    bool xresAuto = false;             // "-x auto": the file's stated resolution, set in main
    bool yresAuto = false;
    std::string width = "2";           // "auto" is replaced by the row pitch in main
    bool widthAuto = false;
    int layer = 1;
    std::optional<OutputFormat> format;  // unset: from OUTPUT's extension
    // Set for an area format (Gerber, KiCad); format is then unused.
    std::optional<AreaFormat> areaFormat;
    int32_t tolerance = 0;               // -t: 0..442
    std::vector<ColorOption> backgrounds;  // -b: in the order given, each value once
    int32_t despeckle = 0;               // -s: 0 is off
    std::string mirrors;                 // 'h' and 'v' in the order given
    bool listColors = false;
    std::optional<int64_t> top;          // --top N: the N most common colours
    std::optional<std::pair<int32_t, int32_t>> colorAt;  // --color-at X,Y
    std::optional<std::string> preview;  // --preview FILE: the PNG of what would be traced
    TraceRule rule = TraceRule::Colour;  // -r colour|board
    std::vector<ColorOption> holes;      // -H: in the order given, each value once
    bool suggest = false;                // --suggest: the picture's main colours
    // A whole board: OUTPUT ending in .kicad_pcb (a KiCad board) or .gbrjob
    // (a Gerber job and its files), from INPUT as the top and --bottom.
    std::optional<BoardFileKind> boardOutput;
    std::optional<std::string> bottom;   // --bottom FILE: the other side as it lay on the glass
    std::vector<ColorOption> bottomColors, bottomBackgrounds, bottomHoles;  // empty: as the top's
    // --align X,Y=U,V: a top pixel and the same point on the bottom scan.
    std::vector<std::pair<std::pair<int32_t, int32_t>, std::pair<int32_t, int32_t>>> align;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string input;                   // "-": standard input
    std::string output;                  // "-": standard output; empty with --preview alone
};

// A command line that cannot be used: main prints "rastrace-cli: <message>"
// and a pointer to --help, and exits with status 2.
struct UsageError {
    std::string message;
};

// A value the program's own parser refuses (integer text): main prints
// "rastrace-cli: <option>: <message>." and exits with status 1, as any
// other failure of the system's messages.
struct OptionValueError {
    std::string option;
    std::string message;
};

// Parses argv. Throws UsageError, then OptionValueError.
CliOptions ParseCommandLine(int argc, char** argv);

// A colour as -c (and any other colour option) takes it: "#RRGGBB" in the
// red-green-blue order of image programs, or integer text of the packed
// value 0x00BBGGRR. Throws UsageError for a malformed "#" form or a value
// outside 0..0xFFFFFF (it could never match a pixel), OptionValueError for
// text that is not integer text.
uint32_t ParseColorValue(const std::string& option, const std::string& text);

// "#RRGGBB" of a packed 0x00BBGGRR colour, upper-case hexadecimal.
std::string HexColor(uint32_t packed);

// The track width "-w auto" stands for: the row pitch in mils,
// 1000 / |Y resolution| rounded up, so neighbouring rows of tracks touch.
std::string RowPitchWidth(int32_t yres);

// The format an OUTPUT name implies: ASC when it ends in ".asc" in any
// letter case, PCB otherwise.
OutputFormat FormatForOutput(const std::string& output);

// The area format an OUTPUT name implies: Gerber for ".gbr", KiCad for
// ".kicad_mod", in any letter case; none otherwise.
std::optional<AreaFormat> AreaFormatForOutput(const std::string& output);

std::string UsageText();

}  // namespace rastrace::cli
