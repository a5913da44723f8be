// SPDX-License-Identifier: GPL-3.0-or-later
// The class map: one byte per pixel of a raster, naming the copper colour
// the pixel is traced as. 0 (kNoClass) is "not traced"; k + 1 is the copper
// colour at position k of the colour list. Row 0 is the top row, as in the
// raster; rows are packed (the stride is the width).
//
// It is the only extra memory tolerant matching needs: one byte per pixel.
#pragma once

#include "common/SystemMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rastrace {

inline constexpr uint8_t kNoClass = 0;
// Copper colours a class map can tell apart (class values 1..255).
inline constexpr size_t kMaxClasses = 255;

class ClassMap {
public:
    ClassMap() = default;  // 0 x 0
    // A map of width x height with every byte kNoClass. Throws
    // Error("Out of memory") when the size exceeds memoryLimit or cannot be
    // had; nothing is allocated then.
    ClassMap(int32_t width, int32_t height, uint64_t memoryLimit = MemoryAvailableNow());
    // The same with the bytes left unset, for a caller that writes them all.
    static ClassMap Unset(int32_t width, int32_t height, uint64_t memoryLimit = MemoryAvailableNow()) {
        return ClassMap(width, height, false, memoryLimit);
    }

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    // The width bytes of row y (0 = top); y must lie in 0..Height-1.
    uint8_t* Row(int32_t y) { return data_.get() + static_cast<size_t>(y) * static_cast<size_t>(width_); }
    const uint8_t* Row(int32_t y) const {
        return data_.get() + static_cast<size_t>(y) * static_cast<size_t>(width_);
    }

private:
    ClassMap(int32_t width, int32_t height, bool zeroed, uint64_t memoryLimit);

    int32_t width_ = 0;
    int32_t height_ = 0;
    std::unique_ptr<uint8_t[]> data_;
};

}  // namespace rastrace
