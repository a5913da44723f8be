#include "common/ReplacementFile.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>

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

}  // namespace

ReplacementFile::~ReplacementFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

bool ReplacementFile::Create(const std::string& target) {
    target_ = target;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(target.c_str(), nullptr)) {
            target_ = resolved;
            std::free(resolved);
        }
    }
    // A random name, created exclusively: unlike mkstemp this leaves the
    // mode to the umask, without changing the process-wide umask to read it.
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<uint64_t>(::getpid()) << 32) ^ reinterpret_cast<uintptr_t>(this);
    static constexpr char kHex[] = "0123456789abcdef";
    for (int attempt = 0; attempt < 64; ++attempt) {
        seed = MixBits(seed);
        std::string path = target_ + ".tmp";
        for (int i = 0; i < 8; ++i) path += kHex[(seed >> (4 * i)) & 0xF];
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            tempPath_ = std::move(path);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool ReplacementFile::CloseDescriptor() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || errno == EINTR;
}

bool ReplacementFile::Commit() {
    if (!CloseDescriptor()) return false;
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) return false;
    tempPath_.clear();
    return true;
}

}  // namespace rastrace
