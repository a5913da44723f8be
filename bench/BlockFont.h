// SPDX-License-Identifier: GPL-3.0-or-later
// A 5 x 7 block font for the generated boards' designators and titles: each
// glyph is seven rows of five cells, '#' printed.
#pragma once

namespace rastrace::bench {

struct Glyph {
    char c;
    const char* rows[7];
};

// The glyph of c (capital letters, digits, '+', '-', '.'), or nullptr.
const Glyph* FindGlyph(char c);

}  // namespace rastrace::bench
