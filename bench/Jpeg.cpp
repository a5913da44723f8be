// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/Jpeg.h"

#include "common/Error.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace rastrace::bench {

namespace {

// libjpeg reports a failure through error_exit, which must not return:
// it jumps back to the function that set the jump buffer.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Compresses raster (converted to red, green, blue one row at a time) into
// a buffer libjpeg allocates with malloc.
// Nothing with a destructor lives in the frames a jump passes over.
bool Compress(const Raster& raster, int quality, unsigned char*& data, unsigned long& size, std::vector<uint8_t>& rgb,
              ErrorManager& errors) {
    jpeg_compress_struct info{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &data, &size);
    info.image_width = static_cast<JDIMENSION>(raster.Width());
    info.image_height = static_cast<JDIMENSION>(raster.Height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const uint8_t* row = raster.RowBytes(static_cast<int32_t>(info.next_scanline)).data();
        for (size_t i = 0; i < rgb.size(); i += 3) {
            rgb[i] = row[i + 2];
            rgb[i + 1] = row[i + 1];
            rgb[i + 2] = row[i];
        }
        JSAMPROW rows[1] = {rgb.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

bool Decompress(Raster& raster, const unsigned char* data, unsigned long size, ErrorManager& errors) {
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;  // the raster's own byte order
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {raster.RowBytes(static_cast<int32_t>(info.output_scanline)).data()};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

void JpegRoundTrip(Raster& raster, int quality) {
    if (raster.Empty()) return;
    ErrorManager errors{};
    unsigned char* data = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> rgb(static_cast<size_t>(raster.Width()) * 3);
    const bool ok = Compress(raster, quality, data, size, rgb, errors) && Decompress(raster, data, size, errors);
    std::free(data);
    if (!ok) throw Error(std::string("JPEG: ") + errors.message);
}

}  // namespace rastrace::bench
