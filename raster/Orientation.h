// SPDX-License-Identifier: GPL-3.0-or-later
// The Orientation tag of TIFF and of a JPEG's EXIF block: how the pixels a
// file stores are to be shown, as viewers show them.
//
// The one fact a caller must know: the stored picture is Width x Height as
// the file gives it; orientations 5 to 8 swap the axes, so the picture
// shown is Height x Width. The values: 1 as stored, 2 mirrored left to
// right, 3 turned half round, 4 mirrored top to bottom, 5 mirrored along
// the diagonal from the top left (transposed), 6 turned a quarter clockwise,
// 7 mirrored along the other diagonal, 8 turned a quarter anticlockwise.
#pragma once

#include "raster/Raster.h"

#include <cstdint>
#include <optional>
#include <span>

namespace rastrace {

// The orientation a tag's value stands for: 1 for any value but 1 to 8.
int OrientationOf(uint32_t tagValue);

// Whether the orientation shows stored rows as columns.
inline bool SwapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

// Puts stored row y of a stored picture storedHeight rows high (its
// Width() * 3 blue, green, red bytes at row; Width() is the stored width)
// where the orientation shows it in shown, which is already of the shown
// size.
void PlaceStoredRow(Raster& shown, int orientation, uint32_t y, uint32_t storedWidth, uint32_t storedHeight,
                    const uint8_t* row);

// The Orientation of an APP1 marker's data ("Exif\0\0", then a TIFF header
// of either byte order and its first directory), if it states one.
std::optional<int> ExifOrientation(std::span<const uint8_t> app1);

}  // namespace rastrace
