// SPDX-License-Identifier: GPL-3.0-or-later
// INI text read and written the way the Windows profile-string functions
// treat it, as pure functions on the file's bytes (no I/O, no encoding).
// The one fact a caller must know: a write changes only the one line of the
// key it names (or adds a line, or a section at the end); every other byte of
// the text comes back unchanged, so foreign sections, keys and comments
// survive.
//
// How the text is understood:
// - Lines end in LF, optionally preceded by CR; the last line may lack one.
// - A section header is a line whose first non-blank byte is "[" and which
//   holds a "]"; its name is what lies between "[" and the first "]", blanks
//   around it ignored. Text after the "]" is ignored.
// - A comment line starts (after blanks) with ";"; it is never a key.
// - A key line is any other line holding "="; its name is the text before
//   the first "=", its value the text after it, both with surrounding blanks
//   (space, tab, CR, VT, FF) removed. Lines with no "=" are kept but ignored.
// - Section and key names compare without regard to ASCII letter case.
// - Keys before the first section header belong to no section.
// - Where a section or key appears twice, the first one wins for both
//   reading and writing; later ones are never looked at.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace rastrace {

// The most characters a read value keeps: the platform reads values into a
// 2048-byte buffer that also holds the terminating zero.
inline constexpr size_t kIniValueMaxLength = 2047;

// The value of key in section, or nothing when the section or the key is
// missing (the caller then uses its default). A key present with an empty
// value gives the empty text. One pair of double quotes enclosing the whole
// trimmed value (at least two characters, first and last both '"') is
// removed, as the platform's read does; blanks inside the quotes are kept.
// The result is then cut to its first kIniValueMaxLength characters.
std::optional<std::string> ReadIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// text with key in section set to value, which is written as given (no
// trimming, quoting or checking).
// - Key present (first match in the first matching section): its line is
//   rewritten as the line's original indentation and key spelling, "=",
//   value and CR LF; blanks around the "=" are dropped.
// - Key missing: the line key=value CR LF is inserted after the last
//   non-blank line of the section (so blank lines that separate it from the
//   next section stay where they are).
// - Section missing: the lines [section] CR LF and key=value CR LF are
//   appended at the end of the text.
// A last line without a line ending gets CR LF before anything is added
// after it.
std::string WriteIniValue(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value);

}  // namespace rastrace
