// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/Mirror.h"

#include "common/Error.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace rastrace {

namespace {

void CheckRoomToWrite(const Raster& raster, uint64_t memoryLimit) {
    if (raster.UnbackedBytes() > memoryLimit) ThrowOutOfMemory();
}

}  // namespace

void MirrorHorizontal(Raster& raster, uint64_t memoryLimit) {
    CheckRoomToWrite(raster, memoryLimit);
    const int32_t w = raster.Width();
    for (int32_t y = 0; y < raster.Height(); ++y) {
        uint8_t* p = raster.RowBytes(y).data();
        for (int32_t a = 0, b = w - 1; a < b; ++a, --b) {
            std::swap_ranges(p + 3 * static_cast<size_t>(a), p + 3 * static_cast<size_t>(a) + 3,
                             p + 3 * static_cast<size_t>(b));
        }
    }
}

void MirrorVertical(Raster& raster, uint64_t memoryLimit) {
    CheckRoomToWrite(raster, memoryLimit);
    const int32_t h = raster.Height();
    const size_t n = static_cast<size_t>(raster.Width()) * 3;
    if (h == 0 || n == 0) return;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[n]);
    if (!buffer) ThrowOutOfMemory();
    for (int32_t top = 0, bottom = h - 1; top < bottom; ++top, --bottom) {
        uint8_t* t = raster.RowBytes(top).data();
        uint8_t* b = raster.RowBytes(bottom).data();
        std::memcpy(buffer.get(), t, n);
        std::memcpy(t, b, n);
        std::memcpy(b, buffer.get(), n);
    }
}

}  // namespace rastrace
