// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Settings.h"

#include "common/Error.h"
#include "common/FileHandle.h"
#include "common/IntText.h"
#include "common/ReplacementFile.h"
#include "settings/IniFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rastrace {

namespace {

constexpr std::string_view kSection = "CONFIG";
constexpr std::string_view kFileName = "set.ini";

std::string UnableToWrite(const std::string& path) { return "Unable to write to " + path; }

enum class ReadOutcome { Read, Missing, Failed };

// Reads the whole regular file at path into text. Missing means there is no
// file (or no folder); Failed means something is there that cannot be read.
ReadOutcome ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    const FileHandle file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return ReadOutcome::Failed;

    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return ReadOutcome::Read;
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadOutcome::Failed;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

// Replaces the file at path with text as one step, flushed to disk before
// the rename, so a crash or a full disk leaves either the old file or the
// new one, never a part of either. Errors name path, the file the user knows.
void ReplaceFile(const std::string& path, const std::string& text) {
    ReplacementFile file;
    if (!file.Create(path) || WriteAll(file.Descriptor(), text) != 0 || !file.Commit()) {
        throw Error(UnableToWrite(path));
    }
}

}  // namespace

// An executable path that cannot be found (no /proc) gives the empty path:
// loading it gives the defaults and saving it fails with "Unable to write
// to ", rather than falling back on the working directory.
std::string SettingsFilePath() {
    std::string exe(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < exe.size()) {
            exe.resize(static_cast<size_t>(n));
            break;
        }
        exe.resize(exe.size() * 2);  // possibly cut short: try a larger buffer
    }
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return std::string();
    exe.resize(slash + 1);
    exe.append(kFileName);
    return exe;
}

SettingsValues LoadSettings(const std::string& path) {
    SettingsValues values;
    std::string text;
    if (ReadWholeFile(path, text) != ReadOutcome::Read) return values;  // counts as missing

    if (auto v = ReadIniValue(text, kSection, "XRES")) values.xres = std::move(*v);
    if (auto v = ReadIniValue(text, kSection, "YRES")) values.yres = std::move(*v);
    if (auto v = ReadIniValue(text, kSection, "MIL")) values.mil = std::move(*v);
    // An integer key reads as text with an empty default, then parses.
    values.layer = StrToIntDef(ReadIniValue(text, kSection, "LAYER").value_or(std::string()), 0);
    values.tolerance = StrToIntDef(ReadIniValue(text, kSection, "TOLERANCE").value_or(std::string()), 0);
    values.despeckle = StrToIntDef(ReadIniValue(text, kSection, "DESPECKLE").value_or(std::string()), 0);
    values.overlay = StrToIntDef(ReadIniValue(text, kSection, "OVERLAY").value_or(std::string()), 0) != 0;
    if (auto v = ReadIniValue(text, kSection, "LANGUAGE")) values.language = std::move(*v);
    values.boardRule = ReadIniValue(text, kSection, "RULE").value_or(std::string()) == "board";
    values.bottomTolerance = StrToIntDef(ReadIniValue(text, kSection, "BOTTOMTOLERANCE").value_or(std::string()), 0);
    values.bottomDespeckle = StrToIntDef(ReadIniValue(text, kSection, "BOTTOMDESPECKLE").value_or(std::string()), 0);
    return values;
}

void SaveSettings(const std::string& path, const SettingsValues& values) {
    std::string text;
    switch (ReadWholeFile(path, text)) {
    case ReadOutcome::Missing:
        text.clear();
        break;
    case ReadOutcome::Failed:
        // Replacing a file whose content could not be read would lose the
        // user's other sections.
        throw Error(UnableToWrite(path));
    case ReadOutcome::Read:
        // A set.ini the user made read-only stays unchanged, as it would
        // when written in place: the replacement refuses it.
        break;
    }

    text = WriteIniValue(text, kSection, "XRES", values.xres);
    text = WriteIniValue(text, kSection, "YRES", values.yres);
    text = WriteIniValue(text, kSection, "LAYER", IntToStr(values.layer));
    text = WriteIniValue(text, kSection, "MIL", values.mil);
    // The keys of later versions: a default is written only over a value
    // already there, so the file stays as a first start leaves it.
    const auto writeOptional = [&text](std::string_view key, int32_t value, int32_t fallback) {
        if (value != fallback || ReadIniValue(text, kSection, key)) {
            text = WriteIniValue(text, kSection, key, IntToStr(value));
        }
    };
    writeOptional("TOLERANCE", values.tolerance, 0);
    writeOptional("DESPECKLE", values.despeckle, 0);
    writeOptional("OVERLAY", values.overlay ? 1 : 0, 0);
    if (!values.language.empty() || ReadIniValue(text, kSection, "LANGUAGE")) {
        text = WriteIniValue(text, kSection, "LANGUAGE", values.language);
    }
    if (values.boardRule || ReadIniValue(text, kSection, "RULE")) {
        text = WriteIniValue(text, kSection, "RULE", values.boardRule ? "board" : "colour");
    }
    writeOptional("BOTTOMTOLERANCE", values.bottomTolerance, 0);
    writeOptional("BOTTOMDESPECKLE", values.bottomDespeckle, 0);
    ReplaceFile(path, text);
}

// ---- Where the file lives --------------------------------------------------

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes every missing folder above path, private to the user as the
// base-directory rules ask for a configuration folder. Failures are left to
// the write that follows, which then names the file.
void MakeFoldersAbove(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        (void)::mkdir(path.substr(0, slash).c_str(), 0700);
    }
}

}  // namespace

std::string UserSettingsFilePath(const char* xdgConfigHome, const char* home) {
    std::string base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;
    } else if (home != nullptr && home[0] == '/') {
        base = std::string(home) + (home[1] == '\0' ? "" : "/") + ".config";
    } else {
        return std::string();
    }
    if (base.back() != '/') base += '/';
    return base + "rastrace/" + std::string(kFileName);
}

SettingsLocation ChooseSettingsLocation(const std::string& besideExecutable, const std::string& userFile,
                                        const std::function<bool(const std::string& folder)>& folderWritable) {
    // An unknown executable path stays as it was: nothing to read, and a
    // write that fails with the empty path.
    if (besideExecutable.empty() || userFile.empty() || folderWritable(FolderOf(besideExecutable))) {
        return SettingsLocation(besideExecutable);
    }
    return SettingsLocation(userFile, besideExecutable, true);
}

SettingsLocation DefaultSettingsLocation() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    return ChooseSettingsLocation(SettingsFilePath(), UserSettingsFilePath(std::getenv("XDG_CONFIG_HOME"), home),
                                  [](const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; });
}

SettingsValues LoadSettings(const SettingsLocation& location) {
    // A file under something that is not a folder cannot exist either.
    struct stat st {};
    if (!location.fallback.empty() && ::stat(location.file.c_str(), &st) != 0 &&
        (errno == ENOENT || errno == ENOTDIR)) {
        return LoadSettings(location.fallback);
    }
    return LoadSettings(location.file);
}

void SaveSettings(const SettingsLocation& location, const SettingsValues& values) {
    if (location.makeFolder) MakeFoldersAbove(location.file);
    SaveSettings(location.file, values);
}

void SaveLanguage(const SettingsLocation& location, const std::string& language) {
    std::string text;
    switch (ReadWholeFile(location.file, text)) {
    case ReadOutcome::Missing:
        // The defaults the user sees now come from the fallback: the new
        // file keeps them, or they would be lost with the first write.
        text.clear();
        if (!location.fallback.empty() && ReadWholeFile(location.fallback, text) != ReadOutcome::Read) text.clear();
        break;
    case ReadOutcome::Failed:
        throw Error(UnableToWrite(location.file));
    case ReadOutcome::Read:
        break;
    }
    if (location.makeFolder) MakeFoldersAbove(location.file);
    ReplaceFile(location.file, WriteIniValue(text, kSection, "LANGUAGE", language));
}

}  // namespace rastrace
