// SPDX-License-Identifier: GPL-3.0-or-later
// A picture read a band of rows at a time, for the command-line converter,
// which traces rows as they come and never holds the whole picture.
//
// The one fact a caller must know: OpenPictureRows always gives rows of the
// same 24-bit pixels ReadPictureFile would give, with the same messages;
// a file that cannot be read by rows (an interlaced PNG, a pipe of any kind
// but a bitmap, ...) is read whole first and then served from memory. The
// rows a bitmap cut short lacks, and those a run-length bitmap never
// writes, are one row alike (SameRowsAs), never held or made again.
#pragma once

#include "raster/BmpReader.h"
#include "raster/PictureInput.h"
#include "raster/PictureReader.h"
#include "raster/Raster.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace rastrace {

// Rows first..end-1 of a picture (0 = top).
struct RowRange {
    int32_t first = 0;
    int32_t end = 0;
    friend bool operator==(const RowRange&, const RowRange&) = default;
};

class PictureRows {
public:
    virtual ~PictureRows() = default;
    PictureRows(const PictureRows&) = delete;
    PictureRows& operator=(const PictureRows&) = delete;

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    const PictureFacts& Facts() const { return facts_; }

    // Whether ReadRows takes rows in any order. False: only from the top
    // down, each row once, every call going on from where the last ended.
    virtual bool AnyOrder() const = 0;
    // How many rows are worth reading in one call (a strip of the file, or
    // about a megabyte of pixels); at least 1.
    virtual int32_t BandRows() const { return 1; }
    // The row step a band is read fastest with: the file's own where its
    // rows are stored as they are given (negative where the file stores the
    // bottom row first), else Width() * 3.
    virtual ptrdiff_t NaturalStride() const { return static_cast<ptrdiff_t>(Width()) * 3; }
    // Reads rows first .. first + count - 1 (0 = top; count >= 1, within
    // the picture) into dst: row first + i at dst + i * stride (stride may
    // be negative; |stride| >= Width() * 3), Width() * 3 bytes of blue,
    // green, red each; the bytes between rows may be overwritten. Throws
    // Error with the reader's own messages, also where the file no longer
    // holds what it held when it was opened (a bitmap: "Stream read error";
    // the others: their message for a file cut short).
    virtual void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) = 0;
    // Whether ReadRows may be called from several threads at once (for
    // different rows).
    virtual bool ConcurrentReads() const { return false; }
    // Once the rows have been read: throws Error("Stream read error") when
    // the file changed while it was read (its size or modification time).
    virtual void CheckUnchanged() {}
    // Whether the whole picture is held in memory.
    virtual bool HoldsWholePicture() const { return false; }
    // Whether rows read so far were filled in where the file's data was
    // damaged (a JPEG whose data ends early): unlike Facts().truncated,
    // known only once those rows are read.
    virtual bool FilledIn() const { return false; }
    // The rows that are the same row as row (which lies in the picture),
    // row among them: where the file ends before its pixel data, the rows
    // it does not hold are all one made-up row, worked on once and repeated
    // rather than read and traced again. Just row where nothing is known.
    virtual RowRange SameRowsAs(int32_t row) const { return {row, row + 1}; }

protected:
    PictureRows(int32_t width, int32_t height, PictureFacts facts) : width_(width), height_(height), facts_(facts) {}

private:
    int32_t width_;
    int32_t height_;
    PictureFacts facts_;
};

// Rows of 24-bit pixels of this width that make about bytes (at least 1,
// at most height).
int32_t RowsForBytes(int32_t width, int32_t height, uint64_t bytes);

// The rows of a decoder that reads only from the top down (PNG, JPEG):
// each call must go on from where the last ended. Decoder gives Width(),
// Height(), Facts() and Read(count, dst, stride), which reads its next
// count rows.
template <class Decoder>
class ForwardRows final : public PictureRows {
public:
    explicit ForwardRows(std::unique_ptr<Decoder> decoder)
        : PictureRows(decoder->Width(), decoder->Height(), decoder->Facts()), decoder_(std::move(decoder)) {}

    bool AnyOrder() const override { return false; }
    int32_t BandRows() const override { return RowsForBytes(Width(), Height(), uint64_t{1} << 20); }  // a row at a time decoded
    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        if (first != next_ || count < 1 || count > Height() - first) throw std::logic_error("rows read out of order");
        decoder_->Read(static_cast<uint32_t>(count), dst, stride);
        next_ += count;
    }
    bool FilledIn() const override {
        if constexpr (requires { decoder_->Damaged(); }) {
            return decoder_->Damaged();
        } else {
            return false;
        }
    }

private:
    std::unique_ptr<Decoder> decoder_;
    int32_t next_ = 0;
};

// Opens the picture at path to be read by rows. With bottomUp, rows will be
// wanted from the bottom up (a vertical mirror): a kind that reads only
// from the top down is then read whole. limits.memory bounds what the
// readers' buffers (or a picture read whole) may claim.
std::unique_ptr<PictureRows> OpenPictureRows(const std::string& path, const ReadLimits& limits = {},
                                             bool bottomUp = false);

// A picture in memory, read by rows in any order.
std::unique_ptr<PictureRows> RasterRows(Picture picture);
// The same over a raster others hold too; it is only read, so it must not
// change while the rows are in use.
std::unique_ptr<PictureRows> SharedRasterRows(std::shared_ptr<const Raster> raster, const PictureFacts& facts = {});

// Rows mirrored as MirrorHorizontal (within each row) and MirrorVertical
// (the other reading direction) would mirror the picture; vertical needs a
// source that takes rows in any order.
std::unique_ptr<PictureRows> MirroredRows(std::unique_ptr<PictureRows> rows, bool horizontal, bool vertical);


// The readers' own row sources over an input that must outlive them. Each
// gives nullptr where its file cannot be read by rows, so the caller reads
// it whole instead. A bitmap cut short, or run-length, that declares more
// than 2^36 pixels is "Out of memory" whatever the memory free.
std::unique_ptr<PictureRows> OpenBitmapRows(PictureInput& input);
std::unique_ptr<PictureRows> OpenPngRows(PictureInput& input);
std::unique_ptr<PictureRows> OpenTiffRows(PictureInput& input);
std::unique_ptr<PictureRows> OpenJpegRows(PictureInput& input);

}  // namespace rastrace
