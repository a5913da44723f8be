// SPDX-License-Identifier: GPL-3.0-or-later
// The output file of a conversion: opened when the conversion starts,
// written through a large buffer, finished when it ends. A regular file is
// replaced whole or not at all (ReplacementFile): a conversion that fails
// or is stopped leaves the file that was there as it was.
//
// Thread rule: an OutputFile is used by its owner thread only (the thread
// that runs the conversion's hand-offs); it has no lock of its own.
//
// Every failure throws rastrace::Error with the I/O error text of the
// failing call's errno (IoErrorMessage below), such as "Disk full".
#pragma once

#include "common/FileHandle.h"
#include "common/ReplacementFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rastrace {

// The I/O error code for an errno value:
//   ENOENT                                  -> 2   "File not found"
//   ENOTDIR, ENAMETOOLONG, EINVAL, EILSEQ   -> 3   "Invalid filename"
//   EMFILE, ENFILE                          -> 4   "Too many open files"
//   EACCES, EPERM, EROFS, EISDIR, ETXTBSY   -> 5   "File access denied"
//   ENOSPC, EDQUOT, EFBIG                   -> 101 "Disk full"
//   EBUSY                                   -> 32  "I/O error 32" (sharing violation)
// Any other errno has no code of its own: 0 is returned, and its message
// is "I/O error <errno>".
int IoErrorCode(int err);

// The text of an I/O error code: 2, 3, 4, 5 and 101 as above, any other
// code "I/O error <code>".
std::string IoErrorText(int code);

// The message of a failed file call with errno err.
std::string IoErrorMessage(int err);

class OutputFile {
public:
    // Bytes held before they are written.
    static constexpr size_t kBufferSize = size_t{1} << 20;
    // Writes of this size or more go straight to the file, after what is buffered.
    static constexpr size_t kWriteThroughSize = size_t{64} << 10;

    OutputFile();  // no file
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Abandon(): only Close() finishes a file.
    ~OutputFile();

    // Opens the output at path. A regular file, new or existing, is written
    // as a ReplacementFile: nothing at path changes until Close() succeeds.
    // "-" is the standard output, which is never closed. An existing special
    // file (a device such as /dev/null, a pipe) is written directly; a pipe
    // without a reader fails at once instead of waiting for one. Throws
    // Error with the I/O error text.
    static OutputFile Create(const std::string& path);

    bool IsOpen() const { return fd_ >= 0; }

    // The temporary file a replacement writes before Close() renames it;
    // empty for the standard output and devices, and once closed.
    std::string TemporaryPath() const;

    // Appends bytes; they reach the file when the buffer is full and at
    // Close(). Throws Error on a failed write; the bytes of that write and
    // of the buffer are lost then, the file stays open. A file that is not
    // open throws "I/O error 103".
    void Write(std::string_view bytes);

    // Writes what is buffered, then finishes the file: a replacement is
    // flushed to disk and renamed over its target. Throws Error when any
    // step fails; the replacement is abandoned then and the descriptor is
    // released either way.
    void Close();

    // For an incomplete file: drops the buffer and closes without reporting
    // errors. A replacement's temporary file goes and the target stays as it
    // was; the standard output and devices are left alone. Safe on an empty
    // OutputFile and after Close().
    void Abandon();

private:
    void Flush();
    void WriteThrough(const char* data, size_t size);

    int fd_ = -1;                                  // where the bytes go
    FileHandle device_;                            // an opened special file
    std::unique_ptr<ReplacementFile> replacement_; // a regular file's replacement
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    uint64_t written_ = 0;      // bytes written to the file so far
    uint64_t syncStarted_ = 0;  // bytes whose write-back has been started
    static constexpr uint64_t kSyncStep = uint64_t{4} << 20;
};

}  // namespace rastrace
