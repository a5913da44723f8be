// SPDX-License-Identifier: GPL-3.0-or-later
// Gerber (RS-274X with X2 attributes) text of traced copper: a header
// naming the layer, one region (G36/G37) per outline, and the trailer.
//
// Units are millimetres in format 4.6, so every coordinate is an integer
// number of nanometres; leading zeros are omitted. Each region is one
// contour; a region's holes are joined to it by cut-ins of zero width
// (coincident edges), so all regions are dark and may come in any order.
// Within a region only the coordinate that changes is written (Gerber
// coordinates are modal). Lines end in LF.
#pragma once

#include "common/IntText.h"
#include "formats/AreaScale.h"
#include "trace/Outline.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <string>
#include <string_view>

namespace rastrace {

// The file function of a layer: 1 "Copper,L1,Top", 2..5 "Copper,L<n>,Inr",
// 6 "Copper,L6,Bot", 7 "Legend,Top", 8 "Legend,Bot"; 0 (no layer)
// "Other,Unassigned". Throws std::invalid_argument for other numbers.
std::string_view GerberFileFunction(int32_t layer);

// Attributes, units and format, and the linear mode the regions use.
std::string GerberHeader(int32_t layer, std::string_view version);

// Appends the region of one outline.
void AppendGerberRegion(std::string& out, const OutlineShape& shape, const AreaScale& scale);

// Appends one region (G36 ... G37) of a closed contour of count points,
// point i at(i) as (x, y) in nanometres; only the coordinate that changes
// is written.
template <class At>
void AppendGerberContour(std::string& out, size_t count, const At& at) {
    if (count == 0) return;
    const auto [x0, y0] = at(0);
    int64_t x = x0, y = y0;
    // Written in blocks of points, each with room for its longest text:
    // "X" + 20 digits + "Y" + 20 digits + "D01*\n" per point.
    constexpr size_t kBlock = 4096, kRoom = 64;
    for (size_t i = 0; i <= count; i += kBlock) {
        const size_t end = std::min(count + 1, i + kBlock);
        const size_t start = out.size();
        out.resize(start + kRoom * (end - i + 2));
        char* p = out.data() + start;
        auto put = [&p](std::string_view s) {
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
            const auto [nx, ny] = at(k % count);  // the last one closes the contour
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
        if (end == count + 1) put("G37*\n");
        out.resize(static_cast<size_t>(p - out.data()));
    }
}

std::string_view GerberTrailer();

}  // namespace rastrace
