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
    AppendGerberContour(out, points.size(), [&points, &scale](size_t i) {
        return std::pair<int64_t, int64_t>{scale.XNm(points[i].x2), scale.YNm(points[i].y2)};
    });
}

std::string_view GerberTrailer() { return "M02*\n"; }

}  // namespace rastrace
