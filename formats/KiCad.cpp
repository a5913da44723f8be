// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/KiCad.h"

#include "common/IntText.h"

#include <algorithm>
#include <stdexcept>

namespace rastrace {

namespace {

// An s-expression string: quoted, with backslash and quote escaped and
// line breaks as \n.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

}  // namespace

std::string_view KiCadLayerName(int32_t layer) {
    switch (layer) {
        case 0: return "Dwgs.User";
        case 1: return "F.Cu";
        case 2: return "In1.Cu";
        case 3: return "In2.Cu";
        case 4: return "In3.Cu";
        case 5: return "In4.Cu";
        case 6: return "B.Cu";
        case 7: return "F.SilkS";
        case 8: return "B.SilkS";
        default: throw std::invalid_argument("KiCad: layer out of range");
    }
}

std::string FootprintNameFor(std::string_view outputPath) {
    const size_t slash = outputPath.find_last_of("/\\");
    std::string_view base = slash == std::string_view::npos ? outputPath : outputPath.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string_view::npos && dot > 0) base = base.substr(0, dot);
    return base.empty() || base == "-" ? std::string("rastrace") : std::string(base);
}

std::string KiCadHeader(std::string_view name, std::string_view version) {
    const std::string quoted = Quoted(name);
    std::string out;
    out += "(footprint " + quoted + " (version 20211014) (generator rastrace)\n";
    out += "  (layer \"F.Cu\")\n";
    out += "  (descr " + Quoted("Traced copper, Rastrace " + std::string(version)) + ")\n";
    out += "  (attr board_only exclude_from_pos_files exclude_from_bom)\n";
    out += "  (fp_text reference \"G***\" (at 0 0) (layer \"F.SilkS\")\n";
    out += "    (effects (font (size 1.5 1.5) (thickness 0.3)))\n";
    out += "  )\n";
    out += "  (fp_text value " + quoted + " (at 0.75 0) (layer \"F.SilkS\") hide\n";
    out += "    (effects (font (size 1.5 1.5) (thickness 0.3)))\n";
    out += "  )\n";
    return out;
}

char* AppendMillimetres(char* out, int64_t nm) {
    if (nm < 0) {
        *out++ = '-';
        nm = -nm;
    }
    out = AppendDecimal(out, nm / 1'000'000);
    int64_t frac = nm % 1'000'000;
    if (frac != 0) {
        *out++ = '.';
        int digits = 6;
        while (frac % 10 == 0) {
            frac /= 10;
            --digits;
        }
        out = AppendDecimalPadded(out, frac, digits);
    }
    return out;
}

void AppendKiCadPolygon(std::string& out, const OutlineShape& shape, const AreaScale& scale, int32_t layer) {
    const auto& points = shape.points;
    if (points.empty()) return;
    const std::string_view layerName = KiCadLayerName(layer);
    out += "  (fp_poly (pts";
    // Written in blocks of points, each with room for its longest text:
    // "\n      (xy " + two signed numbers of 21 chars + ")" per point.
    constexpr size_t kBlock = 4096, kRoom = 64;
    for (size_t i = 0; i < points.size(); i += kBlock) {
        const size_t end = std::min(points.size(), i + kBlock);
        const size_t start = out.size();
        out.resize(start + kRoom * (end - i));
        char* p = out.data() + start;
        auto put = [&](std::string_view s) {
            for (char c : s) *p++ = c;
        };
        for (size_t k = i; k < end; ++k) {
            put(k % 4 == 0 ? "\n      (xy " : " (xy ");
            p = AppendMillimetres(p, scale.XNm(points[k].x2));
            *p++ = ' ';
            p = AppendMillimetres(p, -scale.YNm(points[k].y2));
            *p++ = ')';
        }
        out.resize(static_cast<size_t>(p - out.data()));
    }
    out += "\n    ) (layer \"";
    out += layerName;
    out += "\") (width 0) (fill solid))\n";
}

std::string_view KiCadTrailer() { return ")\n"; }

}  // namespace rastrace
