// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry for the settings file's INI text: any bytes must read and
// write without a crash, and a write must do what it promises: the written
// key reads back as written, and every other key reads as before.
#include "settings/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kSection = "CONFIG";
constexpr std::string_view kKeys[] = {"XRES", "YRES", "LAYER", "MIL"};

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<std::string> before[std::size(kKeys)];
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        before[i] = rastrace::ReadIniValue(text, kSection, kKeys[i]);
        Require(!before[i] || before[i]->size() <= rastrace::kIniValueMaxLength);
    }
    // A key of a section no text names, too: the write appends the section.
    (void)rastrace::ReadIniValue(text, "OTHER", "KEY");

    // Each key in turn: the first one written, the others unchanged.
    for (size_t k = 0; k < std::size(kKeys); ++k) {
        const std::string written = rastrace::WriteIniValue(text, kSection, kKeys[k], "1234");
        for (size_t i = 0; i < std::size(kKeys); ++i) {
            const std::optional<std::string> now = rastrace::ReadIniValue(written, kSection, kKeys[i]);
            Require(i == k ? now == std::optional<std::string>("1234") : now == before[i]);
        }
    }
    return 0;
}
