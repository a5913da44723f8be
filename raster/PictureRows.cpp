// SPDX-License-Identifier: GPL-3.0-or-later
#include "raster/PictureRows.h"

#include "common/Error.h"
#include "common/FileHandle.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rastrace {

namespace {

constexpr size_t kHeadSize = 8;

// A picture held whole, served by rows; the raster may be shared with
// others who only read it.
class HeldRows final : public PictureRows {
public:
    explicit HeldRows(Picture picture)
        : PictureRows(picture.raster.Width(), picture.raster.Height(), picture),
          raster_(std::make_shared<const Raster>(std::move(picture.raster))) {}
    HeldRows(std::shared_ptr<const Raster> raster, const PictureFacts& facts)
        : PictureRows(raster->Width(), raster->Height(), facts), raster_(std::move(raster)) {}

    bool AnyOrder() const override { return true; }
    int32_t BandRows() const override { return 64; }
    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        const auto bytes = static_cast<size_t>(Width()) * 3;
        for (int32_t i = 0; i < count; ++i) std::memcpy(dst + i * stride, raster_->RowBytes(first + i).data(), bytes);
    }
    bool HoldsWholePicture() const override { return true; }
    bool ConcurrentReads() const override { return true; }

private:
    std::shared_ptr<const Raster> raster_;
};

// Another reader's rows passed on as they are: the base of the wrappers that
// keep what that reader reads from (an open file, the bytes of a pipe).
class ForwardedRows : public PictureRows {
public:
    explicit ForwardedRows(std::unique_ptr<PictureRows> rows)
        : PictureRows(rows->Width(), rows->Height(), rows->Facts()), rows_(std::move(rows)) {}

    bool AnyOrder() const override { return rows_->AnyOrder(); }
    int32_t BandRows() const override { return rows_->BandRows(); }
    ptrdiff_t NaturalStride() const override { return rows_->NaturalStride(); }
    bool ConcurrentReads() const override { return rows_->ConcurrentReads(); }
    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        rows_->ReadRows(first, count, dst, stride);
    }
    bool FilledIn() const override { return rows_->FilledIn(); }
    RowRange SameRowsAs(int32_t row) const override { return rows_->SameRowsAs(row); }

protected:
    std::unique_ptr<PictureRows> rows_;
};

// A reader's rows over a regular file this object keeps open.
class FileRows final : public ForwardedRows {
public:
    FileRows(FileHandle file, std::unique_ptr<FileInput> input, std::unique_ptr<PictureRows> rows, struct stat info)
        : ForwardedRows(std::move(rows)), file_(std::move(file)), input_(std::move(input)), info_(info) {}
    ~FileRows() override {
        rows_.reset();  // the reader before the input it reads
        input_.reset();
    }

    void CheckUnchanged() override {
        struct stat now {};
        if (::fstat(file_.Fd(), &now) != 0 || now.st_size != info_.st_size ||
            now.st_mtim.tv_sec != info_.st_mtim.tv_sec || now.st_mtim.tv_nsec != info_.st_mtim.tv_nsec) {
            throw Error("Stream read error");
        }
    }

private:
    FileHandle file_;
    std::unique_ptr<FileInput> input_;
    struct stat info_;
};

// A bitmap that came through a pipe: its bytes held (what the pipe gave,
// no more), its rows read from them as from a file, so that the rows it
// lacks are made up alike, not held.
class StreamedBitmapRows final : public ForwardedRows {
public:
    StreamedBitmapRows(std::unique_ptr<std::vector<uint8_t>> bytes, std::unique_ptr<MemoryInput> input,
                       std::unique_ptr<PictureRows> rows)
        : ForwardedRows(std::move(rows)), bytes_(std::move(bytes)), input_(std::move(input)) {}
    ~StreamedBitmapRows() override {
        rows_.reset();  // the reader before the bytes it reads
        input_.reset();
    }

private:
    std::unique_ptr<std::vector<uint8_t>> bytes_;
    std::unique_ptr<MemoryInput> input_;
};

class MirrorRows final : public PictureRows {
public:
    MirrorRows(std::unique_ptr<PictureRows> rows, bool horizontal, bool vertical)
        : PictureRows(rows->Width(), rows->Height(), rows->Facts()),
          rows_(std::move(rows)),
          horizontal_(horizontal),
          vertical_(vertical) {}

    bool AnyOrder() const override { return rows_->AnyOrder(); }
    int32_t BandRows() const override { return rows_->BandRows(); }
    ptrdiff_t NaturalStride() const override { return vertical_ ? -rows_->NaturalStride() : rows_->NaturalStride(); }
    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        if (vertical_) {
            // Rows first..first+count-1 of the mirror are the source's rows
            // height-first-count..height-first-1, in the other order: the
            // same bytes read with the step turned round.
            rows_->ReadRows(Height() - first - count, count, dst + (count - 1) * stride, -stride);
        } else {
            rows_->ReadRows(first, count, dst, stride);
        }
        if (horizontal_) {
            for (int32_t i = 0; i < count; ++i) ReverseRow(dst + i * stride);
        }
    }
    void CheckUnchanged() override { rows_->CheckUnchanged(); }
    bool HoldsWholePicture() const override { return rows_->HoldsWholePicture(); }
    bool FilledIn() const override { return rows_->FilledIn(); }
    RowRange SameRowsAs(int32_t row) const override {
        if (!vertical_) return rows_->SameRowsAs(row);
        const RowRange same = rows_->SameRowsAs(Height() - 1 - row);
        return {Height() - same.end, Height() - same.first};
    }
    bool ConcurrentReads() const override { return rows_->ConcurrentReads(); }

private:
    void ReverseRow(uint8_t* row) const {
        for (int32_t i = 0, j = Width() - 1; i < j; ++i, --j) {
            std::swap_ranges(row + 3 * static_cast<size_t>(i), row + 3 * static_cast<size_t>(i) + 3, row + 3 * static_cast<size_t>(j));
        }
    }

    std::unique_ptr<PictureRows> rows_;
    bool horizontal_;
    bool vertical_;
};

uint64_t MemoryLimitOf(const ReadLimits& limits) { return limits.memory ? *limits.memory : MemoryAvailableNow(); }

std::unique_ptr<PictureRows> ReadWhole(const std::string& path, const ReadLimits& limits) {
    return RasterRows(ReadPictureFile(path, limits));
}

// A pipe is read to its end first, as the whole read reads it; a bitmap
// is then read by rows from its bytes, any other kind decoded whole.
std::unique_ptr<PictureRows> OpenStreamRows(int fd, const ReadLimits& limits, bool bottomUp) {
    auto bytes = std::make_unique<std::vector<uint8_t>>(ReadStreamBytes(fd, limits));
    if (RecognizeFormat(*bytes) == PictureFormat::Bmp) {
        auto input = std::make_unique<MemoryInput>(*bytes);
        input->SetMemoryLimit(MemoryLimitOf(limits));
        std::unique_ptr<PictureRows> rows = OpenBitmapRows(*input);
        if (rows && (!bottomUp || rows->AnyOrder())) {
            return std::make_unique<StreamedBitmapRows>(std::move(bytes), std::move(input), std::move(rows));
        }
    }
    return RasterRows(ReadPictureMemory(*bytes, limits));
}

std::unique_ptr<PictureRows> OpenRows(const std::string& path, const ReadLimits& limits, bool bottomUp) {
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (limits.regularFileOnly ? O_NONBLOCK : 0)));
    struct stat info {};
    // Anything but a regular file (and any file that cannot be opened) goes
    // the whole-picture way, which has the messages for it and reads a
    // pipe to its end.
    if (!file.IsOpen() || ::fstat(file.Fd(), &info) != 0 || S_ISDIR(info.st_mode) ||
        (!S_ISREG(info.st_mode) && limits.regularFileOnly)) {
        return ReadWhole(path, limits);
    }
    if (!S_ISREG(info.st_mode)) return OpenStreamRows(file.Fd(), limits, bottomUp);
    auto input = std::make_unique<FileInput>(file.Fd(), static_cast<uint64_t>(std::max<off_t>(info.st_size, 0)));
    input->SetMemoryLimit(MemoryLimitOf(limits));
    uint8_t head[kHeadSize] = {};
    const size_t got = input->ReadAt(0, head, sizeof head);
    std::unique_ptr<PictureRows> rows;
    switch (RecognizeFormat({head, got})) {
        case PictureFormat::Bmp: rows = OpenBitmapRows(*input); break;
        case PictureFormat::Png: rows = OpenPngRows(*input); break;
        case PictureFormat::Tiff: rows = OpenTiffRows(*input); break;
        case PictureFormat::Jpeg: rows = OpenJpegRows(*input); break;
    }
    if (!rows || (bottomUp && !rows->AnyOrder())) {
        rows.reset();
        input.reset();
        file = FileHandle();
        return ReadWhole(path, limits);
    }
    return std::make_unique<FileRows>(std::move(file), std::move(input), std::move(rows), info);
}

}  // namespace

std::unique_ptr<PictureRows> OpenPictureRows(const std::string& path, const ReadLimits& limits, bool bottomUp) {
    try {
        return OpenRows(path, limits, bottomUp);
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
}

int32_t RowsForBytes(int32_t width, int32_t height, uint64_t bytes) {
    const uint64_t rowBytes = std::max<uint64_t>(uint64_t{static_cast<uint32_t>(std::max(width, 1))} * 3, 1);
    return static_cast<int32_t>(std::clamp<uint64_t>(bytes / rowBytes, 1, static_cast<uint64_t>(std::max(height, 1))));
}

std::unique_ptr<PictureRows> RasterRows(Picture picture) { return std::make_unique<HeldRows>(std::move(picture)); }

std::unique_ptr<PictureRows> SharedRasterRows(std::shared_ptr<const Raster> raster, const PictureFacts& facts) {
    if (raster == nullptr) throw std::invalid_argument("SharedRasterRows: no raster");
    return std::make_unique<HeldRows>(std::move(raster), facts);
}

std::unique_ptr<PictureRows> MirroredRows(std::unique_ptr<PictureRows> rows, bool horizontal, bool vertical) {
    if (!horizontal && !vertical) return rows;
    return std::make_unique<MirrorRows>(std::move(rows), horizontal, vertical);
}

}  // namespace rastrace
