#include "cli/CliOptions.h"

#include <getopt.h>

#include <cctype>

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

enum LongOnly { kListColors = 256, kVersion };

}  // namespace

std::string UsageText() {
    return "Usage: rastrace-cli [options] INPUT OUTPUT\n"
           "       rastrace-cli --list-colors INPUT\n"
           "Converts every horizontal run of the given colours in the BMP picture INPUT\n"
           "into a track of a PCB (\"PCB FILE 4\") or PADS ASCII file OUTPUT (\"-\": standard output).\n"
           "\n"
           "  -c, --color VALUE    colour to trace, packed 0x00BBGGRR (255, $FF and 0xFF are pure red);\n"
           "                       repeat for several colours; at least one\n"
           "  -x, --xres DPI       horizontal scan resolution (default 600)\n"
           "  -y, --yres DPI       vertical scan resolution (default 600)\n"
           "  -w, --width TEXT     track width in mil, written as given (default 2)\n"
           "  -l, --layer N        layer number 0 to 8 (default 1, Top Layer)\n"
           "  -f, --format FMT     pcb or asc (default: asc when OUTPUT ends in .asc, else pcb)\n"
           "  -m, --mirror h|v     mirror the picture horizontally or vertically first; repeatable\n"
           "      --list-colors    print every colour of the picture with its pixel count\n"
           "  -q, --quiet          no progress bar\n"
           "  -h, --help           this text\n"
           "      --version        the program's version\n";
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
        {"quiet", no_argument, nullptr, 'q'},        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion}, {nullptr, 0, nullptr, 0}};

    CliOptions options;
    optind = 0;   // getopt keeps its position in globals: start afresh on every call
    opterr = 0;   // we report errors ourselves
    for (;;) {
        const int c = getopt_long(argc, argv, "+:c:x:y:w:l:f:m:qh", kLongOptions, nullptr);
        if (c == -1) break;
        const std::string value = optarg != nullptr ? optarg : "";
        switch (c) {
        case 'c': options.colors.push_back(value); break;
        case 'x': options.xres = value; break;
        case 'y': options.yres = value; break;
        case 'w': options.width = value; break;
        case 'l':
            if (value.size() != 1 || value[0] < '0' || value[0] > '8') {
                throw UsageError{"the layer must be a number from 0 to 8, not '" + value + "'"};
            }
            options.layer = value[0] - '0';
            break;
        case 'f':
            if (EqualsIgnoringCase(value, "pcb")) {
                options.format = OutputFormat::Pcb;
            } else if (EqualsIgnoringCase(value, "asc")) {
                options.format = OutputFormat::Asc;
            } else {
                throw UsageError{"the format must be pcb or asc, not '" + value + "'"};
            }
            break;
        case 'm':
            if (value != "h" && value != "v") throw UsageError{"the mirror must be h or v, not '" + value + "'"};
            options.mirrors += value;
            break;
        case kListColors: options.listColors = true; break;
        case 'q': options.quiet = true; break;
        case 'h': options.help = true; break;
        case kVersion: options.version = true; break;
        case ':': throw UsageError{"option " + std::string(argv[optind - 1]) + " needs a value"};
        default:
            throw UsageError{"unknown option " + (optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                                               : std::string(argv[optind - 1]))};
        }
    }
    if (options.help || options.version) return options;

    const int left = argc - optind;
    if (options.listColors) {
        if (left != 1) throw UsageError{"--list-colors takes one INPUT"};
        options.input = argv[optind];
        return options;
    }
    if (left != 2) throw UsageError{left < 2 ? "INPUT and OUTPUT are needed" : "too many arguments"};
    options.input = argv[optind];
    options.output = argv[optind + 1];
    if (options.colors.empty()) throw UsageError{"at least one colour is needed (-c VALUE)"};
    if (!options.format) options.format = FormatForOutput(options.output);
    return options;
}

}  // namespace rastrace::cli
