// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/JpegReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"
#include "raster/Orientation.h"

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
    // Set once the rows are being decoded: warnings about the data count
    // from then on.
    bool decoding = false;
    // libjpeg warned that the data is damaged and filled in what it could
    // not decode.
    bool damaged = false;
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

// Whether a warning of libjpeg's says that pixels could not be decoded
// from the data (and were filled in): its "Corrupt JPEG data" warnings (the
// arithmetic decoder's among them, whose code this build's header may not
// name) and a premature end. Extra bytes before the end marker, which many
// writers leave, lose nothing, nor does a bad colour profile.
bool LosesPixels(const jpeg_error_mgr& error) {
    const int code = error.msg_code;
    if (code == JWRN_JPEG_EOF) return true;
    if (code == JWRN_BOGUS_ICC || (code == JWRN_EXTRANEOUS_DATA && error.msg_parm.i[1] == JPEG_EOI)) return false;
    if (code < 0 || code > error.last_jpeg_message || error.jpeg_message_table[code] == nullptr) return false;
    return std::strncmp(error.jpeg_message_table[code], "Corrupt JPEG data", 17) == 0;
}

// libjpeg's messages: traces are dropped; a warning that the data is
// damaged marks the picture as filled in, or fails the read where it comes
// before the first band of the first scan is complete (nothing of the
// picture could be read).
void OnEmitMessage(j_common_ptr info, int level) {
    JpegContext& context = ContextOf(info);
    if (level >= 0 || !context.decoding || !LosesPixels(*info->err)) return;
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (!context.damaged && decompress->input_scan_number <= 1 && decompress->input_iMCU_row == 0) {
        info->err->format_message(info, context.message);
        std::longjmp(context.jump, 1);
    }
    context.damaged = true;
}

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
    int orientation = 1;  // EXIF Orientation
};

// Reads the header and starts decompression. False when libjpeg failed.
bool StartDecompress(j_decompress_ptr info, JpegContext& context, JpegHeader& header, uint64_t memoryLimit) {
    if (setjmp(context.jump)) return false;
    info->client_data = &context;  // kept by jpeg_create_decompress
    jpeg_create_decompress(info);
    info->mem->max_memory_to_use = static_cast<long>(std::clamp<uint64_t>(memoryLimit, 1, LONG_MAX));  // 0: no limit
    info->src = &context.source;
    info->progress = &context.progress;
    jpeg_save_markers(info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(info, TRUE);
    for (jpeg_saved_marker_ptr m = info->marker_list; m != nullptr; m = m->next) {
        if (m->marker != JPEG_APP0 + 1) continue;
        if (const std::optional<int> o = ExifOrientation({m->data, m->data_length})) {
            header.orientation = *o;
            break;
        }
    }
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
        context_.error.emit_message = OnEmitMessage;
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

    int Orientation() const { return header_.orientation; }
    // The picture as it is shown: the stored one turned as its EXIF
    // Orientation says.
    int32_t ShownWidth() const { return SwapsAxes(header_.orientation) ? Height() : Width(); }
    int32_t ShownHeight() const { return SwapsAxes(header_.orientation) ? Width() : Height(); }
    // Whether libjpeg filled in pixels it could not decode from the data.
    bool Damaged() const { return context_.damaged; }

    // Huffman coding spends at least one bit on every 8 x 8 block of every
    // component (its DC difference, in the first scan that holds it), so
    // the data after the first scan header must hold a bit a block. A file
    // declaring far more pixels than that (a header with almost no data,
    // or scans left out) is refused before anything is allocated for it.
    // Arithmetic coding has no such floor; its files are bounded by the
    // memory limit alone.
    void CheckDataSuffices() {
        j_decompress_ptr info = decompressor_.Get();
        if (info->arith_code) return;
        uint64_t blocks = 0;
        for (int c = 0; c < info->num_components; ++c) {
            const jpeg_component_info& component = info->comp_info[c];
            blocks += uint64_t{component.width_in_blocks} * component.height_in_blocks;
        }
        const uint64_t read = context_.position - std::min<uint64_t>(context_.position, info->src->bytes_in_buffer);
        const uint64_t size = context_.input->Size();
        const uint64_t left = size > read ? size - read : 0;
        if (left < blocks / 8) ThrowTooLittleData("JPEG", header_.width, header_.height);
    }

    // Starts the decoding (a progressive file's scans are all read here);
    // held is the memory the caller already holds for the picture, which
    // libjpeg's own buffers (a progressive file's coefficients) may not
    // take. Refuses a file whose data cannot hold its picture.
    void Start(uint64_t held = 0) {
        CheckDataSuffices();
        const uint64_t limit = context_.input->MemoryLimit();
        // At least a byte: libjpeg takes 0 for no limit at all.
        const uint64_t room = limit > held ? limit - held : 1;
        decompressor_.Get()->mem->max_memory_to_use = static_cast<long>(std::clamp<uint64_t>(room, 1, LONG_MAX));
        if (header_.cmyk) {
            CheckBufferSize(uint64_t{header_.width} * 4, context_.input->MemoryLimit());
            cmykRow_.resize(static_cast<size_t>(header_.width) * 4);
        }
        context_.decoding = true;
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
    picture.raster =
        Raster(decoder.ShownWidth(), decoder.ShownHeight(), Raster::RowOrder::TopDown, input.MemoryLimit());
    decoder.Start(picture.raster.Stride() * static_cast<uint64_t>(picture.raster.Height()));
    const auto height = static_cast<uint32_t>(decoder.Height());
    if (decoder.Orientation() == 1) {
        decoder.Read(height, picture.raster.StorageData(), picture.raster.Stride());
    } else {
        std::vector<uint8_t> row(static_cast<size_t>(decoder.Width()) * 3);
        for (uint32_t y = 0; y < height; ++y) {
            decoder.Read(1, row.data(), static_cast<ptrdiff_t>(row.size()));
            PlaceStoredRow(picture.raster, decoder.Orientation(), y, static_cast<uint32_t>(decoder.Width()), height,
                           row.data());
        }
    }
    picture.truncated = decoder.Damaged();
    // The rows are all in: what follows them (even a missing end marker)
    // does not matter, so the decompressor is dropped without finishing.
    return picture;
}

std::unique_ptr<PictureRows> OpenJpegRows(PictureInput& input) {
    auto decoder = std::make_unique<JpegDecoder>(input);
    decoder->CheckDataSuffices();  // as in the whole read, so that a bomb is never read whole
    // Rows come from libjpeg from the top down, so a picture shown turned
    // or upside down is read whole; one shown mirrored is mirrored by row.
    const int orientation = decoder->Orientation();
    if (orientation != 1 && orientation != 2) return nullptr;
    decoder->Start();
    std::unique_ptr<PictureRows> rows = std::make_unique<ForwardRows<JpegDecoder>>(std::move(decoder));
    return MirroredRows(std::move(rows), orientation == 2, false);
}

}  // namespace rastrace
