// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/TiffReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"
#include "raster/Orientation.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <tiffio.h>

namespace rastrace {

namespace {

// What libtiff's callbacks touch: the input, its read position and the
// first error message.
struct TiffContext {
    PictureInput* input = nullptr;
    uint64_t position = 0;
    bool failed = false;
    char message[512] = {};
};

TiffContext& ContextOf(thandle_t handle) { return *static_cast<TiffContext*>(handle); }

int OnError(TIFF* /*tif*/, void* userData, const char* /*module*/, const char* format, va_list args) {
    auto& context = *static_cast<TiffContext*>(userData);
    if (!context.failed) {
        context.failed = true;
        std::vsnprintf(context.message, sizeof context.message, format, args);
    }
    return 1;  // handled: nothing goes to stderr
}

int OnWarning(TIFF* /*tif*/, void* /*userData*/, const char* /*module*/, const char* /*format*/, va_list /*args*/) {
    return 1;
}

tmsize_t OnRead(thandle_t handle, void* buffer, tmsize_t size) {
    TiffContext& context = ContextOf(handle);
    if (size <= 0) return 0;
    const size_t got = context.input->ReadAt(context.position, static_cast<uint8_t*>(buffer), static_cast<size_t>(size));
    context.position += got;
    return static_cast<tmsize_t>(got);
}

tmsize_t OnWrite(thandle_t /*handle*/, void* /*buffer*/, tmsize_t /*size*/) { return -1; }

toff_t OnSeek(thandle_t handle, toff_t offset, int whence) {
    TiffContext& context = ContextOf(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = context.position;
    if (whence == SEEK_END) base = context.input->Size();
    if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
    context.position = base + offset;
    return context.position;
}

int OnClose(thandle_t /*handle*/) { return 0; }
toff_t OnSize(thandle_t handle) { return ContextOf(handle).input->Size(); }
// The input is never mapped: a mapped file that shrinks while it is read
// kills the process (SIGBUS), and a mapped scan would stay resident as it
// is read. Uncompressed tiles then need a raw buffer of their exact size
// (see TiffDecoder::Begin).
int OnMap(thandle_t /*handle*/, tdata_t* /*base*/, toff_t* /*size*/) { return 0; }
void OnUnmap(thandle_t /*handle*/, tdata_t /*base*/, toff_t /*size*/) {}

[[noreturn]] void Fail(const TiffContext& context, const char* fallback) {
    ThrowCannotRead("TIFF", context.failed ? context.message : fallback);
}

class OpenOptions {
public:
    OpenOptions() : options_(TIFFOpenOptionsAlloc()) {
        if (options_ == nullptr) ThrowOutOfMemory();
    }
    ~OpenOptions() { TIFFOpenOptionsFree(options_); }
    OpenOptions(const OpenOptions&) = delete;
    OpenOptions& operator=(const OpenOptions&) = delete;
    TIFFOpenOptions* Get() const { return options_; }

private:
    TIFFOpenOptions* options_;
};

class TiffFile {
public:
    explicit TiffFile(TIFF* tif) : tif_(tif) {}
    ~TiffFile() {
        if (tif_ != nullptr) TIFFClose(tif_);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
    TIFF* Get() const { return tif_; }
    void Reset(TIFF* tif) {
        if (tif_ != nullptr) TIFFClose(tif_);
        tif_ = tif;
    }

private:
    TIFF* tif_;
};

class RgbaImage {
public:
    RgbaImage() = default;
    ~RgbaImage() {
        if (begun_) TIFFRGBAImageEnd(&image_);
    }
    RgbaImage(const RgbaImage&) = delete;
    RgbaImage& operator=(const RgbaImage&) = delete;

    bool Begin(TIFF* tif, char* message) {
        begun_ = TIFFRGBAImageBegin(&image_, tif, 1, message) != 0;  // stop at the first bad strip or tile
        return begun_;
    }
    TIFFRGBAImage& Get() { return image_; }

private:
    TIFFRGBAImage image_{};
    bool begun_ = false;
};

// libtiff's RGBA interface multiplies colours by an alpha it knows of; the
// extra samples are declared unspecified so that colours come out as stored.
void IgnoreAlpha(TIFF* tif) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 0 || count == 0) return;
    std::vector<uint16_t> unspecified(count, EXTRASAMPLE_UNSPECIFIED);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, count, unspecified.data());
}

// The rows libtiff hands over in one call: one strip or one row of tiles,
// so that no strip or tile is decoded twice.
uint32_t BandHeight(TIFF* tif, uint32_t height) {
    uint32_t rows = 0;
    if (TIFFIsTiled(tif) != 0) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &rows);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    }
    return std::clamp<uint32_t>(rows, 1, std::max<uint32_t>(height, 1));
}

// libtiff's RGBA interface takes the high byte of 16-bit grey samples (and
// rounds 16-bit colour ones); this puts them rounded to nearest, as every
// other 16-bit sample. Called by libtiff for w x h pixels, pp at the first
// sample, with skews (in pixels) to the next row of each side.
void PutGrey16(TIFFRGBAImage* image, uint32_t* cp, uint32_t /*x*/, uint32_t /*y*/, uint32_t w, uint32_t h,
               int32_t fromskew, int32_t toskew, unsigned char* pp) {
    const int samples = image->samplesperpixel;
    const bool inverted = image->photometric == PHOTOMETRIC_MINISWHITE;
    const uint16_t* wp = reinterpret_cast<const uint16_t*>(pp);
    for (; h > 0; --h) {
        for (uint32_t i = 0; i < w; ++i) {
            uint32_t v = (uint32_t{*wp} * 255 + 32767) / 65535;
            if (inverted) v = 255 - v;
            *cp++ = v | v << 8 | v << 16 | 0xFF000000u;
            wp += samples;
        }
        cp += toskew;
        wp += static_cast<ptrdiff_t>(fromskew) * samples;
    }
}

// The most bytes a compression can make of one byte of a strip or tile,
// or none where it has no small bound (or none is needed: uncompressed
// strips must hold every byte, which libtiff checks).
std::optional<double> MaxRatio(uint16_t compression, uint64_t scanlineBytes) {
    switch (compression) {
        case COMPRESSION_PACKBITS: return 64;  // two bytes for a run of 128
        case COMPRESSION_LZW: return 4096;     // a code of 9 bits or more for at most 4094 bytes
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return 1032;  // two bits or more for a match of 258 bytes
        case COMPRESSION_OJPEG:
        case COMPRESSION_JPEG: return 8192;  // a bit or more for each 8 x 8 block of every component
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:  // a bit or more a row
            return 8.0 * static_cast<double>(std::max<uint64_t>(scanlineBytes, 1));
        case COMPRESSION_LZMA:
        case COMPRESSION_ZSTD: return 65536;
        default: return std::nullopt;
    }
}

void ReadResolution(TIFF* tif, PictureFacts& facts) {
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER) return;
    const auto toDpi = [unit](float value) {
        return unit == RESUNIT_INCH ? DpiFromPixelsPerInch(value) : DpiFromPixelsPerCentimetre(value);
    };
    float value = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &value) != 0) facts.dpiX = toDpi(value);
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &value) != 0) facts.dpiY = toDpi(value);
}

// One TIFF file's first image being decoded, a band (one strip or one row
// of tiles) at a time, in any order: what both the whole-picture reader
// and the row reader go through. libtiff holds the address of the context,
// so a decoder never moves.
class TiffDecoder {
public:
    // Opens the file and reads its first directory; throws the reader's
    // message.
    explicit TiffDecoder(PictureInput& input) : context_{&input} {
        const uint64_t limit = std::min<uint64_t>(input.MemoryLimit(), INT64_MAX);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options_.Get(), static_cast<tmsize_t>(limit));
        TIFFOpenOptionsSetErrorHandlerExtR(options_.Get(), OnError, &context_);
        TIFFOpenOptionsSetWarningHandlerExtR(options_.Get(), OnWarning, &context_);
        file_.Reset(TIFFClientOpenExt("picture", "rm", &context_, OnRead, OnWrite, OnSeek, OnClose, OnSize, OnMap,
                                      OnUnmap, options_.Get()));
        if (file_.Get() == nullptr) Fail(context_, "not a TIFF file");
        TIFF* tif = file_.Get();
        if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width_) == 0 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height_) == 0) {
            Fail(context_, "no image size");
        }
        if (width_ > INT32_MAX || height_ > INT32_MAX) ThrowOutOfMemory();
        band_ = BandHeight(tif, height_);
        uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
        orientation_ = OrientationOf(orientation);
        facts_.format = PictureFormat::Tiff;
        ReadResolution(tif, facts_);
    }
    TiffDecoder(const TiffDecoder&) = delete;
    TiffDecoder& operator=(const TiffDecoder&) = delete;

    int32_t Width() const { return static_cast<int32_t>(width_); }
    int32_t Height() const { return static_cast<int32_t>(height_); }
    const PictureFacts& Facts() const { return facts_; }
    uint32_t Band() const { return band_; }
    // The bytes of the decoded band Begin allocates.
    uint64_t BandBytes() const { return uint64_t{width_} * band_ * 4; }
    // Whether the file's rows run from the bottom up.
    bool FlipY() const { return flipY_; }
    int Orientation() const { return orientation_; }
    // The picture as it is shown: the stored one turned as its Orientation
    // tag says.
    int32_t ShownWidth() const { return SwapsAxes(orientation_) ? Height() : Width(); }
    int32_t ShownHeight() const { return SwapsAxes(orientation_) ? Width() : Height(); }

    // A compressed picture that would need more than its compression can
    // make of the bytes its strips or tiles hold in the file (a small file
    // declaring a huge size, strips past its end, or many strips on the
    // same few bytes) is refused before its band is allocated or decoded.
    void CheckDataSuffices() const {
        TIFF* tif = file_.Get();
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        const std::optional<double> ratio = MaxRatio(compression, static_cast<uint64_t>(TIFFScanlineSize64(tif)));
        if (!ratio) return;
        const bool tiled = TIFFIsTiled(tif) != 0;
        const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
        const uint64_t size = context_.input->Size();
        uint16_t planar = PLANARCONFIG_CONTIG;
        uint16_t samples = 1;
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        const double planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
        const double decoded = tiled ? static_cast<double>(TIFFTileSize64(tif)) * count
                                     : static_cast<double>(TIFFVStripSize64(tif, height_)) * planes;
        // Each strip's or tile's place in the file takes four bytes or more
        // of it (but for a single one, held in its directory entry).
        if (count > size / 4 + 1) ThrowTooLittleData("TIFF", width_, height_);
        // The bytes held: the union of the strips' ranges within the file.
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        ranges.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t offset = TIFFGetStrileOffset(tif, i);
            const uint64_t bytes = TIFFGetStrileByteCount(tif, i);
            if (offset < size && bytes > 0) ranges.emplace_back(offset, offset + std::min(bytes, size - offset));
        }
        std::sort(ranges.begin(), ranges.end());
        uint64_t held = 0;
        uint64_t end = 0;
        for (const auto& [first, last] : ranges) {
            const uint64_t from = std::max(first, end);
            if (last > from) held += last - from;
            end = std::max(end, last);
        }
        if (decoded > *ratio * static_cast<double>(held) + 4096) ThrowTooLittleData("TIFF", width_, height_);
    }

    // Sets up libtiff's RGBA interface for the image and the band buffer.
    void Begin() {
        TIFF* tif = file_.Get();
        char message[1024] = {};
        if (TIFFRGBAImageOK(tif, message) == 0) ThrowCannotRead("TIFF", message);
        IgnoreAlpha(tif);
        if (!rgba_.Begin(tif, message)) ThrowCannotRead("TIFF", message);
        TIFFRGBAImage& image = rgba_.Get();
        if (image.isContig != 0 && image.bitspersample == 16 &&
            (image.photometric == PHOTOMETRIC_MINISBLACK || image.photometric == PHOTOMETRIC_MINISWHITE)) {
            image.put.contig = PutGrey16;
        }
        // libtiff is asked for the rows in file order; the flips are made
        // here, since it would make them only within each band. The
        // orientations that swap the axes are placed by the caller from
        // rows as stored.
        image.req_orientation = image.orientation;
        flipX_ = orientation_ == ORIENTATION_TOPRIGHT || orientation_ == ORIENTATION_BOTRIGHT;
        flipY_ = orientation_ == ORIENTATION_BOTRIGHT || orientation_ == ORIENTATION_BOTLEFT;
        CheckDataSuffices();

        const uint64_t limit = context_.input->MemoryLimit();
        CheckBufferSize(BandBytes(), limit);
        pixels_.resize(static_cast<size_t>(width_) * band_);
        // Read through the callbacks, libtiff 4.5 refuses an uncompressed
        // tile unless its raw buffer is exactly one tile ("Invalid tile byte
        // count"); its own buffer is rounded up to a multiple of 1024 bytes.
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        if (TIFFIsTiled(tif) != 0 && compression == COMPRESSION_NONE) {
            const tmsize_t tileSize = TIFFTileSize(tif);
            if (tileSize <= 0) Fail(context_, "invalid tile size");
            CheckBufferSize(static_cast<uint64_t>(tileSize), limit);
            rawTile_.resize(static_cast<size_t>(tileSize));
            TIFFReadBufferSetup(tif, rawTile_.data(), tileSize);
        }
        context_.failed = false;  // errors libtiff recovered from while opening do not count
    }

    // Decodes the band holding file row fileRow, unless it is the one
    // decoded last. After a failure every call fails the same way.
    void DecodeBandOf(uint32_t fileRow) {
        const uint32_t top = fileRow / band_ * band_;
        if (decoded_ && top == decodedTop_) return;
        decoded_ = false;
        TIFFRGBAImage& image = rgba_.Get();
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        if (context_.failed || TIFFRGBAImageGet(&image, pixels_.data(), width_, std::min(band_, height_ - top)) == 0 ||
            context_.failed) {
            Fail(context_, "cannot decode the image data");
        }
        decoded_ = true;
        decodedTop_ = top;
    }

    // Puts file row fileRow of the decoded band as blue, green, red.
    void CopyRow(uint32_t fileRow, uint8_t* out) const {
        const uint32_t* in = pixels_.data() + static_cast<size_t>(fileRow - decodedTop_) * width_;
        for (uint32_t x = 0; x < width_; ++x) {
            const uint32_t abgr = in[flipX_ ? width_ - 1 - x : x];
            out[3 * x + 0] = static_cast<uint8_t>(TIFFGetB(abgr));
            out[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(abgr));
            out[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(abgr));
        }
    }

    // The file row of picture row y (and the picture row of file row y).
    uint32_t FileRow(uint32_t y) const { return flipY_ ? height_ - 1 - y : y; }

private:
    TiffContext context_;
    OpenOptions options_;
    std::vector<uint8_t> rawTile_;  // libtiff's raw buffer: outlives the file
    TiffFile file_{nullptr};
    RgbaImage rgba_;                // ended before the file closes
    std::vector<uint32_t> pixels_;  // the decoded band, libtiff's ABGR
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t band_ = 1;
    int orientation_ = 1;
    PictureFacts facts_;
    bool flipX_ = false;
    bool flipY_ = false;
    bool decoded_ = false;
    uint32_t decodedTop_ = 0;
};

// A file's rows in any order, a band decoded at a time.
class TiffRows final : public PictureRows {
public:
    explicit TiffRows(std::unique_ptr<TiffDecoder> decoder)
        : PictureRows(decoder->Width(), decoder->Height(), decoder->Facts()), decoder_(std::move(decoder)) {}

    bool AnyOrder() const override { return true; }
    int32_t BandRows() const override { return static_cast<int32_t>(decoder_->Band()); }
    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        if (first < 0 || count < 1 || count > Height() - first) throw std::logic_error("TIFF rows out of range");
        for (int32_t i = 0; i < count; ++i) {
            const uint32_t fileRow = decoder_->FileRow(static_cast<uint32_t>(first + i));
            decoder_->DecodeBandOf(fileRow);
            decoder_->CopyRow(fileRow, dst + static_cast<ptrdiff_t>(i) * stride);
        }
    }

private:
    std::unique_ptr<TiffDecoder> decoder_;
};

// The most a band may take to be read by rows: beyond it (a picture in one
// huge strip) the file is read whole, which needs that band and the picture.
constexpr uint64_t kMaxBandBytes = uint64_t{16} << 20;

}  // namespace

Picture ReadTiff(PictureInput& input) {
    TiffDecoder decoder(input);
    Picture picture;
    static_cast<PictureFacts&>(picture) = decoder.Facts();
    picture.raster =
        Raster(decoder.ShownWidth(), decoder.ShownHeight(), Raster::RowOrder::TopDown, input.MemoryLimit());
    if (!picture.raster.Empty()) {
        decoder.Begin();
        // In file order, so that each band is decoded once.
        const auto height = static_cast<uint32_t>(decoder.Height());
        if (SwapsAxes(decoder.Orientation())) {
            // Each stored row becomes a column of the picture shown.
            const auto width = static_cast<uint32_t>(decoder.Width());
            std::vector<uint8_t> row(size_t{width} * 3);
            for (uint32_t fileRow = 0; fileRow < height; ++fileRow) {
                decoder.DecodeBandOf(fileRow);
                decoder.CopyRow(fileRow, row.data());
                PlaceStoredRow(picture.raster, decoder.Orientation(), fileRow, width, height, row.data());
            }
            return picture;
        }
        for (uint32_t fileRow = 0; fileRow < height; ++fileRow) {
            decoder.DecodeBandOf(fileRow);
            decoder.CopyRow(fileRow, picture.raster.RowBytes(static_cast<int32_t>(decoder.FileRow(fileRow))).data());
        }
    }
    return picture;
}

std::unique_ptr<PictureRows> OpenTiffRows(PictureInput& input) {
    auto decoder = std::make_unique<TiffDecoder>(input);
    // Refused here as in the whole read, so that a bomb is never read whole.
    if (decoder->Width() > 0 && decoder->Height() > 0) decoder->CheckDataSuffices();
    // A picture whose rows are shown as columns would need every band for
    // each row shown: it is read whole.
    if (decoder->Width() == 0 || decoder->Height() == 0 || decoder->BandBytes() > kMaxBandBytes ||
        SwapsAxes(decoder->Orientation())) {
        return nullptr;
    }
    decoder->Begin();
    return std::make_unique<TiffRows>(std::move(decoder));
}

}  // namespace rastrace
