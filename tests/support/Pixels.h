// SPDX-License-Identifier: GPL-3.0-or-later
// Writing single pixels of a 24-bit raster in tests, by packed colour.
#pragma once

#include "raster/Raster.h"

#include <cstddef>
#include <cstdint>

namespace rastrace::test {

// Sets pixel (x, y) (row 0 on top) to the packed colour 0x00BBGGRR.
inline void SetPixel(Raster& r, int32_t x, int32_t y, uint32_t color) {
    uint8_t* p = r.RowBytes(y).data() + 3 * static_cast<size_t>(x);
    p[0] = static_cast<uint8_t>(color >> 16);
    p[1] = static_cast<uint8_t>(color >> 8);
    p[2] = static_cast<uint8_t>(color);
}

}  // namespace rastrace::test
