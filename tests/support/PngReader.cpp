// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PngReader.h"

#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>

#include <png.h>

namespace rastrace::test {

namespace {

struct Reading {
    std::FILE* file = nullptr;
    char message[256] = "unknown error";
};

void OnError(png_structp png, png_const_charp message) {
    auto* reading = static_cast<Reading*>(png_get_error_ptr(png));
    std::snprintf(reading->message, sizeof reading->message, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// Fills image (its vector sized before, from the header) or returns false;
// plain data only in this frame, as libpng leaves by longjmp.
bool Decode(png_structp png, png_infop info, Reading& reading, PngImage& image, std::vector<png_bytep>& rows,
            bool (*resize)(PngImage&, std::vector<png_bytep>&)) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, reading.file);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_expand(png);  // palette to RGB, low grey depths to 8 bits, tRNS to alpha
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image.width = static_cast<int32_t>(png_get_image_width(png, info));
    image.height = static_cast<int32_t>(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) != static_cast<size_t>(image.width) * 4) png_error(png, "unexpected row layout");
    if (!resize(image, rows)) png_error(png, "picture too large for a test");
    png_read_image(png, rows.data());
    return true;
}

bool Resize(PngImage& image, std::vector<png_bytep>& rows) {
    if (image.width > (1 << 16) || image.height > (1 << 16)) return false;
    image.rgba.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4);
    rows.resize(static_cast<size_t>(image.height));
    for (int32_t y = 0; y < image.height; ++y) rows[static_cast<size_t>(y)] = image.rgba.data() + static_cast<size_t>(y) * image.width * 4;
    return true;
}

}  // namespace

bool PngSupported() { return true; }

PngImage ReadPng(const std::filesystem::path& path) {
    Reading reading;
    reading.file = std::fopen(path.c_str(), "rb");
    if (reading.file == nullptr) throw std::runtime_error("PNG " + path.string() + ": cannot open");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reading, OnError, OnWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    PngImage image;
    std::vector<png_bytep> rows;
    const bool ok = info != nullptr && Decode(png, info, reading, image, rows, Resize);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(reading.file);
    if (!ok) throw std::runtime_error("PNG " + path.string() + ": " + reading.message);
    return image;
}

}  // namespace rastrace::test
