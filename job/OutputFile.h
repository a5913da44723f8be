// The output file of a conversion: created (or cut to length 0) when the
// conversion starts, written through a large buffer, closed when it ends.
//
// Thread rule: an OutputFile is used by its owner thread only (the thread
// that runs the conversion's hand-offs); it has no lock of its own.
//
// Every failure throws rastrace::Error with the I/O error text of the
// failing call's errno (IoErrorMessage below), such as "Disk full".
#pragma once

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

    OutputFile() = default;  // no file
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Flushes and closes quietly: errors are lost here, so call Close() to
    // learn of them.
    ~OutputFile();

    // Creates path for writing, or cuts an existing file to length 0
    // (mode 0666 before the umask). "-" is the standard output, which is
    // never closed or removed. Throws Error with the I/O error text.
    static OutputFile Create(const std::string& path);

    bool IsOpen() const { return fd_ >= 0; }

    // Appends bytes; they reach the file when the buffer is full and at
    // Close(). Throws Error on a failed write; the bytes of that write and
    // of the buffer are lost then, the file stays open. A file that is not
    // open throws "I/O error 103".
    void Write(std::string_view bytes);

    // Writes what is buffered, then closes. Throws Error when either
    // fails; the descriptor is released either way.
    void Close();

    // For an incomplete file: drops the buffer, closes without reporting
    // errors, and removes the file if it is a regular file that Create
    // opened and its path still names it (never "-" or a device such as
    // /dev/null). Safe on an empty OutputFile; after Close(), failed or
    // not, it still removes the file.
    void Abandon();

private:
    void Flush();
    void WriteThrough(const char* data, size_t size);
    void CloseDescriptor() noexcept;

    int fd_ = -1;
    bool ownsDescriptor_ = false;  // false for the standard output
    bool removable_ = false;       // a regular file Create opened
    uint64_t device_ = 0, inode_ = 0;
    std::string path_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
};

}  // namespace rastrace
