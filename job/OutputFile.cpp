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

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      ownsDescriptor_(std::exchange(other.ownsDescriptor_, false)),
      removable_(std::exchange(other.removable_, false)),
      device_(other.device_),
      inode_(other.inode_),
      path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        OutputFile old(std::move(*this));  // the old file closes quietly at scope end
        fd_ = std::exchange(other.fd_, -1);
        ownsDescriptor_ = std::exchange(other.ownsDescriptor_, false);
        removable_ = std::exchange(other.removable_, false);
        device_ = other.device_;
        inode_ = other.inode_;
        path_ = std::move(other.path_);
        buffer_ = std::move(other.buffer_);
        used_ = std::exchange(other.used_, 0);
    }
    return *this;
}

OutputFile::~OutputFile() {
    if (fd_ < 0) return;
    try {
        Flush();
    } catch (...) {
        // Quiet by contract: Close() is the call that reports.
    }
    CloseDescriptor();
}

OutputFile OutputFile::Create(const std::string& path) {
    OutputFile file;
    file.path_ = path;
    if (path == "-") {
        file.fd_ = STDOUT_FILENO;
    } else {
        int fd;
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) ThrowIoError(errno);
        file.fd_ = fd;
        file.ownsDescriptor_ = true;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            file.removable_ = true;
            file.device_ = st.st_dev;
            file.inode_ = st.st_ino;
        }
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
        CloseDescriptor();
        throw;
    }
    if (ownsDescriptor_) {
        const int fd = std::exchange(fd_, -1);
        // Linux releases the descriptor even when close fails, so it is
        // never retried; EINTR only means the close was interrupted.
        if (::close(fd) != 0 && errno != EINTR) ThrowIoError(errno);
    } else {
        fd_ = -1;
    }
}

void OutputFile::Abandon() {
    used_ = 0;
    CloseDescriptor();
    if (!removable_) return;
    removable_ = false;
    // Remove only the file we opened: the path may name another by now.
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_dev) == device_ &&
        static_cast<uint64_t>(st.st_ino) == inode_) {
        ::unlink(path_.c_str());
    }
}

void OutputFile::Flush() {
    if (used_ == 0) return;
    const size_t size = std::exchange(used_, 0);
    WriteThrough(buffer_.get(), size);
}

void OutputFile::WriteThrough(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowIoError(errno);
        }
        if (written == 0) ThrowIoError(ENOSPC);  // no progress on a regular file means no room
        data += written;
        size -= static_cast<size_t>(written);
    }
}

void OutputFile::CloseDescriptor() noexcept {
    if (fd_ >= 0 && ownsDescriptor_) ::close(fd_);
    fd_ = -1;
    used_ = 0;
}

}  // namespace rastrace
