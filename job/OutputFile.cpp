// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/OutputFile.h"

#include "common/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace rastrace {

int IoErrorCode(int err) {
    switch (err) {
        case ENOENT:
            return 2;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case EILSEQ:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
            return 5;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return 101;
        case EBUSY:
            return 32;
        default:
            return 0;
    }
}

std::string IoErrorText(int code) {
    switch (code) {
        case 2:
            return "File not found";
        case 3:
            return "Invalid filename";
        case 4:
            return "Too many open files";
        case 5:
            return "File access denied";
        case 101:
            return "Disk full";
        default:
            return "I/O error " + std::to_string(code);
    }
}

std::string IoErrorMessage(int err) {
    const int code = IoErrorCode(err);
    // An unmapped errno is shown as itself, even where its number equals
    // one of the codes above (EIO is 5, but is no access error).
    return code != 0 ? IoErrorText(code) : "I/O error " + std::to_string(err);
}

namespace {

[[noreturn]] void ThrowIoError(int err) { throw Error(IoErrorMessage(err)); }

// The code of a write to a file that is not open.
constexpr int kNotOpen = 103;

}  // namespace

OutputFile::OutputFile() = default;

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      device_(std::move(other.device_)),
      replacement_(std::move(other.replacement_)),
      buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)),
      written_(std::exchange(other.written_, 0)),
      syncStarted_(std::exchange(other.syncStarted_, 0)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        Abandon();
        fd_ = std::exchange(other.fd_, -1);
        device_ = std::move(other.device_);
        replacement_ = std::move(other.replacement_);
        buffer_ = std::move(other.buffer_);
        used_ = std::exchange(other.used_, 0);
        written_ = std::exchange(other.written_, 0);
        syncStarted_ = std::exchange(other.syncStarted_, 0);
    }
    return *this;
}

OutputFile::~OutputFile() { Abandon(); }

OutputFile OutputFile::Create(const std::string& path) {
    OutputFile file;
    struct stat st {};
    if (path == "-") {
        file.fd_ = STDOUT_FILENO;
    } else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        int fd;
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) ThrowIoError(errno);
        file.device_ = FileHandle(fd);
        // Writes wait again from here on, as writes to any file do.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        file.fd_ = fd;
    } else {
        auto replacement = std::make_unique<ReplacementFile>();
        if (!replacement->Create(path)) ThrowIoError(errno);
        file.fd_ = replacement->Descriptor();
        file.replacement_ = std::move(replacement);
    }
    file.buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
    return file;
}

void OutputFile::Write(std::string_view bytes) {
    if (fd_ < 0) throw Error(IoErrorText(kNotOpen));
    // A worker's block of records is large: copying it into the buffer
    // first would only add a pass over every byte.
    if (bytes.size() < kWriteThroughSize && bytes.size() <= kBufferSize - used_) {
        std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
        return;
    }
    Flush();
    if (bytes.size() >= kWriteThroughSize) {
        WriteThrough(bytes.data(), bytes.size());
    } else {
        std::memcpy(buffer_.get(), bytes.data(), bytes.size());
        used_ = bytes.size();
    }
}

void OutputFile::Close() {
    if (fd_ < 0) return;
    try {
        Flush();
    } catch (...) {
        Abandon();
        throw;
    }
    fd_ = -1;
    bool done = true;
    if (replacement_) {
        done = replacement_->Commit();
        replacement_.reset();
    } else if (device_.IsOpen()) {
        done = device_.Close();
    }
    if (!done) ThrowIoError(errno);
}

std::string OutputFile::TemporaryPath() const { return replacement_ ? replacement_->Path() : std::string(); }

void OutputFile::Abandon() {
    used_ = 0;
    written_ = 0;
    syncStarted_ = 0;
    fd_ = -1;
    replacement_.reset();  // removes the temporary file
    device_ = FileHandle();
}

void OutputFile::Flush() {
    if (used_ == 0) return;
    const size_t size = std::exchange(used_, 0);
    WriteThrough(buffer_.get(), size);
}

void OutputFile::WriteThrough(const char* data, size_t size) {
    if (const int error = WriteAll(fd_, std::string_view(data, size)); error != 0) ThrowIoError(error);
    written_ += size;
    if (replacement_ && written_ - syncStarted_ >= kSyncStep) {
        // The file is synced before it replaces the old one; starting the
        // write-back of every few megabytes as they are written lets the
        // disk work while the conversion goes on, so that sync finds
        // little left.
        ::sync_file_range(fd_, static_cast<off_t>(syncStarted_), static_cast<off_t>(written_ - syncStarted_),
                          SYNC_FILE_RANGE_WRITE);
        syncStarted_ = written_;
    }
}

}  // namespace rastrace
