// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include "common/Error.h"
#include "common/IntText.h"
#include "trace/ColorMatch.h"

#include <getopt.h>

#include <cctype>
#include <cstdio>
#include <unordered_set>

namespace rastrace::cli {

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool HoldsControlCharacter(const std::string& text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

// Integer text of an option's value; the parser's own message otherwise.
int32_t ParseInteger(const std::string& option, const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) throw OptionValueError{option, NotValidIntegerMessage(text)};
    return value;
}

// A whole decimal number from 0 to max, digits only (for --top and --color-at).
bool ParseCount(const std::string& text, int64_t max, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value <= max;
}

enum LongOnly {
    kListColors = 256, kVersion, kTop, kColorAt, kPreview, kSuggest,
    kBottom, kBottomColor, kBottomBackground, kBottomHoleColor, kAlign
};

}  // namespace

std::string UsageText() {
    return "Usage: rastrace-cli [OPTION]... INPUT OUTPUT\n"
           "  or:  rastrace-cli --list-colors [--top N] INPUT\n"
           "  or:  rastrace-cli --color-at X,Y INPUT\n"
           "  or:  rastrace-cli --suggest [--top N] INPUT\n"
           "  or:  rastrace-cli --preview FILE.png [OPTION]... INPUT [OUTPUT]\n"
           "  or:  rastrace-cli [OPTION]... TOP --bottom BOTTOM BOARD.kicad_pcb|BOARD.gbrjob\n"
           "Convert every horizontal run of the given colours in the picture INPUT (BMP,\n"
           "PNG, TIFF or JPEG, told apart by content) into a straight track of a PCB file\n"
           "(\"PCB FILE 4\") or a PADS ASCII file OUTPUT, or write their copper as exact\n"
           "areas of a Gerber file or a KiCad footprint.\n"
           "INPUT \"-\" reads the picture from standard input, OUTPUT \"-\" writes to\n"
           "standard output. Options may come before or after the file names.\n"
           "\n"
           "Options:\n"
           "  -c, --color=COLOUR     colour to trace: #RRGGBB (red, green, blue, as image\n"
           "                           programs show it) or the packed value 0x00BBGGRR\n"
           "                           (255, $FF, 0xFF and #FF0000 are pure red); repeat\n"
           "                           for several colours; at least one\n"
           "  -x, --xres=DPI         horizontal scan resolution (default 600); 'auto' takes\n"
           "                           the one the file states\n"
           "  -y, --yres=DPI         vertical scan resolution (default 600); 'auto' takes\n"
           "                           the one the file states\n"
           "  -w, --width=TEXT       track width in mil, written as given (default 2);\n"
           "                           'auto' is the row pitch, 1000 / Y resolution\n"
           "                           rounded up, so rows of tracks join into copper\n"
           "  -l, --layer=N          layer number 0 to 8 (default 1, Top Layer); gerber and\n"
           "                           kicad: 1 top copper, 2 to 5 inner, 6 bottom copper,\n"
           "                           7 and 8 top and bottom silkscreen\n"
           "  -f, --format=FORMAT    pcb, asc, gerber or kicad (default: asc when OUTPUT\n"
           "                           ends in .asc, gerber for .gbr, kicad for\n"
           "                           .kicad_mod, in any letter case, else pcb)\n"
           "  -t, --tolerance=N      0 to 442: a pixel within this RGB distance of a listed\n"
           "                           colour counts as the nearest such colour, copper or\n"
           "                           background (default 0, exact colours only)\n"
           "  -b, --background=COLOUR  a colour never traced, written as for -c; it takes\n"
           "                           the pixels nearer to it away from the copper\n"
           "                           colours; repeatable\n"
           "  -s, --despeckle=N      drop copper regions smaller than N pixels and fill\n"
           "                           holes smaller than N pixels (default 0, off)\n"
           "  -r, --rule=RULE        colour (default): the nearest listed colour, as -t\n"
           "                           and -b say; board, for a real board's\n"
           "                           scan: a pixel is explained by the picked colours\n"
           "                           seen around it, alone or as a blend of two, and\n"
           "                           light print no wider than 0.4 mm across copper\n"
           "                           that goes on past it is copper\n"
           "  -H, --hole-color=COLOUR  what a drilled hole shows, written as for -c; a\n"
           "                           spot of it three pixels across or more is never\n"
           "                           traced (with -r colour a background colour);\n"
           "                           repeatable\n"
           "  -m, --mirror=h|v       mirror the picture horizontally or vertically first;\n"
           "                           repeatable, applied in the order given\n"
           "      --bottom=FILE      the board's other side, scanned as it lay on the glass\n"
           "                           (mirrored, turned, shifted): with INPUT as the top,\n"
           "                           the holes are found, the sides aligned on them and\n"
           "                           the copper put into nets; OUTPUT .kicad_pcb is a\n"
           "                           KiCad board, .gbrjob a Gerber job with its layers\n"
           "                           and drill files beside it (a board of INPUT alone\n"
           "                           without --bottom)\n"
           "      --bottom-color=COLOUR, --bottom-background=COLOUR,\n"
           "      --bottom-hole-color=COLOUR  the bottom's own -c, -b and -H lists, where\n"
           "                           its colours differ from the top's; repeatable\n"
           "      --align=X,Y=U,V    a top pixel and the same point on the bottom scan:\n"
           "                           three or more align the sides on these points\n"
           "                           instead of the holes\n"
           "      --list-colors      print every colour of the picture with its pixel\n"
           "                           count, in order of first appearance\n"
           "      --top=N            with --list-colors: the N most common colours, most\n"
           "                           common first, with their #RRGGBB form\n"
           "      --suggest          print the picture's main colours, most common first:\n"
           "                           #RRGGBB, its share and a pixel of it (8, or --top N)\n"
           "      --color-at=X,Y     print the colour of the pixel at column X, row Y\n"
           "                           (row 0 on top, as a viewer shows it)\n"
           "      --preview=FILE     write FILE, a PNG picture of what would be traced:\n"
           "                           each colour's matched pixels in that colour, every\n"
           "                           other pixel white; without OUTPUT nothing else is\n"
           "                           done, with OUTPUT the conversion follows\n"
           "  -q, --quiet            no progress bar, no note and no summary line\n"
           "  -h, --help             display this help and exit\n"
           "      --version          output version information and exit\n"
           "\n"
           "Output formats:\n"
           "  Every run of a colour becomes one straight track in mils, the Y axis pointing\n"
           "  up from the bottom edge of the picture. Every line ends in CR LF.\n"
           "\n"
           "  pcb    the line \"PCB FILE 4\", then for each track the line \"FT\" and the\n"
           "         line \"x1 y1 x2 y2 width layer 1\" (for example \"147 2593 153 2593\n"
           "         2 1 1\"), and last the lines \"1\" and \"ENDPCB\".\n"
           "  gerber RS-274X in mm with X2 attributes: all copper colours together as\n"
           "         regions covering exactly the matched pixels, the origin at the\n"
           "         picture's bottom-left corner; -w is ignored.\n"
           "  kicad  a KiCad 6 footprint named after OUTPUT, the copper as filled\n"
           "         polygons on the layer -l chooses; -w is ignored.\n"
           "  asc    six header lines starting \"!PADS-POWERPCB-V2.1-MILS!\", then for each\n"
           "         track a four-line item \"JTPOLY00000001 LINES x1 y1 1\", \"OPEN 2\n"
           "         width layer\", \"0 0\" and the end point relative to the start\n"
           "         (\"6 0\"), written in columns, and last the line\n"
           "         \"*END*     OF ASCII OUTPUT FILE\".\n"
           "\n"
           "Finding a colour:\n"
           "  Point at a copper pixel in any viewer and ask --color-at X,Y for its\n"
           "  colour, or let --list-colors --top 10 name the most common colours.\n"
           "  Every command sees a TIFF or JPEG picture turned or mirrored as its\n"
           "  Orientation tag (a JPEG's in its EXIF block) says, as viewers show it.\n"
           "\n"
           "Examples:\n"
           "  rastrace-cli --list-colors --top 5 board.bmp\n"
           "         the five most common colours of board.bmp\n"
           "  rastrace-cli --color-at 30,30 board.bmp\n"
           "         the colour of the pixel at column 30, row 30\n"
           "  rastrace-cli -c '#C48840' -x 150 -y 150 -w auto board.bmp board.pcb\n"
           "         one colour of a 150-dpi scan, as solid copper\n"
           "  rastrace-cli -c 4229316 -c 6333654 -x 150 -y 150 board.bmp board.asc\n"
           "         two colours into a PADS ASCII file\n"
           "\n"
           "Messages go to standard error, each line beginning \"rastrace-cli: \". Exit\n"
           "status: 0 when done, 1 when the conversion failed, 2 for a command line that\n"
           "cannot be used. A failed or interrupted conversion leaves no partial file\n"
           "and never touches an existing one.\n";
}

uint32_t ParseColorValue(const std::string& option, const std::string& text) {
    if (!text.empty() && text[0] == '#') {
        uint32_t rgb = 0;
        bool ok = text.size() == 7;
        for (size_t i = 1; ok && i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (!std::isxdigit(c)) {
                ok = false;
                break;
            }
            rgb = rgb << 4 | static_cast<uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        }
        if (!ok) throw UsageError{option + ": '" + text + "' is not a colour: write #RRGGBB with six hexadecimal digits"};
        // #RRGGBB to the packed 0x00BBGGRR: swap red and blue.
        return (rgb & 0x00FF00u) | (rgb >> 16 & 0xFFu) | (rgb & 0xFFu) << 16;
    }
    const int32_t value = ParseInteger(option, text);
    if (value < 0 || value > 0xFFFFFF) {
        throw UsageError{option + ": '" + text + "' is outside 0 to 0xFFFFFF and can never match a pixel"};
    }
    return static_cast<uint32_t>(value);
}

std::string HexColor(uint32_t packed) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", packed & 0xFFu, packed >> 8 & 0xFFu, packed >> 16 & 0xFFu);
    return text;
}

std::string RowPitchWidth(int32_t yres) {
    const int64_t dpi = yres < 0 ? -static_cast<int64_t>(yres) : yres;
    if (dpi == 0) return "0";
    return IntToStr((1000 + dpi - 1) / dpi);
}

namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() && EqualsIgnoringCase(text.substr(text.size() - ending.size()), ending);
}

}  // namespace

std::optional<AreaFormat> AreaFormatForOutput(const std::string& output) {
    if (EndsWithIgnoringCase(output, ".gbr")) return AreaFormat::Gerber;
    if (EndsWithIgnoringCase(output, ".kicad_mod")) return AreaFormat::KiCad;
    return std::nullopt;
}

OutputFormat FormatForOutput(const std::string& output) {
    if (output.size() >= 4 && EqualsIgnoringCase(output.substr(output.size() - 4), ".asc")) return OutputFormat::Asc;
    return OutputFormat::Pcb;
}

CliOptions ParseCommandLine(int argc, char** argv) {
    static const option kLongOptions[] = {
        {"color", required_argument, nullptr, 'c'},  {"xres", required_argument, nullptr, 'x'},
        {"yres", required_argument, nullptr, 'y'},   {"width", required_argument, nullptr, 'w'},
        {"layer", required_argument, nullptr, 'l'},  {"format", required_argument, nullptr, 'f'},
        {"mirror", required_argument, nullptr, 'm'}, {"list-colors", no_argument, nullptr, kListColors},
        {"top", required_argument, nullptr, kTop},   {"color-at", required_argument, nullptr, kColorAt},
        {"quiet", no_argument, nullptr, 'q'},        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion}, {"tolerance", required_argument, nullptr, 't'},
        {"background", required_argument, nullptr, 'b'}, {"despeckle", required_argument, nullptr, 's'},
        {"preview", required_argument, nullptr, kPreview},
        {"rule", required_argument, nullptr, 'r'}, {"hole-color", required_argument, nullptr, 'H'},
        {"suggest", no_argument, nullptr, kSuggest},
        {"bottom", required_argument, nullptr, kBottom}, {"bottom-color", required_argument, nullptr, kBottomColor},
        {"bottom-background", required_argument, nullptr, kBottomBackground},
        {"bottom-hole-color", required_argument, nullptr, kBottomHoleColor},
        {"align", required_argument, nullptr, kAlign},
        {nullptr, 0, nullptr, 0}};

    CliOptions options;
    std::vector<std::string> colorTexts, backgroundTexts, holeTexts;
    std::vector<std::string> bottomColorTexts, bottomBackgroundTexts, bottomHoleTexts, alignTexts;
    std::string toleranceText, despeckleText;
    std::string topText, colorAtText;
    optind = 0;   // getopt keeps its position in globals: start afresh on every call
    opterr = 0;   // we report errors ourselves
    for (;;) {
        const int c = getopt_long(argc, argv, ":c:x:y:w:l:f:m:t:b:s:r:H:qh", kLongOptions, nullptr);
        if (c == -1) break;
        const std::string value = optarg != nullptr ? optarg : "";
        switch (c) {
        case 'c': colorTexts.push_back(value); break;
        case 'x': options.xres = value; break;
        case 'y': options.yres = value; break;
        case 'w': options.width = value; break;
        case 'l':
            if (value.size() != 1 || value[0] < '0' || value[0] > '8') {
                throw UsageError{"-l: the layer must be a number from 0 to 8, not '" + value + "'"};
            }
            options.layer = value[0] - '0';
            break;
        case 'f':
            if (EqualsIgnoringCase(value, "pcb")) {
                options.format = OutputFormat::Pcb;
                options.areaFormat.reset();
            } else if (EqualsIgnoringCase(value, "asc")) {
                options.format = OutputFormat::Asc;
                options.areaFormat.reset();
            } else if (EqualsIgnoringCase(value, "gerber")) {
                options.areaFormat = AreaFormat::Gerber;
                options.format.reset();
            } else if (EqualsIgnoringCase(value, "kicad")) {
                options.areaFormat = AreaFormat::KiCad;
                options.format.reset();
            } else {
                throw UsageError{"-f: the format must be pcb, asc, gerber or kicad, not '" + value + "'"};
            }
            break;
        case 't': toleranceText = value; break;
        case 'b': backgroundTexts.push_back(value); break;
        case 's': despeckleText = value; break;
        case 'r':
            if (!ParseTraceRule(value, options.rule)) {
                throw UsageError{"-r: the rule must be colour or board, not '" + value + "'"};
            }
            break;
        case 'H': holeTexts.push_back(value); break;
        case kSuggest: options.suggest = true; break;
        case kBottom:
            if (value.empty()) throw UsageError{"--bottom: the file name is empty"};
            options.bottom = value;
            break;
        case kBottomColor: bottomColorTexts.push_back(value); break;
        case kBottomBackground: bottomBackgroundTexts.push_back(value); break;
        case kBottomHoleColor: bottomHoleTexts.push_back(value); break;
        case kAlign: alignTexts.push_back(value); break;
        case 'm':
            if (value != "h" && value != "v") throw UsageError{"-m: the mirror must be h or v, not '" + value + "'"};
            options.mirrors += value;
            break;
        case kListColors: options.listColors = true; break;
        case kTop: topText = value; options.top = 0; break;
        case kColorAt: colorAtText = value; options.colorAt = std::pair<int32_t, int32_t>{}; break;
        case kPreview:
            if (value.empty()) throw UsageError{"--preview: the file name is empty"};
            options.preview = value;
            break;
        case 'q': options.quiet = true; break;
        case 'h': options.help = true; break;
        case kVersion: options.version = true; break;
        case ':': throw UsageError{"option '" + std::string(argv[optind - 1]) + "' needs a value"};
        default:
            throw UsageError{"unknown option '" + (optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                                                : std::string(argv[optind - 1])) + "'"};
        }
    }
    if (options.help || options.version) return options;

    // The command line's shape first, then the values.
    const int left = argc - optind;
    if (options.listColors && options.colorAt) throw UsageError{"--list-colors and --color-at do not go together"};
    if (options.suggest && (options.listColors || options.colorAt || options.preview)) {
        throw UsageError{"--suggest goes alone with INPUT (and --top)"};
    }
    if (options.top && !options.listColors && !options.suggest) throw UsageError{"--top goes with --list-colors"};
    if ((options.listColors || options.colorAt) && options.preview) {
        throw UsageError{std::string(options.listColors ? "--list-colors" : "--color-at") +
                         " and --preview do not go together"};
    }
    if (options.preview && left == 1) {
        // The preview alone: no conversion, no OUTPUT.
        options.input = argv[optind];
        if (colorTexts.empty()) throw UsageError{"at least one colour is needed (-c COLOUR)"};
    } else if (options.listColors || options.colorAt || options.suggest) {
        const char* what = options.listColors ? "--list-colors" : options.suggest ? "--suggest" : "--color-at";
        if (left != 1) throw UsageError{std::string(what) + " takes one INPUT"};
        options.input = argv[optind];
    } else {
        if (left != 2) throw UsageError{left < 2 ? "INPUT and OUTPUT are needed" : "too many arguments"};
        options.input = argv[optind];
        options.output = argv[optind + 1];
        if (colorTexts.empty()) throw UsageError{"at least one colour is needed (-c COLOUR)"};
        // The last -f counts; without one, OUTPUT's extension decides.
        const bool formatGiven = options.format || options.areaFormat;
        if (!options.format && !options.areaFormat) options.areaFormat = AreaFormatForOutput(options.output);
        if (!options.format) options.format = FormatForOutput(options.output);
        // A board's extension wins over the track formats' default, never
        // over -f.
        if (!formatGiven) options.boardOutput = BoardFileKindFor(options.output);
    }
    if (!options.bottom) {
        const char* alone = !bottomColorTexts.empty()        ? "--bottom-color"
                            : !bottomBackgroundTexts.empty() ? "--bottom-background"
                            : !bottomHoleTexts.empty()       ? "--bottom-hole-color"
                            : !alignTexts.empty()            ? "--align"
                                                             : nullptr;
        if (alone != nullptr) throw UsageError{std::string(alone) + " goes with --bottom"};
    } else {
        if (options.listColors || options.colorAt || options.suggest || (options.preview && left == 1)) {
            throw UsageError{"--bottom goes with INPUT and a board OUTPUT"};
        }
        if (!options.boardOutput) {
            throw UsageError{"--bottom: OUTPUT must be a board, ending in .kicad_pcb or .gbrjob"};
        }
        if (!alignTexts.empty() && alignTexts.size() < 3) {
            throw UsageError{"--align: at least three point pairs are needed, not " + std::to_string(alignTexts.size())};
        }
    }
    if (options.boardOutput && options.preview) throw UsageError{"--preview does not go with a board OUTPUT"};
    for (const std::string& text : alignTexts) {
        const size_t equals = text.find('=');
        int64_t v[4] = {0, 0, 0, 0};
        bool ok = equals != std::string::npos;
        if (ok) {
            const std::string halves[2] = {text.substr(0, equals), text.substr(equals + 1)};
            for (int h = 0; h < 2 && ok; ++h) {
                const size_t comma = halves[h].find(',');
                ok = comma != std::string::npos && ParseCount(halves[h].substr(0, comma), INT32_MAX, v[2 * h]) &&
                     ParseCount(halves[h].substr(comma + 1), INT32_MAX, v[2 * h + 1]);
            }
        }
        if (!ok) {
            throw UsageError{"--align: '" + text + "' is not a point pair X,Y=U,V (a top pixel, then the bottom's)"};
        }
        options.align.push_back({{static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1])},
                                 {static_cast<int32_t>(v[2]), static_cast<int32_t>(v[3])}});
    }
    if (options.top) {
        int64_t n = 0;
        if (!ParseCount(topText, INT64_MAX / 2, n) || n == 0) {
            throw UsageError{"--top: '" + topText + "' is not a number of colours (1 or more)"};
        }
        options.top = n;
    }
    if (options.colorAt) {
        const size_t comma = colorAtText.find(',');
        int64_t x = 0, y = 0;
        if (comma == std::string::npos || !ParseCount(colorAtText.substr(0, comma), INT32_MAX, x) ||
            !ParseCount(colorAtText.substr(comma + 1), INT32_MAX, y)) {
            throw UsageError{"--color-at: '" + colorAtText + "' is not a pixel position X,Y"};
        }
        options.colorAt = std::pair<int32_t, int32_t>{static_cast<int32_t>(x), static_cast<int32_t>(y)};
    }
    if (!toleranceText.empty()) {
        int64_t t = 0;
        if (!ParseCount(toleranceText, kMaxTolerance, t)) {
            throw UsageError{"-t: the tolerance must be a number from 0 to " + std::to_string(kMaxTolerance) +
                             ", not '" + toleranceText + "'"};
        }
        options.tolerance = static_cast<int32_t>(t);
    }
    if (!despeckleText.empty()) {
        int64_t n = 0;
        if (!ParseCount(despeckleText, INT32_MAX, n)) {
            throw UsageError{"-s: the speckle size must be a whole number of pixels, 0 or more, not '" +
                             despeckleText + "'"};
        }
        options.despeckle = static_cast<int32_t>(n);
    }
    if (HoldsControlCharacter(options.width)) {
        throw UsageError{"-w: the width may not hold a control character (such as a line break or a tab)"};
    }
    options.widthAuto = options.width == "auto";

    // Values the system's own integer parser refuses.
    std::unordered_set<uint32_t> seen;
    for (const std::string& text : colorTexts) {
        const uint32_t value = ParseColorValue("-c", text);
        // The same colour given twice (255, $FF, 0xFF, #FF0000) is traced once.
        if (seen.insert(value).second) options.colors.push_back({text, value});
    }
    seen.clear();
    for (const std::string& text : backgroundTexts) {
        const uint32_t value = ParseColorValue("-b", text);
        if (seen.insert(value).second) options.backgrounds.push_back({text, value});
    }
    seen.clear();
    for (const std::string& text : holeTexts) {
        const uint32_t value = ParseColorValue("-H", text);
        if (seen.insert(value).second) options.holes.push_back({text, value});
    }
    const std::pair<const char*, std::pair<std::vector<std::string>*, std::vector<ColorOption>*>> bottomLists[] = {
        {"--bottom-color", {&bottomColorTexts, &options.bottomColors}},
        {"--bottom-background", {&bottomBackgroundTexts, &options.bottomBackgrounds}},
        {"--bottom-hole-color", {&bottomHoleTexts, &options.bottomHoles}}};
    for (const auto& [option, lists] : bottomLists) {
        seen.clear();
        for (const std::string& text : *lists.first) {
            const uint32_t value = ParseColorValue(option, text);
            if (seen.insert(value).second) lists.second->push_back({text, value});
        }
    }
    if (!options.listColors && !options.colorAt && !options.suggest) {
        options.xresAuto = options.xres == "auto";
        options.yresAuto = options.yres == "auto";
        if (!options.xresAuto) options.xresValue = ParseInteger("-x", options.xres);
        if (!options.yresAuto) options.yresValue = ParseInteger("-y", options.yres);
    }
    return options;
}

}  // namespace rastrace::cli
