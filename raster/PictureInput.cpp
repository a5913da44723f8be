// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/PictureInput.h"

#include "common/Error.h"
#include "common/MessageText.h"
#include "raster/Raster.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

namespace rastrace {

size_t MemoryInput::ReadAt(uint64_t pos, uint8_t* dst, size_t n) noexcept {
    if (pos >= bytes_.size()) return 0;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - pos));
    std::memcpy(dst, bytes_.data() + pos, count);
    return count;
}

size_t FileInput::ReadAt(uint64_t pos, uint8_t* dst, size_t n) noexcept {
    size_t done = 0;
    while (done < n) {
        if (pos + done > static_cast<uint64_t>(INT64_MAX)) break;
        const ssize_t got = ::pread(fd_, dst + done, n - done, static_cast<off_t>(pos + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

void ThrowCannotRead(const char* kind, const std::string& reason) {
    // One line: the libraries' line breaks, tabs and runs of blanks become
    // single blanks.
    std::string line;
    for (const char c : reason) {
        const bool blank = static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
        if (!blank) {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    std::string text = TrimSystemText(line);
    if (text.empty()) text = "unknown error";
    // Shown messages gain their full stop only after a byte above '.'; a
    // reason ending in ")" or a quote gets it here, so every one ends in one.
    if (static_cast<unsigned char>(text.back()) <= '.') text += '.';
    throw Error(std::string("Cannot read ") + kind + " file: " + text);
}

void ThrowTooLittleData(const char* kind, uint64_t width, uint64_t height) {
    ThrowCannotRead(kind, "too little image data for a picture of " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels");
}

void CheckBufferSize(uint64_t bytes, uint64_t limit) {
    if (bytes > limit || bytes > SIZE_MAX / 2) ThrowOutOfMemory();
}

}  // namespace rastrace
