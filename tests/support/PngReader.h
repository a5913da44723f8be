// SPDX-License-Identifier: GPL-3.0-or-later
// Reads PNG files with libpng for tests that compare decoded pictures with
// reference PNG files (the BMP suite's "correct display" pictures).
//
// The one fact a caller must know: every picture comes back as 8-bit RGBA,
// row 0 at the top; 16-bit samples keep their high byte, low bit depths are
// scaled to the full 0..255 range, and transparency (tRNS) becomes alpha.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace rastrace::test {

struct PngImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;  // width * height * 4 bytes, row 0 at the top

    const uint8_t* Pixel(int32_t x, int32_t y) const {
        return rgba.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4;
    }
};

// Always true now that libpng is a dependency; kept for callers that ask.
bool PngSupported();

// Decodes the PNG file at path; throws std::runtime_error on anything it
// cannot read.
PngImage ReadPng(const std::filesystem::path& path);

}  // namespace rastrace::test
