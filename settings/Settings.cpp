#include "settings/Settings.h"

#include "common/Error.h"
#include "common/FileHandle.h"
#include "common/IntText.h"
#include "common/ReplacementFile.h"
#include "settings/IniFile.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
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
    ReplaceFile(path, text);
}

}  // namespace rastrace
