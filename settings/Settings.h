// The settings file set.ini beside the executable: section CONFIG with the
// keys XRES, YRES, MIL (texts, passed through unchanged) and LAYER (the
// layer box's position, integer text, -1 for none). Read once when the
// main window is created, written once when it is destroyed.
#pragma once

#include <cstdint>
#include <string>

namespace rastrace {

struct SettingsValues {
    std::string xres = "600";
    std::string yres = "600";
    std::string mil = "2";
    int32_t layer = 0;  // layer box position 0..7; anything else selects none
};

// The executable's folder (with its final "/") followed by "set.ini".
std::string SettingsFilePath();

// Reads the four values; a missing or unreadable file, section or key gives
// the default. Never throws.
SettingsValues LoadSettings(const std::string& path);

// Writes XRES, YRES, LAYER and MIL in that order, keeping everything else in
// the file. Throws Error("Unable to write to <path>") when the file cannot
// be written; the previous file is then left as it was.
void SaveSettings(const std::string& path, const SettingsValues& values);

}  // namespace rastrace
