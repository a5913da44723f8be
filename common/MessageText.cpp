// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/MessageText.h"

#include <cstring>

namespace rastrace {

std::string ShownText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
        return message + ".";
    }
    return message;
}

std::string TrimSystemText(std::string text) {
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.back());
        if (c <= ' ' || c == '.' || c == 0x7F) {
            text.pop_back();
        } else {
            break;
        }
    }
    return text;
}

std::string SystemErrorText(int code) {
    char buffer[256];
    buffer[0] = '\0';
    // GNU strerror_r may return a static string instead of filling buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = strerror_r(code, buffer, sizeof buffer);
#else
    const char* text = strerror_r(code, buffer, sizeof buffer) == 0 ? buffer : "Unknown error";
#endif
    return TrimSystemText(text);
}

}  // namespace rastrace
