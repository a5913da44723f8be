// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-floor: the least any converter must do with a 24-bit BMP file:
// get its bytes into memory and compare every pixel once against a colour.
// The benchmark states every converter time as a multiple of this one.
//
//   rastrace-floor FILE COLOR [--read]
//
// COLOR is the packed 0x00BBGGRR value (decimal or 0x hex). The file is
// mapped (the default) or read into one fresh buffer (--read). Prints the
// number of runs of that colour and the time taken inside the program.
// Takes only 24-bit uncompressed files with a 40-byte or larger info header.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Runs of color in one row: every pixel but the last is loaded as 4 bytes
// (the top byte belongs to the next pixel and is masked off).
uint64_t CountRowRuns(const uint8_t* p, int64_t width, uint32_t stored) {
    uint64_t runs = 0;
    bool inRun = false;
    for (int64_t i = 0; i < width; ++i) {
        uint32_t v;
        if (i + 1 < width) {
            std::memcpy(&v, p + 3 * i, 4);
            v &= 0x00FFFFFFu;
        } else {
            v = static_cast<uint32_t>(p[3 * i]) | static_cast<uint32_t>(p[3 * i + 1]) << 8 |
                static_cast<uint32_t>(p[3 * i + 2]) << 16;
        }
        const bool match = v == stored;
        runs += match && !inRun;
        inRun = match;
    }
    return runs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::strcmp(argv[3], "--read") != 0)) {
        std::fprintf(stderr, "Usage: rastrace-floor FILE COLOR [--read]\n");
        return 2;
    }
    const bool readMode = argc == 4;
    const auto color = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
    // Bytes in the file are blue, green, red: the colour as a little-endian load sees it.
    const uint32_t stored = (color & 0xFFu) << 16 | (color & 0xFF00u) | (color >> 16 & 0xFFu);

    const auto start = std::chrono::steady_clock::now();
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < 54) {
        std::fprintf(stderr, "rastrace-floor: cannot open %s\n", argv[1]);
        return 1;
    }
    const auto size = static_cast<size_t>(st.st_size);
    const uint8_t* bytes = nullptr;
    std::vector<uint8_t> buffer;
    if (readMode) {
        buffer.resize(size);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = read(fd, buffer.data() + done, size - done);
            if (n <= 0) {
                std::fprintf(stderr, "rastrace-floor: read error\n");
                return 1;
            }
            done += static_cast<size_t>(n);
        }
        bytes = buffer.data();
    } else {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            std::fprintf(stderr, "rastrace-floor: cannot map %s\n", argv[1]);
            return 1;
        }
        bytes = static_cast<const uint8_t*>(map);
    }

    const uint32_t offset = Le32(bytes + 10);
    const auto width = static_cast<int32_t>(Le32(bytes + 18));
    const auto height = static_cast<int32_t>(Le32(bytes + 22));
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    const size_t stride = (static_cast<size_t>(width) * 24 + 31) / 32 * 4;
    if (bytes[0] != 'B' || bytes[1] != 'M' || bytes[28] != 24 || Le32(bytes + 30) != 0 || width <= 0 ||
        offset + stride * static_cast<size_t>(rows) > size) {
        std::fprintf(stderr, "rastrace-floor: not a 24-bit uncompressed BMP\n");
        return 1;
    }
    uint64_t runs = 0;
    for (int64_t r = 0; r < rows; ++r) runs += CountRowRuns(bytes + offset + static_cast<size_t>(r) * stride, width, stored);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("runs %llu time %.4f\n", static_cast<unsigned long long>(runs), seconds);
    return 0;
}
