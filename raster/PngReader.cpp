#include "raster/PngReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

#include <png.h>

namespace rastrace {

namespace {

// Largest ancillary chunk libpng may hold in memory (ICC profiles, text).
constexpr png_alloc_size_t kChunkMallocMax = 8u << 20;

// Everything libpng's callbacks touch. Plain data only: libpng leaves its
// errors by longjmp, which must not skip any destructor.
struct PngContext {
    PictureInput* input = nullptr;
    uint64_t position = 0;
    char message[256] = {};
};

// What the chunks before the image data give.
struct PngHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasMetres = false;
    uint32_t xPerMetre = 0;
    uint32_t yPerMetre = 0;
};

void OnError(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    std::strncpy(context->message, message != nullptr ? message : "", sizeof context->message - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp /*png*/, png_const_charp /*message*/) {}

void OnRead(png_structp png, png_bytep data, size_t length) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    const size_t got = context->input->ReadAt(context->position, data, length);
    context->position += got;
    if (got != length) png_error(png, "unexpected end of file");
}

// Reads the signature and the chunks up to the first image data. False when
// libpng failed (the reason in context). Nothing sized by the picture is
// allocated yet: that waits until the raster has been allowed.
bool ReadInfo(png_structp png, png_infop info, PngHeader& header) {
    if (setjmp(png_jmpbuf(png))) return false;
    // The picture's own size is checked against the raster's limit; libpng's
    // default caps of a million pixels a side would refuse real scans.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(png, kChunkMallocMax);
    // Of the ancillary chunks only pHYs is used; the others (profiles,
    // compressed text) are skipped unread rather than inflated.
    static const png_byte kPhys[] = {'p', 'H', 'Y', 's', '\0'};
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kPhys, 1);
    png_read_info(png, info);
    header.width = png_get_image_width(png, info);
    header.height = png_get_image_height(png, info);
    png_uint_32 x = 0;
    png_uint_32 y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
        header.hasMetres = true;
        header.xPerMetre = x;
        header.yPerMetre = y;
    }
    return true;
}

// Sets the transformations to 8-bit blue, green, red and reads every pass
// of the rows into the top-down rows at base, stride bytes apart. False
// when libpng failed.
bool ReadImage(png_structp png, png_infop info, uint32_t height, uint8_t* base, size_t stride) {
    if (setjmp(png_jmpbuf(png))) return false;
    const int bitDepth = png_get_bit_depth(png, info);
    const int colourType = png_get_color_type(png, info);
    if (bitDepth == 16) png_set_scale_16(png);  // round(v / 257)
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_strip_alpha(png);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8 ||
        png_get_rowbytes(png, info) != static_cast<size_t>(png_get_image_width(png, info)) * 3) {
        png_error(png, "unsupported pixel layout");
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) png_read_row(png, base + y * stride, nullptr);
    }
    return true;
}

// Frees libpng's structures on every path.
class PngHandles {
public:
    explicit PngHandles(PngContext& context) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
        if (png_ == nullptr || info_ == nullptr) {
            png_destroy_read_struct(&png_, &info_, nullptr);
            ThrowOutOfMemory();
        }
        png_set_read_fn(png_, &context, OnRead);
    }
    ~PngHandles() { png_destroy_read_struct(&png_, &info_, nullptr); }
    PngHandles(const PngHandles&) = delete;
    PngHandles& operator=(const PngHandles&) = delete;

    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

}  // namespace

Picture ReadPng(PictureInput& input) {
    PngContext context;
    context.input = &input;
    const PngHandles handles(context);
    PngHeader header;
    if (!ReadInfo(handles.Png(), handles.Info(), header)) ThrowCannotRead("PNG", context.message);
    if (header.width > INT32_MAX || header.height > INT32_MAX) ThrowOutOfMemory();

    Picture picture;
    picture.format = PictureFormat::Png;
    picture.raster = Raster(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height),
                            Raster::RowOrder::TopDown, input.MemoryLimit());
    if (!picture.raster.Empty() &&
        !ReadImage(handles.Png(), handles.Info(), header.height, picture.raster.StorageData(),
                   picture.raster.Stride())) {
        ThrowCannotRead("PNG", context.message);
    }
    if (header.hasMetres) {
        picture.dpiX = DpiFromPixelsPerMetre(header.xPerMetre);
        picture.dpiY = DpiFromPixelsPerMetre(header.yPerMetre);
    }
    return picture;
}

}  // namespace rastrace

namespace rastrace {

// Not read by rows yet: the file is read whole.
std::unique_ptr<PictureRows> OpenPngRows(PictureInput& /*input*/) { return nullptr; }

}  // namespace rastrace
