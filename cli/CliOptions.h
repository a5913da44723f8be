// The command line of rastrace-cli: what the user asked for, parsed with
// getopt_long. Parsing does not touch any file.
#pragma once

#include "formats/Formats.h"

#include <optional>
#include <string>
#include <vector>

namespace rastrace::cli {

struct CliOptions {
    std::vector<std::string> colors;   // as typed; integer text
    std::string xres = "600";
    std::string yres = "600";
    std::string width = "2";
    int layer = 1;
    std::optional<OutputFormat> format;  // unset: from OUTPUT's extension
    std::string mirrors;                 // 'h' and 'v' in the order given
    bool listColors = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string input;
    std::string output;
};

// Thrown for a command line that cannot be used; main prints the message
// and the usage text and exits with status 2.
struct UsageError {
    std::string message;
};

// Parses argv. Throws UsageError.
CliOptions ParseCommandLine(int argc, char** argv);

// The format an OUTPUT name implies: ASC when it ends in ".asc" in any
// letter case, PCB otherwise.
OutputFormat FormatForOutput(const std::string& output);

std::string UsageText();

}  // namespace rastrace::cli
