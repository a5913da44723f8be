// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/PreviewPng.h"

#include "common/Error.h"

#include <png.h>

#include <csetjmp>
#include <exception>
#include <string>
#include <vector>

namespace rastrace::cli {

namespace {

// libpng is C: an exception must not cross it. Failures are kept here and
// libpng is left by its own longjmp; the caller rethrows after.
struct WriteState {
    const std::function<void(std::string_view)>* sink = nullptr;
    std::exception_ptr error;
    std::string message;
};

void OnError(png_structp png, png_const_charp message) {
    auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
    if (!state->error && state->message.empty()) state->message = message != nullptr ? message : "unknown error";
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep data, png_size_t size) {
    auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
    try {
        (*state->sink)(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (...) {
        state->error = std::current_exception();
    }
    // Left outside the handler: a longjmp must not leave a catch block.
    if (state->error) png_error(png, "write failed");
}

void OnFlush(png_structp) {}

// Runs the encoder; returns false when libpng left by its error longjmp.
// No object with a destructor lives in this frame across setjmp.
bool Encode(png_structp png, png_infop info, int32_t width, int32_t height,
            const std::function<void(int32_t, uint8_t*)>& fillRow, uint8_t* row, WriteState& state) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y) {
        try {
            fillRow(y, row);
        } catch (...) {
            state.error = std::current_exception();
            return false;
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

void EncodePreviewPng(int32_t width, int32_t height, const std::function<void(int32_t row, uint8_t* rgb)>& fillRow,
                      const std::function<void(std::string_view)>& sink) {
    WriteState state;
    state.sink = &sink;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
    if (png == nullptr) throw Error("Out of memory");
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw Error("Out of memory");
    }
    png_set_write_fn(png, &state, OnWrite, OnFlush);
    const bool done = Encode(png, info, width, height, fillRow, row.data(), state);
    png_destroy_write_struct(&png, &info);
    if (state.error) std::rethrow_exception(state.error);
    if (!done) throw Error("Cannot write PNG file: " + state.message);
}

}  // namespace rastrace::cli
