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

#include "formats/AreaScale.h"
#include "trace/Outline.h"

#include <cstdint>
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

std::string_view GerberTrailer();

}  // namespace rastrace
