#include "raster/JpegReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
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

bool Decompress(j_decompress_ptr info, JpegContext& context, uint8_t* base, size_t stride, uint8_t* cmykRow) {
    if (setjmp(context.jump)) return false;
    jpeg_start_decompress(info);
    if (info->output_components != (cmykRow != nullptr ? 4 : 3)) ERREXIT(info, JERR_CONVERSION_NOTIMPL);
    while (info->output_scanline < info->output_height) {
        uint8_t* row = base + info->output_scanline * stride;
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

[[noreturn]] void Fail(const JpegContext& context) {
    if (context.outOfMemory) ThrowOutOfMemory();
    ThrowCannotRead("JPEG", context.message);
}

std::optional<int32_t> DensityDpi(int unit, uint16_t density) {
    if (unit == 1) return DpiFromPixelsPerInch(density);
    if (unit == 2) return DpiFromPixelsPerCentimetre(density);
    return std::nullopt;
}

}  // namespace

Picture ReadJpeg(PictureInput& input) {
    std::vector<uint8_t> buffer(kBufferSize);
    JpegContext context;
    context.input = &input;
    context.buffer = buffer.data();
    jpeg_std_error(&context.error);
    context.error.error_exit = OnErrorExit;
    context.error.output_message = OnOutputMessage;
    context.source.init_source = OnInitSource;
    context.source.fill_input_buffer = OnFillInput;
    context.source.skip_input_data = OnSkipInput;
    context.source.resync_to_restart = jpeg_resync_to_restart;
    context.source.term_source = OnTermSource;
    context.progress.progress_monitor = OnProgress;

    JpegDecompressor decompressor;
    j_decompress_ptr info = decompressor.Get();
    info->err = &context.error;
    JpegHeader header;
    if (!StartDecompress(info, context, header, input.MemoryLimit())) Fail(context);
    if (header.width > INT32_MAX || header.height > INT32_MAX) ThrowOutOfMemory();

    Picture picture;
    picture.format = PictureFormat::Jpeg;
    picture.raster = Raster(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height),
                            Raster::RowOrder::TopDown, input.MemoryLimit());
    std::vector<uint8_t> cmykRow(header.cmyk ? static_cast<size_t>(header.width) * 4 : 0);
    if (!Decompress(info, context, picture.raster.StorageData(), picture.raster.Stride(),
                    header.cmyk ? cmykRow.data() : nullptr)) {
        Fail(context);
    }
    // The rows are all in: what follows them (even a missing end marker)
    // does not matter, so the decompressor is dropped without finishing.
    picture.dpiX = DensityDpi(header.densityUnit, header.xDensity);
    picture.dpiY = DensityDpi(header.densityUnit, header.yDensity);
    return picture;
}

}  // namespace rastrace

namespace rastrace {

// Not read by rows yet: the file is read whole.
std::unique_ptr<PictureRows> OpenJpegRows(PictureInput& /*input*/) { return nullptr; }

}  // namespace rastrace
