// SPDX-License-Identifier: GPL-3.0-or-later
// The one exception type of Rastrace. Every failure the user may see is an
// Error whose message is the system's own text; it is caught only at the
// edges (the window's handler wrapper, the command line's main).
#pragma once

#include <stdexcept>
#include <string>

namespace rastrace {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised by "Out of memory" paths: a size that cannot be held, or an
// allocation that failed.
[[noreturn]] void ThrowOutOfMemory();

}  // namespace rastrace
