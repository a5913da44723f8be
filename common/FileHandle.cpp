// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/FileHandle.h"

#include <cerrno>

#include <unistd.h>

namespace rastrace {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileHandle::Close() {
    if (fd_ < 0) return true;
    // Linux releases the descriptor even when close fails, so it is never
    // retried; EINTR only means the close was interrupted.
    return ::close(Release()) == 0 || errno == EINTR;
}

int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ENOSPC;  // no progress on a regular file means no room
        data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

int64_t ReadUpTo(int fd, uint8_t* dst, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, dst + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(got);
}

}  // namespace rastrace
