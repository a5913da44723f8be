// SPDX-License-Identifier: GPL-3.0-or-later
// The 24-bit raster: Width x Height pixels, three bytes each in the order
// blue, green, red. Row 0 is the top row of the picture; rows are reached
// only through RowBytes, whatever order they are stored in.
//
// Each row occupies a stride of Width*3 rounded up to a multiple of 4 bytes;
// the padding after the pixels is never read, written or compared.
// A Raster is a move-only value; Clone() makes the one explicit copy. Scan
// workers share a raster as std::shared_ptr<const Raster> and only read it.
//
// Memory: every call that claims pixel memory takes the most it may claim
// (memoryLimit), by default the memory available now; a size beyond it is
// "Out of memory" before anything is allocated. Fresh pixel memory is only
// mapped, and becomes real when first written, so a claim counts what the
// call makes real, and a copy or a mirror also counts what the picture
// itself has not made real yet.
#pragma once

#include "common/SystemMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace rastrace {

// The packed colour 0x00BBGGRR of the pixel whose three bytes start at p
// (blue, green, red).
inline uint32_t PackColor(const uint8_t* p) {
    return static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[0]) << 16;
}

// What PixelColor gives for a point outside the raster.
inline constexpr uint32_t kInvalidColor = 0xFFFFFFFFu;

// Bytes a row of width pixels at bitsPerPixel occupies: ((w*bpp + 31) div 32) * 4.
// Returns 0 when the result would not fit in 64 bits.
uint64_t StrideFor(uint64_t width, uint32_t bitsPerPixel);

class Raster {
public:
    enum class RowOrder { BottomUp, TopDown };

    Raster() = default;  // the empty raster: 0 x 0, no rows
    // A raster of width x height with uninitialised pixel bytes (zero where
    // the memory is fresh). Throws Error("Out of memory") when the size
    // exceeds memoryLimit or cannot be had; nothing is allocated then.
    Raster(int32_t width, int32_t height, RowOrder order = RowOrder::BottomUp,
           uint64_t memoryLimit = MemoryAvailableNow());

    Raster(Raster&&) noexcept;
    Raster& operator=(Raster&&) noexcept;
    Raster(const Raster&) = delete;
    Raster& operator=(const Raster&) = delete;
    ~Raster();

    // A deep copy. "Out of memory" when the copy plus the bytes of this
    // raster not yet in memory exceed memoryLimit; this raster is untouched.
    Raster Clone(uint64_t memoryLimit = MemoryAvailableNow()) const;

    // Pixel bytes that are mapped but not yet in memory (never written):
    // what touching every row would still claim.
    uint64_t UnbackedBytes() const;

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    size_t Stride() const { return stride_; }
    RowOrder Order() const { return order_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    // The Width*3 pixel bytes of row y (0 = top), without copying. Any y
    // outside 0..Height-1 throws Error("Scan line index out of range").
    // Constant-time address arithmetic, no lock: safe from any thread.
    std::span<uint8_t> RowBytes(int32_t y);
    std::span<const uint8_t> RowBytes(int32_t y) const;

    // PackColor of pixel (x, y); kInvalidColor for any point outside the
    // raster, the empty raster included.
    uint32_t PixelColor(int32_t x, int32_t y) const;

    // The whole pixel block (stride * height bytes) in storage order, for the
    // file reader, which fills it in one read.
    uint8_t* StorageData() { return data_; }
    const uint8_t* StorageData() const { return data_; }
    size_t StorageSize() const { return size_; }

    // The start of storage row s (s counts in storage order, not picture order).
    uint8_t* StorageRow(int32_t s) { return data_ + static_cast<size_t>(s) * stride_; }

private:
    const uint8_t* RowPointer(int32_t y) const;
    void Release();

    int32_t width_ = 0;
    int32_t height_ = 0;
    size_t stride_ = 0;
    RowOrder order_ = RowOrder::BottomUp;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace rastrace
