// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry for rastrace-cli's option parser: the input is the list
// of arguments after the program name, separated by zero bytes (which no
// argument can hold). Any list must either parse or raise a UsageError with
// a message; a crash or any other exception is a finding.
#include "cli/CliOptions.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// More arguments than this add nothing a shorter list does not reach.
constexpr size_t kMaxArguments = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"rastrace-cli"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < kMaxArguments; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() && args.size() < kMaxArguments) args.push_back(current);

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    try {
        const rastrace::cli::CliOptions options =
            rastrace::cli::ParseCommandLine(static_cast<int>(args.size()), argv.data());
        (void)rastrace::cli::FormatForOutput(options.output);
    } catch (const rastrace::cli::UsageError& e) {
        if (e.message.empty()) std::abort();
    } catch (const rastrace::cli::OptionValueError& e) {
        // A value the program reports with its option's name (exit 1).
        if (e.option.empty() || e.message.empty()) std::abort();
    }
    return 0;
}
