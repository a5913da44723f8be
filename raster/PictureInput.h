// SPDX-License-Identifier: GPL-3.0-or-later
// Where the format readers take a file's bytes from: a block of memory or
// an open regular file, read at any position.
//
// The one fact a caller must know: ReadAt never throws and never allocates,
// so it is safe inside the libraries' callbacks, which may longjmp.
#pragma once

#include "common/SystemMemory.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace rastrace {

class PictureInput {
public:
    explicit PictureInput(uint64_t size) : size_(size) {}
    virtual ~PictureInput() = default;
    PictureInput(const PictureInput&) = delete;
    PictureInput& operator=(const PictureInput&) = delete;

    uint64_t Size() const { return size_; }

    // The most memory a read from this input may claim: the picture and
    // every buffer whose size comes from the file.
    uint64_t MemoryLimit() const { return memoryLimit_; }
    void SetMemoryLimit(uint64_t bytes) { memoryLimit_ = bytes; }

    // Copies up to n bytes from position pos to dst and returns how many
    // were copied: fewer only at the end of the input or on a read error.
    virtual size_t ReadAt(uint64_t pos, uint8_t* dst, size_t n) noexcept = 0;

private:
    uint64_t size_;
    uint64_t memoryLimit_ = MemoryAvailableNow();
};

class MemoryInput final : public PictureInput {
public:
    explicit MemoryInput(std::span<const uint8_t> bytes) : PictureInput(bytes.size()), bytes_(bytes) {}
    size_t ReadAt(uint64_t pos, uint8_t* dst, size_t n) noexcept override;

private:
    std::span<const uint8_t> bytes_;
};

// Reads an open regular file with pread(); the descriptor stays the
// caller's. The file is never mapped: a mapped file that shrinks while it
// is read would end the process.
class FileInput final : public PictureInput {
public:
    FileInput(int fd, uint64_t size) : PictureInput(size), fd_(fd) {}
    size_t ReadAt(uint64_t pos, uint8_t* dst, size_t n) noexcept override;

private:
    int fd_;
};

// The message of a file a library could not read: "Cannot read <kind>
// file: <reason>", the reason on one line (control characters and runs of
// blanks made single blanks), trimmed of its final full stop and blanks
// (and given one back where the shown text would otherwise end without).
[[noreturn]] void ThrowCannotRead(const char* kind, const std::string& reason);

// The message of a compressed file whose data is far too short to make the
// picture its header declares (a decompression bomb, or a header with its
// data cut away): "Cannot read <kind> file: too little image data for a
// picture of <width> x <height> pixels".
[[noreturn]] void ThrowTooLittleData(const char* kind, uint64_t width, uint64_t height);

// Fails with "Out of memory" when a buffer of this many bytes, whose size
// comes from a file, would exceed what a picture may take (limit).
void CheckBufferSize(uint64_t bytes, uint64_t limit);

}  // namespace rastrace
