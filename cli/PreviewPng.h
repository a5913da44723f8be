// SPDX-License-Identifier: GPL-3.0-or-later
// The preview of a conversion as a PNG picture: each copper colour's
// matched pixels in that colour, every other pixel white, so a user can
// check colours, tolerance and speckle size in any viewer.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace rastrace::cli {

// Encodes a width x height 8-bit RGB PNG with libpng. fillRow(row, rgb)
// fills the 3 * width bytes (red, green, blue) of row (0 = top); rows are
// asked for once each, top to bottom. The encoded bytes go to sink in
// pieces. Throws Error with libpng's reason, or whatever fillRow or sink
// throws; width and height must be 1 or more.
void EncodePreviewPng(int32_t width, int32_t height, const std::function<void(int32_t row, uint8_t* rgb)>& fillRow,
                      const std::function<void(std::string_view)>& sink);

}  // namespace rastrace::cli
