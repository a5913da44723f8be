// SPDX-License-Identifier: GPL-3.0-or-later
// How messages reach the user: the full-stop rule of the error boxes and the
// command line, and the trimming of the system's own error texts.
#pragma once

#include <string>

namespace rastrace {

// The text an error box shows for a message: "." is appended when the
// message is not empty and its last byte compares greater than "." as an
// unsigned byte (so nothing after ".", "!", ")", ",", "-", a quote or a
// blank, and always after a byte of a multi-byte character).
std::string ShownText(const std::string& message);

// A system error text with its trailing blanks, control characters and full
// stops removed, as it is embedded in the system's messages.
std::string TrimSystemText(std::string text);

// The system's text for errno value code, trimmed (strerror, thread-safe).
std::string SystemErrorText(int code);

}  // namespace rastrace
