// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry for the bitmap reader: any byte string must either load
// into a consistent 24-bit raster or fail with one of the reader's own
// messages, and read by rows (bands from the bottom up) it must give the
// same rows or the same failure; anything else (a crash, a sanitizer
// report, another exception, a hang) is a finding.
#include "common/Error.h"
#include "raster/BmpReader.h"
#include "raster/PictureInput.h"
#include "raster/PictureRows.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// Hostile headers then fail with "Out of memory"; and a picture of that
// size, decoded twice (whole and by rows) under the sanitizers, stays well
// within the fuzzer's two seconds an input.
constexpr uint64_t kMemoryLimit = uint64_t{16} << 20;

bool IsReaderMessage(const char* message) {
    return std::strcmp(message, "Stream read error") == 0 || std::strcmp(message, "Bitmap image is not valid") == 0 ||
           std::strcmp(message, "Out of memory") == 0;
}

// The rows, a band at a time from the bottom up, against the whole read
// (nullptr where it failed with wholeFailure).
void CheckRows(const uint8_t* data, size_t size, const rastrace::Raster* whole,
               const std::optional<std::string>& wholeFailure) {
    std::optional<std::string> failure;
    try {
        rastrace::MemoryInput input({data, size});
        input.SetMemoryLimit(kMemoryLimit);
        const std::unique_ptr<rastrace::PictureRows> rows = rastrace::OpenBitmapRows(input);
        if (!rows) return;  // read whole by the caller
        const uint64_t rowBytes = uint64_t{static_cast<uint32_t>(rows->Width())} * 3;
        if (rows->Width() < 1 || rows->Height() < 1 || rowBytes * static_cast<uint64_t>(rows->Height()) > kMemoryLimit) {
            return;  // nothing to compare, or more than the whole read may hold
        }
        if (whole != nullptr && (rows->Width() != whole->Width() || rows->Height() != whole->Height())) std::abort();
        const int32_t band = 5;  // several rows a read; any band size serves a bitmap
        const ptrdiff_t stride = rows->NaturalStride();
        const size_t step = static_cast<size_t>(stride < 0 ? -stride : stride);
        std::vector<uint8_t> block(step * static_cast<size_t>(band));
        for (int32_t end = rows->Height(); end > 0; end -= band) {
            const int32_t count = std::min(band, end);
            const int32_t first = end - count;
            uint8_t* base = stride < 0 ? block.data() + step * static_cast<size_t>(count - 1) : block.data();
            rows->ReadRows(first, count, base, stride);
            if (whole == nullptr) continue;
            for (int32_t i = 0; i < count; ++i) {
                if (std::memcmp(base + i * stride, whole->RowBytes(first + i).data(), static_cast<size_t>(rowBytes)) != 0) {
                    std::abort();
                }
            }
        }
    } catch (const rastrace::Error& e) {
        if (!IsReaderMessage(e.what())) std::abort();
        failure = e.what();
    }
    const bool outOfMemory = (failure && *failure == "Out of memory") || (wholeFailure && *wholeFailure == "Out of memory");
    if (!outOfMemory && failure.has_value() != wholeFailure.has_value()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<rastrace::Raster> raster;
    std::optional<std::string> failure;
    try {
        // Hostile headers fail with "Out of memory" instead of taking the
        // machine's memory.
        rastrace::ReadLimits limits;
        limits.memory = kMemoryLimit;
        raster = std::move(rastrace::LoadBitmapMemory({data, size}, limits).raster);
        if (raster->Width() < 0 || raster->Height() < 0) std::abort();
        if (raster->StorageSize() != raster->Stride() * static_cast<size_t>(raster->Height())) std::abort();
        // Touch the first and last row so that a raster whose memory does
        // not match its size shows under the address sanitizer.
        if (!raster->Empty()) {
            volatile uint8_t sink = raster->RowBytes(0).back();
            sink = raster->RowBytes(raster->Height() - 1).front();
            (void)sink;
        }
    } catch (const rastrace::Error& e) {
        if (!IsReaderMessage(e.what())) std::abort();
        failure = e.what();
    }
    CheckRows(data, size, raster ? &*raster : nullptr, failure);
    return 0;
}
