// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ReplacementFile.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rastrace {

namespace {

uint64_t MixBits(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The folder part of path with its final "/", or "" for a bare name.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// path with every symbolic link at its end followed, even when the last
// one names a file that does not exist yet. False, with errno, on a loop
// or an unreadable link.
bool FollowLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0) return false;
        link.resize(static_cast<size_t>(n));
        path = !link.empty() && link.front() == '/' ? link : FolderOf(path) + link;
    }
    errno = ELOOP;
    return false;
}

bool NameFits(const std::string& path) {
    const std::string folder = FolderOf(path);
    const long max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    const size_t limit = max > 0 ? static_cast<size_t>(max) : NAME_MAX;
    return path.size() - folder.size() <= limit;
}

// Makes a rename in path's folder durable; a failure here leaves a complete
// file either way, so it is not reported.
void SyncFolderOf(const std::string& path) {
    const std::string folder = FolderOf(path);
    const FileHandle dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen()) ::fsync(dir.Fd());
}

}  // namespace

ReplacementFile::~ReplacementFile() { Abandon(); }

bool ReplacementFile::Create(const std::string& target) {
    Abandon();
    target_ = target;
    if (!FollowLinks(target_)) return false;
    struct stat old {};
    const bool exists = ::stat(target_.c_str(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode)) return errno = EISDIR, false;
        if (!S_ISREG(old.st_mode)) return errno = EINVAL, false;
        if (::access(target_.c_str(), W_OK) != 0) return false;
    } else if (!NameFits(target_)) {
        return errno = ENAMETOOLONG, false;
    }
    // A short random name, created exclusively: it fits beside a target of
    // any valid length, and unlike mkstemp it leaves the mode to the umask
    // without changing the process-wide umask to read it.
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<uint64_t>(::getpid()) << 32) ^ reinterpret_cast<uintptr_t>(this);
    static constexpr char kHex[] = "0123456789abcdef";
    const std::string folder = FolderOf(target_);
    for (int attempt = 0; attempt < 64; ++attempt) {
        seed = MixBits(seed);
        std::string path = folder + ".rastrace-";
        for (int i = 0; i < 8; ++i) path += kHex[(seed >> (4 * i)) & 0xF];
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        file_ = FileHandle(fd);
        tempPath_ = std::move(path);
        if (exists) {
            // Who may read the new file stays as it was; a group the user
            // may not give (fchown fails) leaves the folder's default.
            (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
            (void)::fchmod(fd, old.st_mode & 07777);
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

bool ReplacementFile::Commit() {
    if (!file_.IsOpen()) {
        errno = EBADF;
        return false;
    }
    if (::fsync(file_.Fd()) != 0 || !file_.Close() || ::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        Abandon();
        errno = error;
        return false;
    }
    tempPath_.clear();
    SyncFolderOf(target_);
    return true;
}

void ReplacementFile::Abandon() {
    file_ = FileHandle();
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
}

}  // namespace rastrace
