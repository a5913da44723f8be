// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/PictureReader.h"

#include "common/Error.h"
#include "raster/BmpReader.h"
#include "raster/JpegReader.h"
#include "raster/PictureInput.h"
#include "raster/PngReader.h"
#include "raster/TiffReader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rastrace {

namespace {

// Enough of a file's start to recognise every kind.
constexpr size_t kHeadSize = 8;
// The bitmap reader decides from its 14-byte file header alone that a file
// without "BM" is no bitmap, so that much of an unknown stream is enough.
constexpr size_t kBitmapFileHeaderSize = 14;

bool StartsWith(std::span<const uint8_t> head, std::initializer_list<uint8_t> magic) {
    return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
}

Picture FromBitmap(DecodedBitmap&& bitmap) {
    Picture picture;
    static_cast<PictureFacts&>(picture) = BitmapFacts(bitmap.header, bitmap.truncated);
    picture.raster = std::move(bitmap.raster);
    return picture;
}

uint64_t MemoryLimitOf(const ReadLimits& limits) { return limits.memory ? *limits.memory : MemoryAvailableNow(); }

Picture ReadWith(PictureFormat format, PictureInput& input, const ReadLimits& limits) {
    input.SetMemoryLimit(MemoryLimitOf(limits));
    try {
        switch (format) {
            case PictureFormat::Png: return ReadPng(input);
            case PictureFormat::Tiff: return ReadTiff(input);
            case PictureFormat::Jpeg: return ReadJpeg(input);
            case PictureFormat::Bmp: break;
        }
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
    throw Error("Bitmap image is not valid");  // not reached: Bmp never comes here
}

// Closes a descriptor on every path.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

// Reads up to limit bytes of a stream from its current position; fewer only
// at its end. "Stream read error" on a read error.
void ReadStream(int fd, std::vector<uint8_t>& bytes, uint64_t limit) {
    constexpr size_t kBlock = size_t{1} << 16;
    while (bytes.size() < limit) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, limit - bytes.size()));
        const size_t old = bytes.size();
        bytes.resize(old + want);
        const ssize_t got = ::read(fd, bytes.data() + old, want);
        if (got < 0 && errno == EINTR) {
            bytes.resize(old);
            continue;
        }
        if (got < 0) throw Error("Stream read error");
        bytes.resize(old + static_cast<size_t>(got));
        if (got == 0) return;
    }
}

// A file that is not regular cannot be read twice: it is read into memory
// and decoded there.
Picture ReadStreamFile(int fd, const ReadLimits& limits) { return ReadPictureMemory(ReadStreamBytes(fd, limits), limits); }

}  // namespace

std::vector<uint8_t> ReadStreamBytes(int fd, const ReadLimits& limits) {
    std::vector<uint8_t> bytes;
    try {
        ReadStream(fd, bytes, kBitmapFileHeaderSize);
        const bool known = RecognizeFormat(bytes) != PictureFormat::Bmp || StartsWith(bytes, {'B', 'M'});
        if (known) {
            const uint64_t limit = MemoryLimitOf(limits);
            ReadStream(fd, bytes, limit == UINT64_MAX ? limit : limit + 1);
            if (bytes.size() > limit) ThrowOutOfMemory();
        }
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
    return bytes;
}

PictureFacts BitmapFacts(const BitmapInfoHeader& header, bool truncated) {
    PictureFacts facts;
    facts.format = PictureFormat::Bmp;
    if (header.biXPelsPerMeter > 0) facts.dpiX = DpiFromPixelsPerMetre(header.biXPelsPerMeter);
    if (header.biYPelsPerMeter > 0) facts.dpiY = DpiFromPixelsPerMetre(header.biYPelsPerMeter);
    facts.truncated = truncated;
    return facts;
}

PictureFormat RecognizeFormat(std::span<const uint8_t> head) {
    if (StartsWith(head, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return PictureFormat::Png;
    if (StartsWith(head, {'I', 'I', 42, 0}) || StartsWith(head, {'M', 'M', 0, 42}) ||
        StartsWith(head, {'I', 'I', 43, 0}) || StartsWith(head, {'M', 'M', 0, 43})) {
        return PictureFormat::Tiff;
    }
    if (StartsWith(head, {0xFF, 0xD8, 0xFF})) return PictureFormat::Jpeg;
    return PictureFormat::Bmp;
}

Picture ReadPictureMemory(std::span<const uint8_t> bytes, const ReadLimits& limits) {
    const PictureFormat format = RecognizeFormat(bytes);
    if (format == PictureFormat::Bmp) return FromBitmap(LoadBitmapMemory(bytes, limits));
    MemoryInput input(bytes);
    return ReadWith(format, input, limits);
}

Picture ReadPictureFile(const std::string& path, const ReadLimits& limits) {
    // A caller that refuses streams opens without waiting for a writer, so
    // a pipe nobody writes to is refused at once; a stream that is read
    // waits for its writer and its data as usual.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (limits.regularFileOnly ? O_NONBLOCK : 0)));
    struct stat info {};
    // A file that cannot be opened, a folder, or a stream the caller refuses
    // gets the bitmap reader's message for it, the one message every kind
    // shares.
    if (file.Fd() < 0 || ::fstat(file.Fd(), &info) != 0 || S_ISDIR(info.st_mode) ||
        (!S_ISREG(info.st_mode) && limits.regularFileOnly)) {
        return FromBitmap(LoadBitmapFile(path, limits));
    }
    if (!S_ISREG(info.st_mode)) return ReadStreamFile(file.Fd(), limits);

    FileInput input(file.Fd(), static_cast<uint64_t>(std::max<off_t>(info.st_size, 0)));
    uint8_t head[kHeadSize] = {};
    const size_t got = input.ReadAt(0, head, sizeof head);
    const PictureFormat format = RecognizeFormat({head, got});
    if (format == PictureFormat::Bmp) return FromBitmap(LoadBitmapFile(path, limits));
    return ReadWith(format, input, limits);
}

std::optional<int32_t> StatedDpi(const PictureFacts& picture, Axis axis) {
    return axis == Axis::X ? picture.dpiX : picture.dpiY;
}

int32_t RequireStatedDpi(const PictureFacts& picture, Axis axis) {
    const std::optional<int32_t> dpi = StatedDpi(picture, axis);
    if (!dpi) throw Error(axis == Axis::X ? "The picture file states no X resolution" : "The picture file states no Y resolution");
    return *dpi;
}

std::optional<int32_t> DpiFromPixelsPerInch(double pixelsPerInch) {
    if (!(pixelsPerInch >= 0.5) || !(pixelsPerInch < 2147483647.5)) return std::nullopt;
    return static_cast<int32_t>(std::floor(pixelsPerInch + 0.5));
}

std::optional<int32_t> DpiFromPixelsPerCentimetre(double pixelsPerCentimetre) {
    // * 254 / 100 rather than * 2.54: exact for whole values, so halves round as stated.
    return DpiFromPixelsPerInch(pixelsPerCentimetre * 254 / 100);
}

std::optional<int32_t> DpiFromPixelsPerMetre(double pixelsPerMetre) {
    return DpiFromPixelsPerInch(pixelsPerMetre * 254 / 10000);
}

const std::vector<PictureFileType>& PictureFileTypes() {
    static const std::vector<PictureFileType> types = {
        {"BMP", {"*.bmp"}},
        {"PNG", {"*.png"}},
        {"TIFF", {"*.tif", "*.tiff"}},
        {"JPEG", {"*.jpg", "*.jpeg", "*.jpe"}},
    };
    return types;
}

}  // namespace rastrace
