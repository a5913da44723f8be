#include "raster/TiffReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
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
// libtiff reads a mapped input in place. It needs it, too: libtiff 4.5
// refuses uncompressed tiles read through the callbacks whose size is not a
// multiple of 1024 bytes ("Invalid tile byte count").
int OnMap(thandle_t handle, tdata_t* base, toff_t* size) {
    PictureInput& input = *ContextOf(handle).input;
    const uint8_t* bytes = input.Mapped();
    if (bytes == nullptr) return 0;
    *base = const_cast<uint8_t*>(bytes);  // libtiff only reads it ("r" mode)
    *size = input.Size();
    return 1;
}
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

void ReadRgba(TIFF* tif, TiffContext& context, Raster& raster) {
    char message[1024] = {};
    if (TIFFRGBAImageOK(tif, message) == 0) ThrowCannotRead("TIFF", message);
    IgnoreAlpha(tif);
    RgbaImage rgba;
    if (!rgba.Begin(tif, message)) ThrowCannotRead("TIFF", message);
    TIFFRGBAImage& image = rgba.Get();
    if (image.isContig != 0 && image.bitspersample == 16 &&
        (image.photometric == PHOTOMETRIC_MINISBLACK || image.photometric == PHOTOMETRIC_MINISWHITE)) {
        image.put.contig = PutGrey16;
    }
    // libtiff is asked for the rows in file order; the flips are made here,
    // since it would make them only within each band.
    image.req_orientation = image.orientation;
    const uint16_t o = image.orientation;
    const bool flipX = o == ORIENTATION_TOPRIGHT || o == ORIENTATION_RIGHTTOP || o == ORIENTATION_BOTRIGHT ||
                       o == ORIENTATION_RIGHTBOT;
    const bool flipY = o == ORIENTATION_BOTRIGHT || o == ORIENTATION_RIGHTBOT || o == ORIENTATION_BOTLEFT ||
                       o == ORIENTATION_LEFTBOT;

    const auto width = static_cast<uint32_t>(raster.Width());
    const auto height = static_cast<uint32_t>(raster.Height());
    const uint32_t band = BandHeight(tif, height);
    CheckBufferSize(uint64_t{width} * band * 4, context.input->MemoryLimit());
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * band);
    context.failed = false;  // errors libtiff recovered from while opening do not count
    for (uint32_t top = 0; top < height; top += band) {
        const uint32_t rows = std::min(band, height - top);
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        if (TIFFRGBAImageGet(&image, pixels.data(), width, rows) == 0 || context.failed) {
            Fail(context, "cannot decode the image data");
        }
        for (uint32_t i = 0; i < rows; ++i) {
            const uint32_t fileRow = top + i;
            const auto y = static_cast<int32_t>(flipY ? height - 1 - fileRow : fileRow);
            uint8_t* out = raster.RowBytes(y).data();
            const uint32_t* in = pixels.data() + static_cast<size_t>(i) * width;
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t abgr = in[flipX ? width - 1 - x : x];
                out[3 * x + 0] = static_cast<uint8_t>(TIFFGetB(abgr));
                out[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(abgr));
                out[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(abgr));
            }
        }
    }
}

void ReadResolution(TIFF* tif, Picture& picture) {
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER) return;
    const auto toDpi = [unit](float value) {
        return unit == RESUNIT_INCH ? DpiFromPixelsPerInch(value) : DpiFromPixelsPerCentimetre(value);
    };
    float value = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &value) != 0) picture.dpiX = toDpi(value);
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &value) != 0) picture.dpiY = toDpi(value);
}

}  // namespace

Picture ReadTiff(PictureInput& input) {
    TiffContext context;
    context.input = &input;
    const OpenOptions options;
    const uint64_t limit = std::min<uint64_t>(input.MemoryLimit(), INT64_MAX);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.Get(), static_cast<tmsize_t>(limit));
    TIFFOpenOptionsSetErrorHandlerExtR(options.Get(), OnError, &context);
    TIFFOpenOptionsSetWarningHandlerExtR(options.Get(), OnWarning, &context);
    const TiffFile file(TIFFClientOpenExt("picture", "r", &context, OnRead, OnWrite, OnSeek, OnClose, OnSize, OnMap,
                                          OnUnmap, options.Get()));
    if (file.Get() == nullptr) Fail(context, "not a TIFF file");
    TIFF* tif = file.Get();

    uint32_t width = 0;
    uint32_t height = 0;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) == 0 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) == 0) {
        Fail(context, "no image size");
    }
    if (width > INT32_MAX || height > INT32_MAX) ThrowOutOfMemory();

    Picture picture;
    picture.format = PictureFormat::Tiff;
    picture.raster = Raster(static_cast<int32_t>(width), static_cast<int32_t>(height), Raster::RowOrder::TopDown,
                            input.MemoryLimit());
    if (!picture.raster.Empty()) ReadRgba(tif, context, picture.raster);
    ReadResolution(tif, picture);
    return picture;
}

}  // namespace rastrace

namespace rastrace {

// Not read by rows yet: the file is read whole.
std::unique_ptr<PictureRows> OpenTiffRows(PictureInput& /*input*/) { return nullptr; }

}  // namespace rastrace
