// SPDX-License-Identifier: GPL-3.0-or-later
// KiCad 6 footprint text (.kicad_mod, s-expressions) of traced copper: a
// front footprint whose reference and value sit on the front silkscreen, as
// KiCad's own image converter writes them, and one filled polygon of zero
// outline width per outline on the chosen layer.
//
// KiCad polygons have no holes: the outline's holes arrive joined to it by
// cuts of zero width, as KiCad itself fractures polygons. Coordinates are
// millimetres with up to six decimals; Y grows downwards in KiCad, so the
// Y-up coordinates of the picture are negated. Lines end in LF.
#pragma once

#include "formats/AreaScale.h"
#include "trace/Outline.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace rastrace {

// The board layer of a layer number: 1 "F.Cu", 2..5 "In1.Cu".."In4.Cu",
// 6 "B.Cu", 7 "F.SilkS", 8 "B.SilkS"; 0 (no layer) "Dwgs.User". Throws
// std::invalid_argument for other numbers.
std::string_view KiCadLayerName(int32_t layer);

// The footprint name for an output path: its file name without the last
// extension ("out/board.kicad_mod" -> "board"); "rastrace" when nothing is left.
std::string FootprintNameFor(std::string_view outputPath);

// The footprint's opening, attributes, reference and value.
std::string KiCadHeader(std::string_view name, std::string_view version);

// Appends the polygon of one outline on the layer.
void AppendKiCadPolygon(std::string& out, const OutlineShape& shape, const AreaScale& scale, int32_t layer);

std::string_view KiCadTrailer();

// Millimetres of a nanometre count: at most six decimals, no trailing zeros.
char* AppendMillimetres(char* out, int64_t nm);

}  // namespace rastrace
