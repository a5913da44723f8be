// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/Orientation.h"

#include <cstring>

namespace rastrace {

int OrientationOf(uint32_t tagValue) { return tagValue >= 1 && tagValue <= 8 ? static_cast<int>(tagValue) : 1; }

void PlaceStoredRow(Raster& shown, int orientation, uint32_t y, uint32_t storedWidth, uint32_t storedHeight,
                    const uint8_t* row) {
    const size_t bytes = size_t{storedWidth} * 3;
    if (!SwapsAxes(orientation)) {
        const uint32_t shownY = orientation == 3 || orientation == 4 ? storedHeight - 1 - y : y;
        uint8_t* out = shown.RowBytes(static_cast<int32_t>(shownY)).data();
        if (orientation == 2 || orientation == 3) {
            for (uint32_t x = 0; x < storedWidth; ++x) {
                std::memcpy(out + 3 * size_t{storedWidth - 1 - x}, row + 3 * size_t{x}, 3);
            }
        } else {
            std::memcpy(out, row, bytes);
        }
        return;
    }
    // Stored row y becomes one shown column; stored column x one shown row,
    // counted from the bottom for 7 and 8.
    const uint32_t shownX = orientation == 5 || orientation == 8 ? y : storedHeight - 1 - y;
    const bool fromBottom = orientation == 7 || orientation == 8;
    for (uint32_t x = 0; x < storedWidth; ++x) {
        const uint32_t shownY = fromBottom ? storedWidth - 1 - x : x;
        std::memcpy(shown.RowBytes(static_cast<int32_t>(shownY)).data() + 3 * size_t{shownX}, row + 3 * size_t{x}, 3);
    }
}

std::optional<int> ExifOrientation(std::span<const uint8_t> app1) {
    static const uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
    if (app1.size() < sizeof kExif + 8 || std::memcmp(app1.data(), kExif, sizeof kExif) != 0) return std::nullopt;
    const std::span<const uint8_t> tiff = app1.subspan(sizeof kExif);
    bool little = false;
    if (tiff[0] == 'I' && tiff[1] == 'I') {
        little = true;
    } else if (!(tiff[0] == 'M' && tiff[1] == 'M')) {
        return std::nullopt;
    }
    const auto u16 = [&](size_t at) -> uint32_t {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    const auto u32 = [&](size_t at) -> uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42) return std::nullopt;
    const uint64_t ifd = u32(4);
    if (ifd + 2 > tiff.size()) return std::nullopt;
    const uint32_t count = u16(static_cast<size_t>(ifd));
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entry = ifd + 2 + uint64_t{i} * 12;
        if (entry + 12 > tiff.size()) return std::nullopt;
        const auto at = static_cast<size_t>(entry);
        // Orientation: one SHORT, held in the entry's value field.
        if (u16(at) == 0x0112) {
            if (u16(at + 2) != 3 || u32(at + 4) != 1) return std::nullopt;
            return OrientationOf(u16(at + 8));
        }
    }
    return std::nullopt;
}

}  // namespace rastrace
