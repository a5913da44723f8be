// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/BmpReader.h"
#include "raster/PictureRows.h"

#include "common/Error.h"
#include "common/FileHandle.h"
#include "common/MessageText.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rastrace {

namespace {

[[noreturn]] void ThrowStreamReadError() { throw Error("Stream read error"); }
[[noreturn]] void ThrowNotValid() { throw Error("Bitmap image is not valid"); }

constexpr uint16_t kMagicBM = 0x4D42;  // "BM" read as a little-endian word
constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kMaskedHeaderSize = 52;  // 40 bytes plus the red, green and blue masks

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

// Rows of converted depths are read in blocks of about this size, so a
// picture of any depth but 24 bits never needs a second whole-picture buffer.
constexpr uint64_t kReadBlock = uint64_t{1} << 20;

// The most pixels a file cut short may declare when read by rows: 2^36, a
// square of 262,144 pixels a side, far beyond any scan.
constexpr uint64_t kMostMadeUpPixels = uint64_t{1} << 36;

uint16_t LeU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t LeU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint64_t CheckedMul(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) ThrowOutOfMemory();
    return product;
}

// The memory one load may still claim. The picture and every buffer whose
// size comes from the file are claimed here first, before they are
// allocated, so a header cannot make the load take more than its limit.
class MemoryBudget {
public:
    explicit MemoryBudget(uint64_t bytes) : left_(bytes) {}
    uint64_t Left() const { return left_; }
    void Claim(uint64_t bytes) {
        if (bytes > left_ || bytes > SIZE_MAX / 2) ThrowOutOfMemory();
        left_ -= bytes;
    }

private:
    uint64_t left_;
};

// ---------------------------------------------------------------------------
// Sources: a file or a memory block, read forward only.

class ByteSource {
public:
    ByteSource(uint64_t size, MemoryBudget& budget) : size_(size), budget_(budget) {}
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    uint64_t Size() const { return size_; }
    uint64_t Position() const { return position_; }
    uint64_t Left() const { return size_ - position_; }
    MemoryBudget& Budget() { return budget_; }

    // Reads exactly n bytes into dst; "Stream read error" when fewer are left.
    void Read(uint8_t* dst, uint64_t n) {
        if (n > Left()) ThrowStreamReadError();
        if (n > 0) Fetch(dst, static_cast<size_t>(n));
        position_ += n;
    }

    // Moves forward to pos, which must lie between Position() and Size().
    void SeekTo(uint64_t pos) {
        if (pos < position_ || pos > size_) ThrowStreamReadError();
        if (pos != position_) Jump(pos);
        position_ = pos;
    }

    void Skip(uint64_t n) {
        if (n > Left()) ThrowStreamReadError();
        SeekTo(position_ + n);
    }

    // The next n bytes (n <= Left()): a view of memory where the source is
    // memory, else read into scratch, which is reused between calls.
    std::span<const uint8_t> Next(uint64_t n, std::vector<uint8_t>& scratch) {
        if (n > Left()) ThrowStreamReadError();
        std::span<const uint8_t> view = Borrow(static_cast<size_t>(n));
        if (view.size() != n) {
            if (scratch.size() < n) {
                budget_.Claim(n - scratch.size());
                scratch.resize(static_cast<size_t>(n));
            }
            Fetch(scratch.data(), static_cast<size_t>(n));
            view = {scratch.data(), static_cast<size_t>(n)};
        }
        position_ += n;
        return view;
    }

protected:
    // Copies the n bytes at Position() to dst (n <= Left() is checked).
    virtual void Fetch(uint8_t* dst, size_t n) = 0;
    // Makes pos the place the next Fetch reads from.
    virtual void Jump(uint64_t pos) = 0;
    // A view of the n bytes at Position() without copying, or an empty span
    // where the source cannot give one.
    virtual std::span<const uint8_t> Borrow(size_t /*n*/) { return {}; }

private:
    uint64_t size_;
    MemoryBudget& budget_;
    uint64_t position_ = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(std::span<const uint8_t> bytes, MemoryBudget& budget) : ByteSource(bytes.size(), budget), bytes_(bytes) {}

private:
    void Fetch(uint8_t* dst, size_t n) override { std::memcpy(dst, bytes_.data() + Position(), n); }
    void Jump(uint64_t /*pos*/) override {}
    std::span<const uint8_t> Borrow(size_t n) override { return bytes_.subspan(static_cast<size_t>(Position()), n); }

    std::span<const uint8_t> bytes_;
};

// Reads with plain read() calls; the file position follows the source's.
class FileSource final : public ByteSource {
public:
    FileSource(int fd, uint64_t size, MemoryBudget& budget) : ByteSource(size, budget), fd_(fd) {}

private:
    void Fetch(uint8_t* dst, size_t n) override {
        // Fewer bytes than asked: an I/O error, or the file shrank under us.
        if (ReadUpTo(fd_, dst, n) != static_cast<int64_t>(n)) ThrowStreamReadError();
    }

    void Jump(uint64_t pos) override {
        if (pos > static_cast<uint64_t>(INT64_MAX) || ::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) < 0) {
            ThrowStreamReadError();
        }
    }

    int fd_;
};

std::string FullPath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), ec);
    if (ec) return path;
    return absolute.lexically_normal().string();
}

[[noreturn]] void ThrowCannotOpen(const std::string& path, const std::string& reason) {
    throw Error("Cannot open file \"" + FullPath(path) + "\". " + reason);
}

// The whole of a stream that has no size of its own (a pipe, a device),
// read to its end. The buffer is claimed from the budget as it grows, so
// an endless stream ends in "Out of memory", not in the machine's memory.
std::vector<uint8_t> ReadStream(int fd, MemoryBudget& budget) {
    std::vector<uint8_t> bytes;
    size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            const uint64_t grow = std::max<uint64_t>(uint64_t{64} << 10, bytes.size());
            budget.Claim(grow);
            bytes.resize(bytes.size() + static_cast<size_t>(grow));
        }
        const int64_t got = ReadUpTo(fd, bytes.data() + used, bytes.size() - used);
        if (got < 0) ThrowStreamReadError();
        used += static_cast<size_t>(got);
        if (used < bytes.size()) break;  // the end of the stream
    }
    bytes.resize(used);
    return bytes;
}

// ---------------------------------------------------------------------------
// Headers.

struct BitmapFileHeader {
    uint16_t bfType = 0;
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0;
};

// The info header as read, with what the longer versions add that the
// reader uses: the channel masks held inside headers of 52 bytes or more.
struct InfoHeader {
    BitmapInfoHeader fields;
    bool core = false;  // a 12-byte header: 3-byte colour-table entries
    bool holdsMasks = false;
    std::array<uint32_t, 3> headerMasks{};
};

// The 14-byte file header. "Stream read error" when the file is shorter;
// "Bitmap image is not valid" when it does not start with "BM". The size
// and reserved fields are not used (writers fill them inconsistently).
BitmapFileHeader ReadFileHeader(ByteSource& src) {
    uint8_t b[kFileHeaderSize];
    src.Read(b, sizeof b);
    BitmapFileHeader h;
    h.bfType = LeU16(b);
    h.bfSize = LeU32(b + 2);
    h.bfReserved1 = LeU16(b + 6);
    h.bfReserved2 = LeU16(b + 8);
    h.bfOffBits = LeU32(b + 10);
    if (h.bfType != kMagicBM) ThrowNotValid();
    return h;
}

// The info header. A size of 0..39 other than 12 is no header this reader
// knows ("Bitmap image is not valid"); one that runs past the end of the file
// is a file cut short ("Stream read error"). Bytes beyond the fields used are
// skipped.
InfoHeader ReadInfoHeader(ByteSource& src) {
    uint8_t sizeBytes[4];
    src.Read(sizeBytes, sizeof sizeBytes);
    InfoHeader info;
    BitmapInfoHeader& h = info.fields;
    h.biSize = LeU32(sizeBytes);
    if (h.biSize != kCoreHeaderSize && h.biSize < kInfoHeaderSize) ThrowNotValid();
    if (h.biSize - 4 > src.Left()) ThrowStreamReadError();

    if (h.biSize == kCoreHeaderSize) {
        uint8_t b[kCoreHeaderSize - 4];
        src.Read(b, sizeof b);
        info.core = true;
        h.biWidth = LeU16(b);
        h.biHeight = LeU16(b + 2);
        h.biPlanes = LeU16(b + 4);
        h.biBitCount = LeU16(b + 6);
        return info;
    }

    uint8_t b[kMaskedHeaderSize - 4];
    const uint32_t used = h.biSize >= kMaskedHeaderSize ? kMaskedHeaderSize : kInfoHeaderSize;
    src.Read(b, used - 4);
    h.biWidth = static_cast<int32_t>(LeU32(b));
    h.biHeight = static_cast<int32_t>(LeU32(b + 4));
    h.biPlanes = LeU16(b + 8);
    h.biBitCount = LeU16(b + 10);
    h.biCompression = LeU32(b + 12);
    h.biSizeImage = LeU32(b + 16);
    h.biXPelsPerMeter = static_cast<int32_t>(LeU32(b + 20));
    h.biYPelsPerMeter = static_cast<int32_t>(LeU32(b + 24));
    h.biClrUsed = LeU32(b + 28);
    h.biClrImportant = LeU32(b + 32);
    if (used == kMaskedHeaderSize) {
        info.holdsMasks = true;
        info.headerMasks = {LeU32(b + 36), LeU32(b + 40), LeU32(b + 44)};
    }
    src.Skip(h.biSize - used);
    return info;
}

bool IsUncompressedDepth(uint16_t bitCount) {
    switch (bitCount) {
        case 1: case 4: case 8: case 16: case 24: case 32: return true;
        default: return false;
    }
}

// Refuses every header this reader does not read, before anything is
// allocated: planes other than 1, a negative width, a height whose size
// cannot be negated, and any depth/compression pair outside the supported
// set. Run-length files must be stored bottom row first.
void ValidateInfoHeader(const InfoHeader& info) {
    const BitmapInfoHeader& h = info.fields;
    if (h.biPlanes != 1) ThrowNotValid();
    if (h.biWidth < 0 || h.biHeight == INT32_MIN) ThrowNotValid();
    switch (h.biCompression) {
        case BI_RGB:
            if (!IsUncompressedDepth(h.biBitCount)) ThrowNotValid();
            break;
        case BI_RLE8:
            if (h.biBitCount != 8 || h.biHeight < 0) ThrowNotValid();
            break;
        case BI_RLE4:
            if (h.biBitCount != 4 || h.biHeight < 0) ThrowNotValid();
            break;
        case BI_BITFIELDS:
            if (h.biBitCount != 16 && h.biBitCount != 32) ThrowNotValid();
            // Masks follow a 40-byte header or sit inside one of 52 bytes or
            // more; a header in between has no room for them.
            if (h.biSize != kInfoHeaderSize && !info.holdsMasks) ThrowNotValid();
            break;
        default:
            ThrowNotValid();
    }
}

int32_t AbsHeight(const BitmapInfoHeader& h) { return h.biHeight < 0 ? -h.biHeight : h.biHeight; }

// The red, green and blue masks the pixels are read with: the file's own for
// bit fields (after a 40-byte header, or from inside a longer one), otherwise
// the fixed layouts 5-5-5 (16 bits) and 8-8-8 (32 bits).
std::array<uint32_t, 3> ReadColourMasks(ByteSource& src, const InfoHeader& info) {
    const BitmapInfoHeader& h = info.fields;
    if (h.biCompression == BI_BITFIELDS) {
        if (info.holdsMasks) return info.headerMasks;
        uint8_t b[12];
        src.Read(b, sizeof b);
        return {LeU32(b), LeU32(b + 4), LeU32(b + 8)};
    }
    if (h.biBitCount == 16) return {0x7C00u, 0x03E0u, 0x001Fu};
    if (h.biBitCount == 32) return {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
    return {};
}

// The colour table as 0x00RRGGBB entries. Its length is the colours-used
// field, or 2^depth for 1, 4 and 8 bits when that is 0 (always for a core
// header, whose entries are 3 bytes). All entries are passed over so that
// the pixels are found after them, but at most 256 are kept. A table that
// runs past the end of the file is "Stream read error".
std::vector<uint32_t> ReadColourTable(ByteSource& src, const InfoHeader& info) {
    const BitmapInfoHeader& h = info.fields;
    const uint64_t entrySize = info.core ? 3 : 4;
    uint64_t count = h.biClrUsed;
    if (count == 0 && h.biBitCount <= 8) count = uint64_t{1} << h.biBitCount;
    if (CheckedMul(count, entrySize) > src.Left()) ThrowStreamReadError();

    const size_t kept = static_cast<size_t>(std::min<uint64_t>(count, 256));
    uint8_t b[256 * 4];
    src.Read(b, kept * entrySize);
    src.Skip((count - kept) * entrySize);

    std::vector<uint32_t> palette(kept);
    for (size_t i = 0; i < kept; ++i) {
        const uint8_t* e = b + i * entrySize;
        palette[i] = static_cast<uint32_t>(e[0]) | static_cast<uint32_t>(e[1]) << 8 | static_cast<uint32_t>(e[2]) << 16;
    }
    return palette;
}

// Where the pixel bytes start. Many writers leave a gap before the pixels
// and say so in the offset field, while others fill it with nonsense; the
// offset is trusted only when it points neither back into the headers or
// colour table nor outside the file.
uint64_t PixelDataStart(uint32_t bfOffBits, uint64_t tableEnd, uint64_t fileSize) {
    return bfOffBits >= tableEnd && bfOffBits < fileSize ? bfOffBits : tableEnd;
}

uint64_t FileStride(const BitmapInfoHeader& h) {
    return StrideFor(static_cast<uint64_t>(h.biWidth), h.biBitCount);  // width < 2^31, depth <= 32: no overflow
}

// How many pixel bytes to read: the image-size field, or stride * |height|
// when it is 0; never more than the bytes left in the file, and for
// uncompressed rows never more than the rows need.
uint64_t PixelByteCount(const BitmapInfoHeader& h, uint64_t bytesLeft) {
    const uint64_t needed = CheckedMul(FileStride(h), static_cast<uint64_t>(AbsHeight(h)));
    uint64_t n = h.biSizeImage != 0 ? h.biSizeImage : needed;
    if (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS) n = std::min(n, needed);
    return std::min(n, bytesLeft);
}

// Whether the file ends before the pixel bytes its header promises: the
// rows of uncompressed pixels, or the image size a run-length file states.
bool PixelDataCutShort(const BitmapInfoHeader& h, uint64_t bytesLeft) {
    if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) return h.biSizeImage > bytesLeft;
    const auto height = static_cast<uint64_t>(AbsHeight(h));
    if (height == 0 || h.biWidth == 0) return false;
    // The last row's padding is not pixel data: files that leave it out are whole.
    const uint64_t lastRow = (static_cast<uint64_t>(h.biWidth) * h.biBitCount + 7) / 8;
    return CheckedMul(FileStride(h), height - 1) + lastRow > bytesLeft;
}

// ---------------------------------------------------------------------------
// Pixels.

// One colour channel of a bit-fields pixel, widened to 8 bits as
// value * 255 / max rounded to nearest, max being the channel's largest
// value, so that a full channel of any width is 255. Channels of up to 16
// bits go through a table built once per load.
class Channel {
public:
    explicit Channel(uint32_t mask)
        : mask_(mask), shift_(mask != 0 ? std::countr_zero(mask) : 0), max_(mask >> shift_) {
        if (max_ != 0 && max_ <= 0xFFFF) {
            table_.resize(max_ + 1);
            for (uint32_t v = 0; v <= max_; ++v) table_[v] = Widen(v);
        }
    }

    uint8_t operator()(uint32_t pixel) const {
        const uint32_t v = (pixel & mask_) >> shift_;
        if (!table_.empty()) return table_[v];
        return max_ == 0 ? 0 : Widen(v);
    }

private:
    uint8_t Widen(uint32_t v) const {
        return static_cast<uint8_t>((static_cast<uint64_t>(v) * 255 + max_ / 2) / max_);
    }

    uint32_t mask_;
    int shift_;
    uint32_t max_;
    std::vector<uint8_t> table_;
};

// Turns the pixels of 1, 4, 8, 16 and 32-bit rows into blue, green, red bytes.
class PixelConverter {
public:
    PixelConverter(uint16_t bitCount, const std::vector<uint32_t>& palette, const std::array<uint32_t, 3>& masks)
        : bitCount_(bitCount), red_(masks[0]), green_(masks[1]), blue_(masks[2]) {
        // Indices beyond the table read as black.
        for (size_t i = 0; i < palette.size(); ++i) {
            lut_[3 * i] = static_cast<uint8_t>(palette[i]);
            lut_[3 * i + 1] = static_cast<uint8_t>(palette[i] >> 8);
            lut_[3 * i + 2] = static_cast<uint8_t>(palette[i] >> 16);
        }
        const uint8_t zero[4] = {};
        Convert(zero, 1, zeroColour_);
    }

    uint16_t BitCount() const { return bitCount_; }

    // The blue, green, red bytes of palette index i (black beyond the table).
    const uint8_t* IndexColour(uint8_t i) const { return &lut_[3 * static_cast<size_t>(i)]; }

    // The colour a pixel of zero bytes has: colour-table entry 0 for indexed
    // depths, black otherwise. Pixels the file does not supply take it.
    const uint8_t* ZeroColour() const { return zeroColour_; }
    bool ZeroIsBlack() const { return zeroColour_[0] == 0 && zeroColour_[1] == 0 && zeroColour_[2] == 0; }

    // Converts count whole pixels starting at src into dst (3 bytes each).
    void Convert(const uint8_t* src, size_t count, uint8_t* dst) const {
        switch (bitCount_) {
            case 1:
                for (size_t x = 0; x < count; ++x) Put(dst, x, (src[x >> 3] >> (7 - (x & 7))) & 1);
                break;
            case 4:
                for (size_t x = 0; x < count; ++x) Put(dst, x, (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4);
                break;
            case 8:
                for (size_t x = 0; x < count; ++x) Put(dst, x, src[x]);
                break;
            case 16:
                for (size_t x = 0; x < count; ++x) PutChannels(dst, x, LeU16(src + 2 * x));
                break;
            case 32:
                for (size_t x = 0; x < count; ++x) PutChannels(dst, x, LeU32(src + 4 * x));
                break;
            default:
                break;  // 24 bits never come here: they are read as stored
        }
    }

private:
    void Put(uint8_t* dst, size_t x, unsigned index) const { std::memcpy(dst + 3 * x, IndexColour(static_cast<uint8_t>(index)), 3); }

    void PutChannels(uint8_t* dst, size_t x, uint32_t pixel) const {
        dst[3 * x] = blue_(pixel);
        dst[3 * x + 1] = green_(pixel);
        dst[3 * x + 2] = red_(pixel);
    }

    uint16_t bitCount_;
    std::array<uint8_t, 256 * 3> lut_{};
    Channel red_;
    Channel green_;
    Channel blue_;
    uint8_t zeroColour_[3] = {};
};

// Converts one file row of which only `available` bytes are in the file
// (the rest count as zero bytes) into width pixels at dst.
void ConvertRow(const PixelConverter& conv, const uint8_t* src, uint64_t available, size_t width, uint8_t* dst) {
    const unsigned bitCount = conv.BitCount();
    const size_t whole = static_cast<size_t>(std::min<uint64_t>(width, available * 8 / bitCount));
    if (whole > 0) conv.Convert(src, whole, dst);
    size_t x = whole;
    if (x < width && bitCount >= 8) {
        // A pixel cut in the middle of its bytes: pad it with zeros.
        const size_t pixelBytes = bitCount / 8;
        const size_t have = static_cast<size_t>(available - static_cast<uint64_t>(whole) * pixelBytes);
        if (have > 0) {
            uint8_t tail[4] = {};
            std::memcpy(tail, src + whole * pixelBytes, std::min(have, pixelBytes));
            conv.Convert(tail, 1, dst + 3 * x);
            ++x;
        }
    }
    if (conv.ZeroIsBlack()) return;  // the raster's fresh memory is already zero
    for (; x < width; ++x) std::memcpy(dst + 3 * x, conv.ZeroColour(), 3);
}

// A 24-bit uncompressed body: one read straight into the raster's memory,
// which has the file's stride and row order. Rows the file does not reach
// stay zero.
// A raster of the header's size, claimed from the load's budget first.
Raster NewRaster(ByteSource& src, const BitmapInfoHeader& h, Raster::RowOrder order) {
    Raster raster(h.biWidth, AbsHeight(h), order, src.Budget().Left());
    src.Budget().Claim(raster.StorageSize());
    return raster;
}

Raster ReadStoredRows(ByteSource& src, const BitmapInfoHeader& h, uint64_t n) {
    Raster raster = NewRaster(src, h, h.biHeight < 0 ? Raster::RowOrder::TopDown : Raster::RowOrder::BottomUp);
    src.Read(raster.StorageData(), n);  // n <= stride * |height| == StorageSize()
    return raster;
}

// An uncompressed body of 1, 4, 8, 16 or 32 bits: read in blocks of whole
// rows and converted into a bottom-up 24-bit raster as it comes in.
Raster ReadConvertedRows(ByteSource& src, const BitmapInfoHeader& h, const PixelConverter& conv, uint64_t n) {
    const int32_t height = AbsHeight(h);
    Raster raster = NewRaster(src, h, Raster::RowOrder::BottomUp);
    if (raster.Empty()) return raster;
    const bool topDown = h.biHeight < 0;
    const size_t width = static_cast<size_t>(h.biWidth);
    const uint64_t stride = FileStride(h);
    const uint64_t blockRows = std::max<uint64_t>(1, std::max(stride, kReadBlock) / stride);

    std::vector<uint8_t> scratch;
    uint64_t left = n;
    // Rows the file does not reach are all one colour: the first is
    // converted, the others copied from it.
    const uint8_t* emptyRow = nullptr;
    for (int32_t first = 0; first < height;) {
        const uint64_t rows = std::min<uint64_t>(blockRows, static_cast<uint64_t>(height - first));
        const uint64_t want = std::min(rows * stride, left);
        const std::span<const uint8_t> block = src.Next(want, scratch);
        left -= want;
        for (uint64_t r = 0; r < rows; ++r) {
            const uint64_t offset = r * stride;
            const uint64_t available = offset < want ? std::min(stride, want - offset) : 0;
            const int32_t stored = first + static_cast<int32_t>(r);
            uint8_t* dst = raster.RowBytes(topDown ? stored : height - 1 - stored).data();
            if (available == 0 && emptyRow != nullptr) {
                if (!conv.ZeroIsBlack()) std::memcpy(dst, emptyRow, width * 3);
                continue;
            }
            ConvertRow(conv, available > 0 ? block.data() + offset : nullptr, available, width, dst);
            if (available == 0) emptyRow = dst;
        }
        first += static_cast<int32_t>(rows);
    }
    return raster;
}

// Where a run-length stream stands: the next byte, the next pixel and the
// stored row it writes (0 is the bottom row).
struct RunLengthPlace {
    size_t i = 0;
    size_t x = 0;
    size_t y = 0;
    bool ended = false;  // the stream (or the bitmap) has ended
    bool wrote = false;  // the part last decoded wrote a pixel
};

// Decodes an 8-bit (RLE8) or 4-bit (RLE4) run-length stream from at on,
// the part of it that writes stored row at.y, into row (width pixels
// already filled with colour-table entry 0; nullptr only finds where the
// part ends), and returns where the stream goes on: a higher row, or
// ended. Runs are cut at the end of their row, deltas at the right edge;
// a stream that ends early just stops. Every step eats at least two input
// bytes, so the stream ends whatever it holds, and each row is written by
// one part, since the row only ever goes up.
RunLengthPlace DecodeRunLengthRow(std::span<const uint8_t> in, bool fourBit, const PixelConverter& conv, size_t width,
                                  RunLengthPlace at, uint8_t* row) {
    auto indexAt = [&](std::span<const uint8_t> bytes, size_t k) -> uint8_t {
        if (!fourBit) return bytes[k];
        return (k & 1) ? bytes[k >> 1] & 0x0F : bytes[k >> 1] >> 4;
    };
    size_t& i = at.i;
    size_t& x = at.x;
    at.wrote = false;
    while (i + 1 < in.size()) {
        const uint8_t count = in[i];
        const uint8_t code = in[i + 1];
        i += 2;
        if (count > 0) {
            // Encoded run: count pixels of one byte (RLE4: two alternating nibbles).
            const size_t end = std::min(width, x + count);
            at.wrote = at.wrote || end > x;
            if (row == nullptr) {
                x = end;
                continue;
            }
            for (size_t k = 0; x < end; ++k, ++x) {
                const uint8_t index = !fourBit ? code : (k & 1) ? code & 0x0F : code >> 4;
                std::memcpy(row + 3 * x, conv.IndexColour(index), 3);
            }
            continue;
        }
        switch (code) {
            case 0:  // end of line
                x = 0;
                ++at.y;
                return at;
            case 1:  // end of bitmap
                at.ended = true;
                return at;
            case 2:  // delta: move right dx and up dy
                if (i + 1 >= in.size()) {
                    at.ended = true;
                    return at;
                }
                x = std::min(width, x + in[i]);
                at.y += in[i + 1];
                i += 2;
                if (in[i - 1] > 0) return at;
                break;
            default: {
                // Absolute run of `code` pixels, padded to a whole word.
                const size_t bytes = fourBit ? (code + 1u) / 2 : code;
                const size_t padded = (bytes + 1) & ~size_t{1};
                const std::span<const uint8_t> data = in.subspan(i, std::min(bytes, in.size() - i));
                const size_t present = fourBit ? data.size() * 2 : data.size();
                const size_t end = std::min({width, x + code, x + present});
                at.wrote = at.wrote || end > x;
                if (row == nullptr) {
                    x = std::max(x, end);
                } else {
                    for (size_t k = 0; x < end; ++k, ++x) std::memcpy(row + 3 * x, conv.IndexColour(indexAt(data, k)), 3);
                }
                if (present < code) {  // the stream ended inside the run
                    at.ended = true;
                    return at;
                }
                i += std::min(padded, in.size() - i);
                break;
            }
        }
    }
    at.ended = true;
    return at;
}

// Decodes a whole run-length stream into a bottom-up raster already
// filled with colour-table entry 0.
void DecodeRunLength(std::span<const uint8_t> in, bool fourBit, const PixelConverter& conv, Raster& raster) {
    const auto width = static_cast<size_t>(raster.Width());
    const auto height = static_cast<size_t>(raster.Height());
    for (RunLengthPlace at; !at.ended && at.y < height;) {
        at = DecodeRunLengthRow(in, fourBit, conv, width, at, raster.StorageRow(static_cast<int32_t>(at.y)));
    }
}

Raster ReadRunLengthBody(ByteSource& src, const BitmapInfoHeader& h, const PixelConverter& conv, uint64_t n) {
    Raster raster = NewRaster(src, h, Raster::RowOrder::BottomUp);
    if (raster.Empty()) return raster;
    if (!conv.ZeroIsBlack()) {
        // Colour-table entry 0 everywhere: one row by pixels, then row copies.
        const size_t rowBytes = static_cast<size_t>(raster.Width()) * 3;
        const uint8_t* first = raster.RowBytes(0).data();
        for (size_t x = 0; x < rowBytes; x += 3) std::memcpy(raster.RowBytes(0).data() + x, conv.ZeroColour(), 3);
        for (int32_t y = 1; y < raster.Height(); ++y) std::memcpy(raster.RowBytes(y).data(), first, rowBytes);
    }
    std::vector<uint8_t> scratch;
    DecodeRunLength(src.Next(n, scratch), h.biCompression == BI_RLE4, conv, raster);
    return raster;
}

// The whole read: file header, info header, validation, masks, colour
// table, pixel body. Nothing outside this call's locals is touched.
// A picture sampled down as it is read, for a preview: at most maxSide
// pixels a side, nearest pixel. Only the rows sampled are read (each once,
// in file order) and, when even those would come to more bytes than the
// load's memory limit, fewer of them, each then standing for several
// target rows; the whole picture is never held.
Raster ReadSampledRows(ByteSource& src, const BitmapInfoHeader& h, const PixelConverter& conv, uint64_t n,
                       int32_t maxSide) {
    const int64_t width = h.biWidth;
    const int64_t height = AbsHeight(h);
    if (width == 0 || height == 0) return Raster();
    const int64_t longest = std::max(width, height);
    const int64_t side = std::min<int64_t>(longest, maxSide);
    const auto targetWidth = static_cast<int32_t>(std::max<int64_t>(1, width * side / longest));
    const auto targetHeight = static_cast<int32_t>(std::max<int64_t>(1, height * side / longest));
    Raster out(targetWidth, targetHeight, Raster::RowOrder::BottomUp, src.Budget().Left());
    src.Budget().Claim(out.StorageSize());
    const uint64_t rowBytes = static_cast<uint64_t>(width) * 3;
    src.Budget().Claim(rowBytes);
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));

    const uint64_t stride = FileStride(h);
    const int64_t rowsRead =
        std::clamp<int64_t>(static_cast<int64_t>(src.Budget().Left() / std::max<uint64_t>(stride, 1)), 1, targetHeight);
    const bool topDown = h.biHeight < 0;
    const uint64_t start = src.Position();
    std::vector<uint8_t> scratch;
    bool rowIsEmpty = false;  // row holds a row the file does not reach: all alike
    for (int64_t i = 0; i < rowsRead; ++i) {
        // k counts sampled rows from the top; i goes in file order.
        const int64_t k = topDown ? i : rowsRead - 1 - i;
        const int64_t y = k * height / rowsRead;
        const uint64_t offset = static_cast<uint64_t>(topDown ? y : height - 1 - y) * stride;
        const uint64_t available = offset < n ? std::min(stride, n - offset) : 0;
        std::span<const uint8_t> bytes;
        if (available > 0) {
            src.SeekTo(start + offset);
            bytes = src.Next(available, scratch);
        }
        if (available > 0 || !rowIsEmpty) {
            std::fill(row.begin(), row.end(), 0);  // what the file does not hold is zero bytes
            if (h.biBitCount != 24) {
                ConvertRow(conv, bytes.data(), available, static_cast<size_t>(width), row.data());
            } else if (available > 0) {
                std::memcpy(row.data(), bytes.data(), static_cast<size_t>(std::min(available, rowBytes)));
            }
            rowIsEmpty = available == 0;
        }
        // The target rows whose nearest sampled row is k.
        for (int64_t ty = (k * targetHeight + rowsRead - 1) / rowsRead;
             ty < ((k + 1) * targetHeight + rowsRead - 1) / rowsRead; ++ty) {
            uint8_t* dst = out.RowBytes(static_cast<int32_t>(ty)).data();
            for (int64_t tx = 0; tx < targetWidth; ++tx) {
                std::memcpy(dst + 3 * tx, row.data() + 3 * (tx * width / targetWidth), 3);
            }
        }
    }
    return out;
}

// Where the pixels are and how to read them: what the headers, masks and
// colour table say.
struct BitmapLayout {
    BitmapInfoHeader header;
    std::array<uint32_t, 3> masks{};
    std::vector<uint32_t> palette;
    uint64_t pixelStart = 0;  // where the pixel bytes start
    uint64_t pixelBytes = 0;  // how many of them are read
    bool truncated = false;
};

BitmapLayout ReadLayout(ByteSource& src) {
    BitmapLayout layout;
    const BitmapFileHeader fileHeader = ReadFileHeader(src);
    const InfoHeader info = ReadInfoHeader(src);
    ValidateInfoHeader(info);
    layout.header = info.fields;
    layout.masks = ReadColourMasks(src, info);
    layout.palette = ReadColourTable(src, info);
    layout.pixelStart = PixelDataStart(fileHeader.bfOffBits, src.Position(), src.Size());
    src.SeekTo(layout.pixelStart);
    layout.pixelBytes = PixelByteCount(layout.header, src.Left());
    layout.truncated = PixelDataCutShort(layout.header, src.Left());
    return layout;
}

bool IsRunLength(const BitmapInfoHeader& h) { return h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4; }

DecodedBitmap LoadBitmap(ByteSource& src, int32_t sampleSide) {
    DecodedBitmap result;
    if (src.Size() == 0) return result;  // a zero-length file is the empty picture

    BitmapLayout layout = ReadLayout(src);
    const BitmapInfoHeader& h = layout.header;
    result.header = h;
    result.masks = layout.masks;
    result.hasMasks = h.biCompression == BI_BITFIELDS;
    result.palette = std::move(layout.palette);
    const uint64_t n = layout.pixelBytes;
    result.truncated = layout.truncated;

    const PixelConverter conv(h.biBitCount, result.palette, result.masks);
    const bool runLength = IsRunLength(h);
    if (sampleSide > 0 && !runLength) {
        result.raster = ReadSampledRows(src, h, conv, n, sampleSide);
    } else if (h.biBitCount == 24) {
        result.raster = ReadStoredRows(src, h, n);
    } else if (runLength) {
        result.raster = ReadRunLengthBody(src, h, conv, n);
    } else {
        result.raster = ReadConvertedRows(src, h, conv, n);
    }
    return result;
}

uint64_t MemoryLimitOf(const ReadLimits& limits) { return limits.memory ? *limits.memory : MemoryAvailableNow(); }

DecodedBitmap LoadFile(const std::string& path, const ReadLimits& limits) {
    // A pipe or device opened without O_NONBLOCK may wait for a writer; a
    // caller that refuses them must not wait before it learns what it is.
    const int flags = O_RDONLY | O_CLOEXEC | (limits.regularFileOnly ? O_NONBLOCK : 0);
    const FileHandle file(::open(path.c_str(), flags));
    if (!file.IsOpen()) ThrowCannotOpen(path, SystemErrorText(errno));
    struct stat info {};
    if (::fstat(file.Fd(), &info) != 0) ThrowCannotOpen(path, SystemErrorText(errno));
    if (S_ISDIR(info.st_mode)) ThrowCannotOpen(path, SystemErrorText(EISDIR));
    MemoryBudget budget(MemoryLimitOf(limits));
    if (S_ISREG(info.st_mode)) {
        FileSource src(file.Fd(), info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0, budget);
        return LoadBitmap(src, limits.sampleSide);
    }
    // A pipe or device has no size: it is read to its end first.
    if (limits.regularFileOnly) ThrowCannotOpen(path, "Not a regular file");
    const std::vector<uint8_t> bytes = ReadStream(file.Fd(), budget);
    MemorySource src(bytes, budget);
    return LoadBitmap(src, limits.sampleSide);
}

}  // namespace

DecodedBitmap LoadBitmapMemory(std::span<const uint8_t> bytes, const ReadLimits& limits) {
    try {
        MemoryBudget budget(MemoryLimitOf(limits));
        MemorySource src(bytes, budget);
        return LoadBitmap(src, limits.sampleSide);
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
}

DecodedBitmap LoadBitmapFile(const std::string& path, const ReadLimits& limits) {
    try {
        return LoadFile(path, limits);
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
}

Raster ReadBitmapFile(const std::string& path, const ReadLimits& limits) {
    return std::move(LoadBitmapFile(path, limits).raster);
}

}  // namespace rastrace

namespace rastrace {

namespace {

// The headers read through a picture input (pread): only up to the pixels.
class InputSource final : public ByteSource {
public:
    InputSource(PictureInput& input, MemoryBudget& budget) : ByteSource(input.Size(), budget), input_(input) {}

private:
    void Fetch(uint8_t* dst, size_t n) override {
        if (input_.ReadAt(Position(), dst, n) != n) ThrowStreamReadError();
    }
    void Jump(uint64_t /*pos*/) override {}

    PictureInput& input_;
};

// An uncompressed bitmap read a band of rows at a time, in any order: a
// band of the picture is one block of the file, read with one pread and
// converted row by row (24 bits: read straight into the caller's rows when
// the caller takes the file's own row step).
class BitmapRows final : public PictureRows {
public:
    BitmapRows(PictureInput& input, BitmapLayout layout, const PictureFacts& facts)
        : PictureRows(layout.header.biWidth, AbsHeight(layout.header), facts),
          input_(input),
          layout_(std::move(layout)),
          conv_(layout_.header.biBitCount, layout_.palette, layout_.masks),
          stride_(FileStride(layout_.header)),
          topDown_(layout_.header.biHeight < 0) {}

    bool AnyOrder() const override { return true; }  // any band size serves: the caller chooses
    // 24-bit rows read with the file's own step need no buffer of this
    // object's: each read is one pread into the caller's rows.
    bool ConcurrentReads() const override { return layout_.header.biBitCount == 24; }
    ptrdiff_t NaturalStride() const override {
        if (layout_.header.biBitCount != 24) return PictureRows::NaturalStride();
        return topDown_ ? static_cast<ptrdiff_t>(stride_) : -static_cast<ptrdiff_t>(stride_);
    }
    // The file rows past the last the file holds any byte of are all zero
    // bytes: the top rows of a bottom-up file, the bottom ones of a
    // top-down file.
    RowRange SameRowsAs(int32_t row) const override {
        if (stride_ == 0) return PictureRows::SameRowsAs(row);
        const auto held = static_cast<int32_t>(
            std::min<uint64_t>((layout_.pixelBytes + stride_ - 1) / stride_, static_cast<uint64_t>(Height())));
        const RowRange madeUp = topDown_ ? RowRange{held, Height()} : RowRange{0, Height() - held};
        if (row >= madeUp.first && row < madeUp.end) return madeUp;
        return PictureRows::SameRowsAs(row);
    }

    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        // The band's file rows, lowest file row first.
        const int32_t fileFirst = topDown_ ? first : Height() - first - count;
        const ptrdiff_t fileStep = topDown_ ? stride : -stride;  // from one file row to the next in dst
        uint8_t* const lowest = topDown_ ? dst : dst + (count - 1) * stride;
        const uint64_t offset = static_cast<uint64_t>(fileFirst) * stride_;
        const uint64_t want = static_cast<uint64_t>(count) * stride_;
        const uint64_t available = offset < layout_.pixelBytes ? std::min(want, layout_.pixelBytes - offset) : 0;
        const size_t rowBytes = static_cast<size_t>(Width()) * 3;
        if (layout_.header.biBitCount == 24 && fileStep == static_cast<ptrdiff_t>(stride_)) {
            Fetch(offset, lowest, available);
            for (int32_t r = 0; r < count; ++r) {
                const uint64_t at = static_cast<uint64_t>(r) * stride_;
                const uint64_t have = at < available ? std::min<uint64_t>(rowBytes, available - at) : 0;
                if (have < rowBytes) std::memset(lowest + at + have, 0, rowBytes - static_cast<size_t>(have));
            }
            return;
        }
        if (block_.size() < want) block_.resize(static_cast<size_t>(want));
        Fetch(offset, block_.data(), available);
        for (int32_t r = 0; r < count; ++r) {
            const uint64_t at = static_cast<uint64_t>(r) * stride_;
            const uint64_t have = at < available ? std::min(stride_, available - at) : 0;
            uint8_t* out = lowest + r * fileStep;
            if (layout_.header.biBitCount == 24) {
                const size_t copied = static_cast<size_t>(std::min<uint64_t>(have, rowBytes));
                std::memcpy(out, block_.data() + at, copied);
                std::memset(out + copied, 0, rowBytes - copied);
            } else {
                std::memset(out, 0, rowBytes);  // what ConvertRow leaves is black
                ConvertRow(conv_, block_.data() + at, have, static_cast<size_t>(Width()), out);
            }
        }
    }

private:
    // Exactly n bytes from pos: the file held them when it was opened, so
    // fewer now means it shrank or failed under us.
    void Fetch(uint64_t pos, uint8_t* dst, uint64_t n) {
        if (n > 0 && input_.ReadAt(layout_.pixelStart + pos, dst, static_cast<size_t>(n)) != n) ThrowStreamReadError();
    }

    PictureInput& input_;
    const BitmapLayout layout_;
    const PixelConverter conv_;
    const uint64_t stride_;
    const bool topDown_;
    std::vector<uint8_t> block_;
};

// A run-length bitmap read by rows in any order. The stream is held (it is
// the file's pixel data) with where each stored row's part of it begins,
// found in one pass: a row is decoded from there, and the rows no part
// writes are colour-table entry 0 all through, one row alike
// (SameRowsAs). Decoding keeps no state, so rows may be read side by side.
class RunLengthRows final : public PictureRows {
public:
    // Where the part of the stream that writes a stored row begins.
    struct Part {
        RunLengthPlace at;
    };

    RunLengthRows(std::vector<uint8_t> stream, std::vector<Part> parts, BitmapLayout layout, const PictureFacts& facts)
        : PictureRows(layout.header.biWidth, AbsHeight(layout.header), facts),
          stream_(std::move(stream)),
          parts_(std::move(parts)),
          layout_(std::move(layout)),
          conv_(layout_.header.biBitCount, layout_.palette, layout_.masks) {}

    bool AnyOrder() const override { return true; }
    bool ConcurrentReads() const override { return true; }

    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        const auto width = static_cast<size_t>(Width());
        for (int32_t r = 0; r < count; ++r) {
            uint8_t* row = dst + r * stride;
            FillWithZeroColour(row, width);
            const auto part = PartOf(StoredRow(first + r));
            if (part != parts_.end() && part->at.y == StoredRow(first + r)) {
                DecodeRunLengthRow(stream_, layout_.header.biCompression == BI_RLE4, conv_, width, part->at, row);
            }
        }
    }

    RowRange SameRowsAs(int32_t row) const override {
        const size_t y = StoredRow(row);
        const auto above = PartOf(y);  // the first part at y or higher up
        if (above != parts_.end() && above->at.y == y) return PictureRows::SameRowsAs(row);
        // Stored rows from the part below to the one above (neither
        // included) no part writes.
        const auto height = static_cast<size_t>(Height());
        const size_t top = above == parts_.end() ? height : above->at.y;
        const size_t bottom = above == parts_.begin() ? 0 : std::prev(above)->at.y + 1;
        return {static_cast<int32_t>(height - top), static_cast<int32_t>(height - bottom)};
    }

private:
    // Colour-table entry 0 all along the row: one pixel, then copies of
    // what is done, doubling.
    void FillWithZeroColour(uint8_t* row, size_t width) const {
        if (width == 0) return;
        std::memcpy(row, conv_.ZeroColour(), 3);
        const size_t bytes = 3 * width;
        for (size_t done = 3; done < bytes; done *= 2) std::memcpy(row + done, row, std::min(done, bytes - done));
    }
    size_t StoredRow(int32_t row) const { return static_cast<size_t>(Height() - 1 - row); }
    std::vector<Part>::const_iterator PartOf(size_t y) const {
        return std::lower_bound(parts_.begin(), parts_.end(), y, [](const Part& p, size_t v) { return p.at.y < v; });
    }

    const std::vector<uint8_t> stream_;
    const std::vector<Part> parts_;  // in stream order: stored rows going up
    const BitmapLayout layout_;
    const PixelConverter conv_;
};

std::unique_ptr<PictureRows> OpenRunLengthRows(ByteSource& src, BitmapLayout layout, const PictureFacts& facts) {
    std::vector<uint8_t> stream;
    src.Budget().Claim(layout.pixelBytes);
    stream.resize(static_cast<size_t>(layout.pixelBytes));
    src.Read(stream.data(), layout.pixelBytes);
    const PixelConverter conv(layout.header.biBitCount, layout.palette, layout.masks);
    const auto width = static_cast<size_t>(layout.header.biWidth);
    const auto height = static_cast<size_t>(AbsHeight(layout.header));
    const bool fourBit = layout.header.biCompression == BI_RLE4;
    std::vector<RunLengthRows::Part> parts;
    // Each part eats at least two bytes of the stream: a bounded table. A
    // part that writes no pixel leaves its row as the rows no part writes.
    for (RunLengthPlace at; !at.ended && at.y < height;) {
        const RunLengthPlace next = DecodeRunLengthRow(stream, fourBit, conv, width, at, nullptr);
        if (next.wrote) {
            src.Budget().Claim(sizeof(RunLengthRows::Part));
            parts.push_back({at});
        }
        at = next;
    }
    return std::make_unique<RunLengthRows>(std::move(stream), std::move(parts), std::move(layout), facts);
}

}  // namespace

std::unique_ptr<PictureRows> OpenBitmapRows(PictureInput& input) {
    if (input.Size() == 0) return nullptr;  // the empty picture: nothing to stream
    MemoryBudget budget(input.MemoryLimit());
    InputSource src(input, budget);
    BitmapLayout layout = ReadLayout(src);
    const bool runLength = IsRunLength(layout.header);
    const uint64_t stride = FileStride(layout.header);
    // Rows the file does not hold (and those a run-length stream never
    // writes) are made up, all one row, which the callers work on once
    // (SameRowsAs): the file bounds the work of the rows it holds. A
    // header that promises more than any picture could be is refused
    // whatever the memory free, so that the answer never depends on the
    // machine.
    if ((layout.truncated || runLength) && CheckedMul(static_cast<uint64_t>(layout.header.biWidth),
                                       static_cast<uint64_t>(AbsHeight(layout.header))) > kMostMadeUpPixels) {
        ThrowOutOfMemory();
    }
    if (runLength) {
        const PictureFacts facts = BitmapFacts(layout.header, layout.truncated);
        return OpenRunLengthRows(src, std::move(layout), facts);
    }
    const uint64_t band = std::max<uint64_t>(stride, uint64_t{1} << 20);
    budget.Claim(band + static_cast<uint64_t>(layout.header.biWidth) * 3);  // the band and a row of pixels
    PictureFacts facts = BitmapFacts(layout.header, layout.truncated);
    return std::make_unique<BitmapRows>(input, std::move(layout), facts);
}

}  // namespace rastrace
