// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/PngReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include <png.h>

namespace rastrace {

namespace {

// Largest ancillary chunk libpng may hold in memory (ICC profiles, text).
constexpr png_alloc_size_t kChunkMallocMax = 8u << 20;

// The most bytes deflate can make of one: a match of 258 bytes costs at
// least two bits (a length code and a distance code of one bit each).
constexpr uint64_t kDeflateMaxRatio = 1032;

// The bytes of filtered rows libpng inflates for a picture: one filter
// byte and the packed samples per row, per Adam7 pass when interlaced. In
// floating point: 2^31 rows of 2^34 bytes overflow 64 bits.
double InflatedBytes(uint64_t width, uint64_t height, uint64_t bitsPerPixel, bool interlaced) {
    const auto rows = [bitsPerPixel](uint64_t w, uint64_t h) {
        return w == 0 ? 0.0 : static_cast<double>(h) * static_cast<double>(1 + (w * bitsPerPixel + 7) / 8);
    };
    if (!interlaced) return rows(width, height);
    static const int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    double total = 0;
    for (const auto& p : kPasses) {
        const auto span = [](uint64_t size, uint64_t start, uint64_t step) {
            return size > start ? (size - start + step - 1) / step : 0;
        };
        total += rows(span(width, p[0], p[2]), span(height, p[1], p[3]));
    }
    return total;
}

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

// Sets the transformations to 8-bit blue, green, red and has libpng start
// on the rows. Gives the number of passes over the rows (7 for an
// interlaced file, else 1), or 0 when libpng failed.
int StartImage(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return 0;
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
    return passes;
}

// Reads count rows of each of passes passes into the top-down rows at base,
// stride bytes apart. False when libpng failed.
bool ReadRowsInto(png_structp png, int passes, uint32_t count, uint8_t* base, ptrdiff_t stride) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < count; ++y) png_read_row(png, base + static_cast<ptrdiff_t>(y) * stride, nullptr);
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

// One PNG file being decoded, from its header to its last row: what both
// the whole-picture reader and the row reader go through. libpng holds the
// address of the context, so a decoder never moves.
class PngDecoder {
public:
    // Reads the chunks up to the image data; throws the reader's message.
    explicit PngDecoder(PictureInput& input) : context_{&input}, handles_(context_) {
        PngHeader header;
        if (!ReadInfo(handles_.Png(), handles_.Info(), header)) Fail();
        if (header.width > INT32_MAX || header.height > INT32_MAX) ThrowOutOfMemory();
        width_ = header.width;
        height_ = header.height;
        facts_.format = PictureFormat::Png;
        if (header.hasMetres) {
            facts_.dpiX = DpiFromPixelsPerMetre(header.xPerMetre);
            facts_.dpiY = DpiFromPixelsPerMetre(header.yPerMetre);
        }
    }
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    int32_t Width() const { return static_cast<int32_t>(width_); }
    int32_t Height() const { return static_cast<int32_t>(height_); }
    const PictureFacts& Facts() const { return facts_; }
    bool Interlaced() const {
        return png_get_interlace_type(handles_.Png(), handles_.Info()) != PNG_INTERLACE_NONE;
    }

    // Every byte from the first image data chunk to the file's end could
    // be compressed data: a picture that would need more than deflate can
    // make of them (a small file declaring a huge size) is refused before
    // anything is allocated for its rows or spent decoding them.
    void CheckDataSuffices() const {
        png_structp png = handles_.Png();
        png_infop info = handles_.Info();
        const uint64_t bitsPerPixel = uint64_t{png_get_bit_depth(png, info)} * png_get_channels(png, info);
        const uint64_t size = context_.input->Size();
        const uint64_t left = size > context_.position ? size - context_.position : 0;
        if (InflatedBytes(width_, height_, bitsPerPixel, Interlaced()) >
            static_cast<double>(kDeflateMaxRatio) * static_cast<double>(left + 16)) {
            ThrowTooLittleData("PNG", width_, height_);
        }
    }

    // Sets up the rows' decoding. libpng's two row buffers (the previous
    // row and the row being transformed, at most 8 bytes a pixel each) are
    // sized by the file, so they are checked first.
    void Start() {
        CheckDataSuffices();
        CheckBufferSize(uint64_t{width_} * 16 + 128, context_.input->MemoryLimit());
        passes_ = StartImage(handles_.Png(), handles_.Info());
        if (passes_ == 0) Fail();
    }

    // Reads the next count rows (of every pass: an interlaced file is read
    // whole, count being its height). After a failure every call fails the
    // same way: libpng's state is then undefined.
    void Read(uint32_t count, uint8_t* base, ptrdiff_t stride) {
        if (failed_ || !ReadRowsInto(handles_.Png(), passes_, count, base, stride)) Fail();
    }

private:
    [[noreturn]] void Fail() {
        failed_ = true;
        ThrowCannotRead("PNG", context_.message);
    }

    PngContext context_;
    PngHandles handles_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    PictureFacts facts_;
    int passes_ = 0;
    bool failed_ = false;
};


}  // namespace

Picture ReadPng(PictureInput& input) {
    PngDecoder decoder(input);
    Picture picture;
    static_cast<PictureFacts&>(picture) = decoder.Facts();
    picture.raster = Raster(decoder.Width(), decoder.Height(), Raster::RowOrder::TopDown, input.MemoryLimit());
    if (!picture.raster.Empty()) {
        decoder.Start();
        decoder.Read(static_cast<uint32_t>(decoder.Height()), picture.raster.StorageData(), picture.raster.Stride());
    }
    return picture;
}

std::unique_ptr<PictureRows> OpenPngRows(PictureInput& input) {
    auto decoder = std::make_unique<PngDecoder>(input);
    // Refused here as in the whole read, so that a bomb is never read whole.
    if (decoder->Width() > 0 && decoder->Height() > 0) decoder->CheckDataSuffices();
    // An interlaced file's rows are complete only after its last pass.
    if (decoder->Interlaced() || decoder->Width() == 0 || decoder->Height() == 0) return nullptr;
    decoder->Start();
    return std::make_unique<ForwardRows<PngDecoder>>(std::move(decoder));
}

}  // namespace rastrace
