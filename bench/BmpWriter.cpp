// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/BmpWriter.h"

#include "common/Error.h"
#include "common/FileHandle.h"
#include "common/MessageText.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rastrace::bench {

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Writes all of bytes (rastrace::WriteAll); false on any failure.
bool WriteBytes(int fd, const uint8_t* bytes, size_t size) {
    return WriteAll(fd, std::string_view(reinterpret_cast<const char*>(bytes), size)) == 0;
}

}  // namespace

std::vector<uint8_t> BitmapHeader(int32_t width, int32_t height, int32_t pixelsPerMeter) {
    const uint64_t stride = StrideFor(static_cast<uint64_t>(width), 24);
    const uint64_t imageSize = stride * static_cast<uint64_t>(height);
    std::vector<uint8_t> h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    // The size field holds 32 bits; larger files state what fits, as readers
    // take the pixel size from the info header anyway.
    const uint64_t fileSize = 54 + imageSize;
    Put32(h, 2, fileSize > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(fileSize));
    Put32(h, 10, 54);  // offset of the pixels
    Put32(h, 14, 40);  // info header size
    Put32(h, 18, static_cast<uint32_t>(width));
    Put32(h, 22, static_cast<uint32_t>(height));  // positive: bottom-up
    Put16(h, 26, 1);                              // planes
    Put16(h, 28, 24);                             // bits per pixel
    Put32(h, 30, 0);                              // no compression
    Put32(h, 34, imageSize > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(imageSize));
    Put32(h, 38, static_cast<uint32_t>(pixelsPerMeter));
    Put32(h, 42, static_cast<uint32_t>(pixelsPerMeter));
    return h;
}

void WriteBitmapFile(const Raster& raster, const std::string& path, int32_t pixelsPerMeter) {
    const FileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.IsOpen()) throw Error("Cannot create file \"" + path + "\". " + SystemErrorText(errno));
    const int fd = file.Fd();

    const int32_t width = raster.Width();
    const int32_t height = raster.Height();
    const std::vector<uint8_t> header = BitmapHeader(width, height, pixelsPerMeter);
    if (!WriteBytes(fd, header.data(), header.size())) throw Error("Stream write error");

    // Rows go out bottom row first, each followed by zero padding, gathered
    // into blocks of a few megabytes so the writes stay large. The raster's
    // own padding bytes are never read.
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const size_t stride = static_cast<size_t>(StrideFor(static_cast<uint64_t>(width), 24));
    if (stride == 0 || height == 0) return;
    const size_t rowsPerBlock = std::max<size_t>(1, (size_t{4} << 20) / stride);
    std::vector<uint8_t> block(rowsPerBlock * stride, 0);
    size_t filled = 0;
    for (int32_t y = height - 1; y >= 0; --y) {
        std::memcpy(block.data() + filled, raster.RowBytes(y).data(), rowBytes);
        filled += stride;  // the padding bytes of block stay zero
        if (filled == block.size() || y == 0) {
            if (!WriteBytes(fd, block.data(), filled)) throw Error("Stream write error");
            filled = 0;
        }
    }
}

}  // namespace rastrace::bench
