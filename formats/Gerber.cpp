// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/Gerber.h"

#include "common/IntText.h"

#include <algorithm>
#include <stdexcept>

namespace rastrace {

std::string_view GerberFileFunction(int32_t layer) {
    switch (layer) {
        case 0: return "Other,Unassigned";
        case 1: return "Copper,L1,Top";
        case 2: return "Copper,L2,Inr";
        case 3: return "Copper,L3,Inr";
        case 4: return "Copper,L4,Inr";
        case 5: return "Copper,L5,Inr";
        case 6: return "Copper,L6,Bot";
        case 7: return "Legend,Top";
        case 8: return "Legend,Bot";
        default: throw std::invalid_argument("Gerber: layer out of range");
    }
}

std::string GerberHeader(int32_t layer, std::string_view version) {
    std::string out;
    out += "%TF.GenerationSoftware,Rastrace,Rastrace,";
    out += version;
    out += "*%\n%TF.FileFunction,";
    out += GerberFileFunction(layer);
    out +=
        "*%\n"
        "%TF.FilePolarity,Positive*%\n"
        "%FSLAX46Y46*%\n"
        "%MOMM*%\n"
        "%LPD*%\n"
        "G01*\n";
    return out;
}

void AppendGerberRegion(std::string& out, const OutlineShape& shape, const AreaScale& scale) {
    const auto& points = shape.points;
    if (points.empty()) return;
    const int64_t x0 = scale.XNm(points[0].x2), y0 = scale.YNm(points[0].y2);
    int64_t x = x0, y = y0;
    // Written in blocks of points, each with room for its longest text:
    // "X" + 20 digits + "Y" + 20 digits + "D01*\n" per point.
    constexpr size_t kBlock = 4096, kRoom = 64;
    for (size_t i = 0; i <= points.size(); i += kBlock) {
        const size_t end = std::min(points.size() + 1, i + kBlock);
        const size_t start = out.size();
        out.resize(start + kRoom * (end - i + 2));
        char* p = out.data() + start;
        auto put = [&](std::string_view s) {
            for (char c : s) *p++ = c;
        };
        for (size_t k = i; k < end; ++k) {
            if (k == 0) {
                put("G36*\nX");
                p = AppendDecimal(p, x0);
                *p++ = 'Y';
                p = AppendDecimal(p, y0);
                put("D02*\n");
                continue;
            }
            const OutlinePoint& q = points[k % points.size()];  // the last one closes the contour
            const int64_t nx = scale.XNm(q.x2), ny = scale.YNm(q.y2);
            if (nx == x && ny == y) continue;
            if (nx != x) {
                *p++ = 'X';
                p = AppendDecimal(p, nx);
            }
            if (ny != y) {
                *p++ = 'Y';
                p = AppendDecimal(p, ny);
            }
            put("D01*\n");
            x = nx;
            y = ny;
        }
        if (end == points.size() + 1) put("G37*\n");
        out.resize(static_cast<size_t>(p - out.data()));
    }
}

std::string_view GerberTrailer() { return "M02*\n"; }

}  // namespace rastrace
