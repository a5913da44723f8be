// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file set.ini: section CONFIG with the keys XRES, YRES, MIL
// (texts, passed through unchanged) and LAYER (the layer box's position,
// integer text, -1 for none). Read once when the main window is created,
// written once when it is destroyed.
//
// The file lives beside the executable, so a portable copy keeps its own
// settings. Where that folder is not writable (a system-wide install in
// /usr/bin), it lives in the user's configuration folder instead, and the
// set.ini beside the executable, when there is one, serves as the default
// until the user's file exists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

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
    // The window's language as the user chose it in the about box: "en" or
    // "zh" (LANGUAGE); empty while none was chosen, and then never written.
    // Any other text read is kept as it is and means no choice.
    std::string language{};
    bool boardRule = false; // the board rule instead of the colour rule
    // A whole board's bottom side (BOTTOMTOLERANCE, BOTTOMDESPECKLE),
    // written only when not 0 or present already.
    int32_t bottomTolerance = 0;
    int32_t bottomDespeckle = 0;
};

// The executable's folder (with its final "/") followed by "set.ini".
std::string SettingsFilePath();

// Where the settings are read and written.
struct SettingsLocation {
    // One file for both, used as given (a path chosen by the caller).
    SettingsLocation(std::string path) : file(std::move(path)) {}  // NOLINT(google-explicit-constructor)
    SettingsLocation(std::string file, std::string fallback, bool makeFolder)
        : file(std::move(file)), fallback(std::move(fallback)), makeFolder(makeFolder) {}

    std::string file;      // read when it exists; always the one written
    std::string fallback;  // read instead while file does not exist; empty for none
    bool makeFolder = false;  // make file's missing folders before writing
};

// $XDG_CONFIG_HOME/rastrace/set.ini, or home/.config/rastrace/set.ini when
// xdgConfigHome is null, empty or relative (the base-directory rules ignore
// a relative one). Empty when neither gives an absolute folder.
std::string UserSettingsFilePath(const char* xdgConfigHome, const char* home);

// besideExecutable when its folder is writable (or when there is no user
// file to turn to); otherwise userFile, made with its folder at the first
// write, with besideExecutable as the default to read until then.
SettingsLocation ChooseSettingsLocation(const std::string& besideExecutable, const std::string& userFile,
                                        const std::function<bool(const std::string& folder)>& folderWritable);

// ChooseSettingsLocation for this process: SettingsFilePath(), the user's
// file from the environment (HOME falling back on the password database),
// and the folder's write permission for this user.
SettingsLocation DefaultSettingsLocation();

// Reads the four values; a missing or unreadable file, section or key gives
// the default. Never throws.
SettingsValues LoadSettings(const std::string& path);
// Reads location.file, or location.fallback while file does not exist.
SettingsValues LoadSettings(const SettingsLocation& location);

// Writes XRES, YRES, LAYER and MIL in that order, then TOLERANCE, DESPECKLE
// and OVERLAY where they differ from their defaults or are present already,
// and LANGUAGE where it is not empty or is present already,
// keeping everything else in the file. Throws Error("Unable to write to <path>") when the file cannot
// be written; the previous file is then left as it was.
void SaveSettings(const std::string& path, const SettingsValues& values);
// Writes location.file, making its folders first where location says so.
void SaveSettings(const SettingsLocation& location, const SettingsValues& values);

// Sets LANGUAGE to language in location.file at once and changes nothing
// else in it; while that file does not exist, it starts as a copy of
// location.fallback (when there is one), whose values it then keeps.
// Throws Error("Unable to write to <path>") as SaveSettings does.
void SaveLanguage(const SettingsLocation& location, const std::string& language);

}  // namespace rastrace
