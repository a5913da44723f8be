// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/IniFile.h"

namespace rastrace {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

enum class LineKind { Other, Section, Key };

// One line of the text: where it starts, where its content ends (before the
// LF) and where the next line starts, plus what it is.
struct IniLine {
    size_t begin = 0;
    size_t contentEnd = 0;
    size_t next = 0;
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed
    size_t nameEnd = 0;      // offset just after the key name as spelled
    bool blank = false;
};

IniLine ParseLine(std::string_view text, size_t begin) {
    IniLine line;
    line.begin = begin;
    const size_t lf = text.find('\n', begin);
    line.contentEnd = lf == std::string_view::npos ? text.size() : lf;
    line.next = lf == std::string_view::npos ? text.size() : lf + 1;

    const std::string_view content = text.substr(begin, line.contentEnd - begin);
    const std::string_view trimmed = Trim(content);
    line.blank = trimmed.empty();
    if (trimmed.empty() || trimmed.front() == ';') return line;

    if (trimmed.front() == '[') {
        const size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = Trim(trimmed.substr(1, close - 1));
            return line;
        }
        // A "[" without "]" is no header; it may still be a key line.
    }

    const size_t eq = content.find('=');
    if (eq == std::string_view::npos) return line;
    line.kind = LineKind::Key;
    std::string_view rawName = content.substr(0, eq);
    while (!rawName.empty() && IsBlank(rawName.back())) rawName.remove_suffix(1);
    line.nameEnd = begin + rawName.size();
    line.name = Trim(rawName);
    line.value = Trim(content.substr(eq + 1));
    return line;
}

// Calls visit(line) for each line in order until it returns false.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    for (size_t pos = 0; pos < text.size();) {
        const IniLine line = ParseLine(text, pos);
        if (!visit(line)) return;
        pos = line.next;
    }
}

// Appends piece at offset at of text, giving text a line end first when the
// line ending at `at` has none (only possible at the end of the text).
void InsertLines(std::string& out, std::string_view text, size_t at, std::string_view piece) {
    out.append(text.substr(0, at));
    if (at > 0 && text[at - 1] != '\n') out.append(kLineEnd);
    out.append(piece);
    out.append(text.substr(at));
}

}  // namespace

std::optional<std::string> ReadIniValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
    bool inside = false;
    std::optional<std::string> result;
    ForEachLine(text, [&](const IniLine& line) {
        if (line.kind == LineKind::Section) {
            if (inside) return false;  // only the first matching section counts
            inside = SameName(line.name, section);
            return true;
        }
        if (!inside || line.kind != LineKind::Key || !SameName(line.name, key)) {
            return true;
        }
        std::string_view value = line.value;
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        result.emplace(value.substr(0, kIniValueMaxLength));
        return false;
    });
    return result;
}

std::string WriteIniValue(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value) {
    bool inside = false;
    bool sectionFound = false;
    bool replaced = false;
    size_t insertAt = 0;  // after the last non-blank line of the section
    std::string out;
    out.reserve(text.size() + section.size() + key.size() + value.size() + 8);

    ForEachLine(text, [&](const IniLine& line) {
        if (line.kind == LineKind::Section) {
            if (inside) return false;  // the section ends here without the key
            if (SameName(line.name, section)) {
                inside = true;
                sectionFound = true;
                insertAt = line.next;
            }
            return true;
        }
        if (!inside) return true;
        if (line.kind == LineKind::Key && SameName(line.name, key)) {
            out.append(text.substr(0, line.nameEnd));
            out += '=';
            out.append(value);
            out.append(kLineEnd);
            out.append(text.substr(line.next));
            replaced = true;
            return false;
        }
        if (!line.blank) insertAt = line.next;
        return true;
    });
    if (replaced) return out;

    std::string piece;
    if (!sectionFound) {
        piece += '[';
        piece.append(section);
        piece += ']';
        piece.append(kLineEnd);
        insertAt = text.size();
    }
    piece.append(key);
    piece += '=';
    piece.append(value);
    piece.append(kLineEnd);
    InsertLines(out, text, insertAt, piece);
    return out;
}

}  // namespace rastrace
