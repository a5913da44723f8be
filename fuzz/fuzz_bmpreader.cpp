// libFuzzer entry for the bitmap reader: any byte string must either load
// into a consistent 24-bit raster or fail with one of the reader's own
// messages; anything else (a crash, a sanitizer report, another exception,
// a hang) is a finding.
#include "common/Error.h"
#include "raster/BmpReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsReaderMessage(const char* message) {
    return std::strcmp(message, "Stream read error") == 0 || std::strcmp(message, "Bitmap image is not valid") == 0 ||
           std::strcmp(message, "Out of memory") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        // Hostile headers fail with "Out of memory" instead of taking the
        // machine's memory.
        rastrace::ReadLimits limits;
        limits.memory = uint64_t{64} << 20;
        const rastrace::Raster raster = rastrace::LoadBitmapMemory({data, size}, limits).raster;
        if (raster.Width() < 0 || raster.Height() < 0) std::abort();
        if (raster.StorageSize() != raster.Stride() * static_cast<size_t>(raster.Height())) std::abort();
        // Touch the first and last row so that a raster whose memory does
        // not match its size shows under the address sanitizer.
        if (!raster.Empty()) {
            volatile uint8_t sink = raster.RowBytes(0).back();
            sink = raster.RowBytes(raster.Height() - 1).front();
            (void)sink;
        }
    } catch (const rastrace::Error& e) {
        if (!IsReaderMessage(e.what())) std::abort();
    }
    return 0;
}
