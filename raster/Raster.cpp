// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/Raster.h"

#include "common/Error.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace rastrace {

namespace {

// Pixel memory comes straight from the kernel: fresh pages are zero and are
// only faulted in when touched, and large blocks are advised for huge pages,
// which halves the cost of faulting in a big scan.
uint8_t* MapPixels(size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) ThrowOutOfMemory();
#ifdef MADV_HUGEPAGE
    if (size >= (size_t{4} << 20)) madvise(p, size, MADV_HUGEPAGE);
#endif
    return static_cast<uint8_t*>(p);
}

}  // namespace

uint64_t StrideFor(uint64_t width, uint32_t bitsPerPixel) {
    if (bitsPerPixel != 0 && width > (UINT64_MAX - 31) / bitsPerPixel) return 0;
    return (width * bitsPerPixel + 31) / 32 * 4;
}

Raster::Raster(int32_t width, int32_t height, RowOrder order, uint64_t memoryLimit) : order_(order) {
    if (width < 0 || height < 0) ThrowOutOfMemory();
    const uint64_t stride = StrideFor(static_cast<uint64_t>(width), 24);
    const uint64_t size = stride * static_cast<uint64_t>(height);  // < 2^33 * 2^31: no overflow
    if (size > memoryLimit || size > SIZE_MAX / 2) ThrowOutOfMemory();
    if (size > 0) data_ = MapPixels(static_cast<size_t>(size));
    width_ = width;
    height_ = height;
    stride_ = static_cast<size_t>(stride);
    size_ = static_cast<size_t>(size);
}

Raster::Raster(Raster&& other) noexcept
    : width_(other.width_), height_(other.height_), stride_(other.stride_), order_(other.order_),
      data_(other.data_), size_(other.size_) {
    other.width_ = other.height_ = 0;
    other.stride_ = other.size_ = 0;
    other.data_ = nullptr;
}

Raster& Raster::operator=(Raster&& other) noexcept {
    if (this != &other) {
        Release();
        width_ = other.width_;
        height_ = other.height_;
        stride_ = other.stride_;
        order_ = other.order_;
        data_ = other.data_;
        size_ = other.size_;
        other.width_ = other.height_ = 0;
        other.stride_ = other.size_ = 0;
        other.data_ = nullptr;
    }
    return *this;
}

Raster::~Raster() { Release(); }

void Raster::Release() {
    if (data_ != nullptr) munmap(data_, size_);
    data_ = nullptr;
}

Raster Raster::Clone(uint64_t memoryLimit) const {
    const uint64_t unbacked = UnbackedBytes();
    Raster copy(width_, height_, order_, memoryLimit > unbacked ? memoryLimit - unbacked : 0);
    if (size_ > 0) std::memcpy(copy.data_, data_, size_);
    return copy;
}

uint64_t Raster::UnbackedBytes() const {
    if (data_ == nullptr) return 0;
    const long page = sysconf(_SC_PAGESIZE);
    if (page <= 0) return size_;
    const size_t pageSize = static_cast<size_t>(page);
    const size_t pages = (size_ + pageSize - 1) / pageSize;
    std::vector<unsigned char> resident(pages);
    // A kernel that cannot say counts every page as not in memory.
    if (mincore(data_, size_, resident.data()) != 0) return size_;
    uint64_t unbacked = 0;
    for (size_t i = 0; i < pages; ++i) {
        if ((resident[i] & 1) == 0) unbacked += std::min(pageSize, size_ - i * pageSize);
    }
    return unbacked;
}

const uint8_t* Raster::RowPointer(int32_t y) const {
    if (y < 0 || y >= height_) throw Error("Scan line index out of range");
    const int32_t storageRow = order_ == RowOrder::BottomUp ? height_ - 1 - y : y;
    return data_ + static_cast<size_t>(storageRow) * stride_;
}

std::span<uint8_t> Raster::RowBytes(int32_t y) {
    return {const_cast<uint8_t*>(RowPointer(y)), static_cast<size_t>(width_) * 3};
}

std::span<const uint8_t> Raster::RowBytes(int32_t y) const {
    return {RowPointer(y), static_cast<size_t>(width_) * 3};
}

uint32_t Raster::PixelColor(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return kInvalidColor;
    return PackColor(RowPointer(y) + static_cast<size_t>(x) * 3);
}

}  // namespace rastrace
