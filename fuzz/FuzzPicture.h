// The shared body of the PNG, TIFF and JPEG reader fuzz targets: any byte
// string must either load into a consistent 24-bit raster or fail with the
// reader's own message ("Cannot read <kind> file: ..." or "Out of memory");
// anything else (a crash, a sanitizer report, another exception, a hang)
// is a finding.
#pragma once

#include "common/Error.h"
#include "raster/PictureInput.h"
#include "raster/PictureReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace rastrace::fuzz {

// Hostile headers then fail with "Out of memory" instead of taking the
// machine's memory. Lower than the BMP target's 64 MiB: a file of a hundred
// bytes may rightly decode to a picture of that size (JPEG and PNG fill
// what the data leaves out), and each run must stay well within the
// fuzzer's time limit on a busy machine.
inline constexpr uint64_t kFuzzMemoryLimit = uint64_t{16} << 20;

template <typename Reader>
void CheckOneInput(const uint8_t* data, size_t size, const char* kind, Reader read) {
    const std::string prefix = std::string("Cannot read ") + kind + " file: ";
    try {
        MemoryInput input({data, size});
        input.SetMemoryLimit(kFuzzMemoryLimit);
        const Picture picture = read(input);
        const Raster& raster = picture.raster;
        if (raster.Width() < 0 || raster.Height() < 0) std::abort();
        if (raster.StorageSize() != raster.Stride() * static_cast<size_t>(raster.Height())) std::abort();
        if (picture.dpiX && *picture.dpiX < 1) std::abort();
        if (picture.dpiY && *picture.dpiY < 1) std::abort();
        // Touch the first and last row so that a raster whose memory does
        // not match its size shows under the address sanitizer.
        if (!raster.Empty()) {
            volatile uint8_t sink = raster.RowBytes(0).back();
            sink = raster.RowBytes(raster.Height() - 1).front();
            (void)sink;
        }
    } catch (const Error& e) {
        const std::string message = e.what();
        if (message != "Out of memory" && message.compare(0, prefix.size(), prefix) != 0) std::abort();
        if (message.find('\n') != std::string::npos) std::abort();
    }
}

}  // namespace rastrace::fuzz
