#include "raster/JpegReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace rastrace {

namespace {

constexpr size_t kBufferSize = size_t{1} << 16;
constexpr int kMaxScans = 500;

// Everything libjpeg's callbacks touch. Plain data only: errors leave by
// longjmp, which must not skip any destructor.
struct JpegContext {
    jpeg_error_mgr error{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    PictureInput* input = nullptr;
    uint64_t position = 0;
    uint8_t* buffer = nullptr;  // kBufferSize bytes
    bool outOfMemory = false;
    char message[JMSG_LENGTH_MAX] = {};
};

JpegContext& ContextOf(j_common_ptr info) { return *static_cast<JpegContext*>(info->client_data); }

void OnErrorExit(j_common_ptr info) {
    JpegContext& context = ContextOf(info);
    const int code = info->err->msg_code;
    context.outOfMemory = code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE;
    info->err->format_message(info, context.message);
    std::longjmp(context.jump, 1);
}

void OnOutputMessage(j_common_ptr /*info*/) {}

void OnProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans) {
        JpegContext& context = ContextOf(info);
        std::snprintf(context.message, sizeof context.message, "more than %d scans", kMaxScans);
        std::longjmp(context.jump, 1);
    }
}

void OnInitSource(j_decompress_ptr /*info*/) {}
void OnTermSource(j_decompress_ptr /*info*/) {}

boolean OnFillInput(j_decompress_ptr info) {
    JpegContext& context = ContextOf(reinterpret_cast<j_common_ptr>(info));
    const size_t got = context.input->ReadAt(context.position, context.buffer, kBufferSize);
    // A file that ends early is an error rather than libjpeg's grey rows.
    if (got == 0) ERREXIT(info, JERR_INPUT_EOF);
    context.position += got;
    info->src->next_input_byte = context.buffer;
    info->src->bytes_in_buffer = got;
    return TRUE;
}

void OnSkipInput(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr& source = *info->src;
    const auto n = static_cast<size_t>(count);
    if (n <= source.bytes_in_buffer) {
        source.next_input_byte += n;
        source.bytes_in_buffer -= n;
        return;
    }
    JpegContext& context = ContextOf(reinterpret_cast<j_common_ptr>(info));
    context.position += n - source.bytes_in_buffer;
    source.next_input_byte = nullptr;
    source.bytes_in_buffer = 0;
}

struct JpegHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    bool cmyk = false;
    int densityUnit = 0;
    uint16_t xDensity = 0;
    uint16_t yDensity = 0;
};

// Reads the header and starts decompression. False when libjpeg failed.
bool StartDecompress(j_decompress_ptr info, JpegContext& context, JpegHeader& header, uint64_t memoryLimit) {
    if (setjmp(context.jump)) return false;
    info->client_data = &context;  // kept by jpeg_create_decompress
    jpeg_create_decompress(info);
    info->mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(memoryLimit, LONG_MAX));
    info->src = &context.source;
    info->progress = &context.progress;
    jpeg_read_header(info, TRUE);
    header.cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    info->out_color_space = header.cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if (info->saw_JFIF_marker) {
        header.densityUnit = info->density_unit;
        header.xDensity = info->X_density;
        header.yDensity = info->Y_density;
    }
    header.width = info->image_width;
    header.height = info->image_height;
    return true;
}

bool StartOutput(j_decompress_ptr info, JpegContext& context, bool cmyk) {
    if (setjmp(context.jump)) return false;
    jpeg_start_decompress(info);
    if (info->output_components != (cmyk ? 4 : 3)) ERREXIT(info, JERR_CONVERSION_NOTIMPL);
    return true;
}

// Reads the next count rows into the top-down rows at base, stride bytes
// apart; a CMYK file's rows go through cmykRow (width * 4 bytes).
bool ReadScanlines(j_decompress_ptr info, JpegContext& context, JDIMENSION count, uint8_t* base, ptrdiff_t stride,
                   uint8_t* cmykRow) {
    if (setjmp(context.jump)) return false;
    for (JDIMENSION i = 0; i < count; ++i) {
        uint8_t* row = base + static_cast<ptrdiff_t>(i) * stride;
        JSAMPROW target = cmykRow != nullptr ? cmykRow : row;
        if (jpeg_read_scanlines(info, &target, 1) != 1) ERREXIT(info, JERR_INPUT_EOF);
        if (cmykRow != nullptr) {
            for (JDIMENSION x = 0; x < info->output_width; ++x) {
                const unsigned k = cmykRow[4 * x + 3];
                row[3 * x + 0] = static_cast<uint8_t>(cmykRow[4 * x + 2] * k / 255);
                row[3 * x + 1] = static_cast<uint8_t>(cmykRow[4 * x + 1] * k / 255);
                row[3 * x + 2] = static_cast<uint8_t>(cmykRow[4 * x + 0] * k / 255);
            }
        }
    }
    return true;
}

// Destroys the decompressor on every path (safe on a half-made one).
class JpegDecompressor {
public:
    JpegDecompressor() = default;
    ~JpegDecompressor() { jpeg_destroy_decompress(&info_); }
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;
    j_decompress_ptr Get() { return &info_; }

private:
    jpeg_decompress_struct info_{};
};

[[noreturn]] void ThrowFailure(const JpegContext& context) {
    if (context.outOfMemory) ThrowOutOfMemory();
    ThrowCannotRead("JPEG", context.message);
}

std::optional<int32_t> DensityDpi(int unit, uint16_t density) {
    if (unit == 1) return DpiFromPixelsPerInch(density);
    if (unit == 2) return DpiFromPixelsPerCentimetre(density);
    return std::nullopt;
}

// One JPEG file being decoded, from its header to its last row: what both
// the whole-picture reader and the row reader go through. libjpeg holds
// the addresses of the context and its buffer, so a decoder never moves.
class JpegDecoder {
public:
    // Reads the header; throws the reader's message.
    explicit JpegDecoder(PictureInput& input) : buffer_(kBufferSize) {
        context_.input = &input;
        context_.buffer = buffer_.data();
        jpeg_std_error(&context_.error);
        context_.error.error_exit = OnErrorExit;
        context_.error.output_message = OnOutputMessage;
        context_.source.init_source = OnInitSource;
        context_.source.fill_input_buffer = OnFillInput;
        context_.source.skip_input_data = OnSkipInput;
        context_.source.resync_to_restart = jpeg_resync_to_restart;
        context_.source.term_source = OnTermSource;
        context_.progress.progress_monitor = OnProgress;
        j_decompress_ptr info = decompressor_.Get();
        info->err = &context_.error;
        if (!StartDecompress(info, context_, header_, input.MemoryLimit())) ThrowFailure(context_);
        if (header_.width > INT32_MAX || header_.height > INT32_MAX) ThrowOutOfMemory();
        facts_.format = PictureFormat::Jpeg;
        facts_.dpiX = DensityDpi(header_.densityUnit, header_.xDensity);
        facts_.dpiY = DensityDpi(header_.densityUnit, header_.yDensity);
    }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    int32_t Width() const { return static_cast<int32_t>(header_.width); }
    int32_t Height() const { return static_cast<int32_t>(header_.height); }
    const PictureFacts& Facts() const { return facts_; }

    // Starts the decoding (a progressive file's scans are all read here).
    void Start() {
        if (header_.cmyk) {
            CheckBufferSize(uint64_t{header_.width} * 4, context_.input->MemoryLimit());
            cmykRow_.resize(static_cast<size_t>(header_.width) * 4);
        }
        if (!StartOutput(decompressor_.Get(), context_, header_.cmyk)) Fail();
    }

    // Reads the next count rows. After a failure every call fails the same
    // way: libjpeg's state is then undefined.
    void Read(uint32_t count, uint8_t* base, ptrdiff_t stride) {
        if (failed_ ||
            !ReadScanlines(decompressor_.Get(), context_, count, base, stride, header_.cmyk ? cmykRow_.data() : nullptr)) {
            Fail();
        }
    }

private:
    [[noreturn]] void Fail() {
        failed_ = true;
        ThrowFailure(context_);
    }

    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> cmykRow_;
    JpegContext context_;
    JpegDecompressor decompressor_;
    JpegHeader header_;
    PictureFacts facts_;
    bool failed_ = false;
};


}  // namespace

Picture ReadJpeg(PictureInput& input) {
    JpegDecoder decoder(input);
    Picture picture;
    static_cast<PictureFacts&>(picture) = decoder.Facts();
    picture.raster = Raster(decoder.Width(), decoder.Height(), Raster::RowOrder::TopDown, input.MemoryLimit());
    decoder.Start();
    decoder.Read(static_cast<uint32_t>(decoder.Height()), picture.raster.StorageData(), picture.raster.Stride());
    // The rows are all in: what follows them (even a missing end marker)
    // does not matter, so the decompressor is dropped without finishing.
    return picture;
}

std::unique_ptr<PictureRows> OpenJpegRows(PictureInput& input) {
    auto decoder = std::make_unique<JpegDecoder>(input);
    decoder->Start();
    return std::make_unique<ForwardRows<JpegDecoder>>(std::move(decoder));
}

}  // namespace rastrace
