// SPDX-License-Identifier: GPL-3.0-or-later
// The one owner of an open file descriptor, and the loops that read and
// write whole blocks through one.
//
// The one fact a caller must know: WriteAll treats a write that makes no
// progress as a full disk, so no caller ever spins on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rastrace {

// Closes its descriptor when it goes away, on every path. Move-only.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int Fd() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now; false, with errno set, when close reports an error (on
    // some file systems a failed write only shows here). The descriptor is
    // released either way.
    bool Close();

private:
    int fd_ = -1;
};

// Writes all of data to fd, going on after short writes and interrupts.
// Returns 0, or the errno of the failure; a write that returns 0 counts
// as ENOSPC (no room left).
int WriteAll(int fd, std::string_view data);

// Reads up to n bytes into dst, going on after short reads and interrupts
// until n bytes are in or the end of the file is reached. Returns the
// bytes read, or -1 with errno set on an error.
int64_t ReadUpTo(int fd, uint8_t* dst, size_t n);

}  // namespace rastrace
