// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/SystemMemory.h"

#include "common/FileHandle.h"

#include <charconv>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace rastrace {

namespace {

// The start of a small /proc file; empty when it cannot be read.
std::string_view ReadProcFile(const char* path, char (&buffer)[4096]) {
    const FileHandle file(::open(path, O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) return {};
    const int64_t n = ReadUpTo(file.Fd(), reinterpret_cast<uint8_t*>(buffer), sizeof buffer);
    return n > 0 ? std::string_view(buffer, static_cast<size_t>(n)) : std::string_view();
}

uint64_t PageSize() {
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

// The process's address-space size in bytes (first field of statm, in pages).
std::optional<uint64_t> AddressSpaceUsed() {
    char buffer[4096];
    const std::string_view text = ReadProcFile("/proc/self/statm", buffer);
    uint64_t pages = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), pages);
    if (ec != std::errc() || end == text.data()) return std::nullopt;
    return pages * PageSize();
}

}  // namespace

std::optional<uint64_t> MemAvailableIn(std::string_view meminfo) {
    constexpr std::string_view kKey = "MemAvailable:";
    size_t at = 0;
    while (at < meminfo.size()) {
        const size_t end = std::min(meminfo.find('\n', at), meminfo.size());
        std::string_view line = meminfo.substr(at, end - at);
        at = end + 1;
        if (line.substr(0, kKey.size()) != kKey) continue;
        line.remove_prefix(kKey.size());
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        uint64_t kib = 0;
        const auto [rest, ec] = std::from_chars(line.data(), line.data() + line.size(), kib);
        if (ec != std::errc() || rest == line.data() || kib > UINT64_MAX / 1024) return std::nullopt;
        return kib * 1024;
    }
    return std::nullopt;
}

uint64_t MemoryAvailableNow() {
    char buffer[4096];
    std::optional<uint64_t> available = MemAvailableIn(ReadProcFile("/proc/meminfo", buffer));
    if (!available) {
        const long pages = ::sysconf(_SC_AVPHYS_PAGES);
        available = pages > 0 ? static_cast<uint64_t>(pages) * PageSize() : 0;
    }
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const std::optional<uint64_t> used = AddressSpaceUsed();
        const uint64_t room = AddressSpaceRoom(limit.rlim_cur, used.value_or(limit.rlim_cur));
        if (room < *available) available = room;
    }
    return *available;
}

}  // namespace rastrace
