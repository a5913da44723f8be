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
    // Real scans. Kept under keys of their own (TOLERANCE, DESPECKLE,
    // OVERLAY), written only when they differ from these defaults or are in
    // the file already, so a first start writes just the four keys above.
    int32_t tolerance = 0;  // 0..442
    int32_t despeckle = 0;  // speckle size in pixels, 0 = off
    bool overlay = false;   // the window's match overlay
};

// The executable's folder (with its final "/") followed by "set.ini".
std::string SettingsFilePath();

// Reads the four values; a missing or unreadable file, section or key gives
// the default. Never throws.
SettingsValues LoadSettings(const std::string& path);

// Writes XRES, YRES, LAYER and MIL in that order, then TOLERANCE, DESPECKLE
// and OVERLAY where they differ from their defaults or are present already,
// keeping everything else in the file. Throws Error("Unable to write to <path>") when the file cannot
// be written; the previous file is then left as it was.
void SaveSettings(const std::string& path, const SettingsValues& values);

}  // namespace rastrace
