// SPDX-License-Identifier: GPL-3.0-or-later
// The shared body of the PNG, TIFF and JPEG reader fuzz targets: any byte
// string must either load into a consistent 24-bit raster or fail with the
// reader's own message ("Cannot read <kind> file: ..." or "Out of memory");
// anything else (a crash, a sanitizer report, another exception, a hang)
// is a finding.
//
// The same bytes are then read by rows, band by band, where the reader can:
// unless either read ran out of memory, both must end alike, and with the
// same pixels and resolution where they load.
#pragma once

#include "common/Error.h"
#include "raster/PictureInput.h"
#include "raster/PictureReader.h"
#include "raster/PictureRows.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rastrace::fuzz {

// Hostile headers then fail with "Out of memory" instead of taking the
// machine's memory. As the BMP target's: a small file may rightly decode
// to a picture of that size (the readers bound it by the file's data, not
// tightly), and each run must stay well within the fuzzer's two seconds
// an input on a busy machine.
inline constexpr uint64_t kFuzzMemoryLimit = uint64_t{16} << 20;

// A message a reader may fail with; anything else is a finding.
inline void CheckMessage(const Error& e, const char* kind) {
    const std::string prefix = std::string("Cannot read ") + kind + " file: ";
    const std::string message = e.what();
    if (message != "Out of memory" && message.compare(0, prefix.size(), prefix) != 0) std::abort();
    if (message.find('\n') != std::string::npos) std::abort();
}

inline bool IsOutOfMemory(const std::optional<std::string>& message) { return message && *message == "Out of memory"; }

// Reads the rows, a band at a time from the top, against the whole read's
// picture (nullptr where that failed, with wholeFailure its message).
template <typename RowOpener>
void CheckRows(const uint8_t* data, size_t size, const char* kind, RowOpener openRows, const Picture* whole,
               const std::optional<std::string>& wholeFailure) {
    std::optional<std::string> failure;
    try {
        MemoryInput input({data, size});
        input.SetMemoryLimit(kFuzzMemoryLimit);
        const std::unique_ptr<PictureRows> rows = openRows(input);
        if (!rows) return;  // read whole by the caller
        // A picture beyond what the whole read may hold could take long to
        // decode by rows, and has nothing to be compared with.
        const uint64_t rowBytes = uint64_t{static_cast<uint32_t>(rows->Width())} * 3;
        if (rows->Width() < 1 || rows->Height() < 1 || rowBytes * static_cast<uint64_t>(rows->Height()) > kFuzzMemoryLimit) {
            return;
        }
        if (whole != nullptr) {
            if (rows->Width() != whole->raster.Width() || rows->Height() != whole->raster.Height()) std::abort();
            if (rows->Facts().dpiX != whole->dpiX || rows->Facts().dpiY != whole->dpiY) std::abort();
        }
        const int32_t band = rows->BandRows();
        if (band < 1) std::abort();
        std::vector<uint8_t> block(static_cast<size_t>(rowBytes) * static_cast<size_t>(band));
        for (int32_t first = 0; first < rows->Height(); first += band) {
            const int32_t count = std::min(band, rows->Height() - first);
            rows->ReadRows(first, count, block.data(), static_cast<size_t>(rowBytes));
            if (whole == nullptr) continue;
            for (int32_t i = 0; i < count; ++i) {
                if (std::memcmp(block.data() + static_cast<size_t>(i) * rowBytes, whole->raster.RowBytes(first + i).data(),
                                static_cast<size_t>(rowBytes)) != 0) {
                    std::abort();
                }
            }
        }
    } catch (const Error& e) {
        CheckMessage(e, kind);
        failure = e.what();
    }
    if (IsOutOfMemory(failure) || IsOutOfMemory(wholeFailure)) return;
    if (failure.has_value() != wholeFailure.has_value()) std::abort();
}

template <typename Reader, typename RowOpener>
void CheckOneInput(const uint8_t* data, size_t size, const char* kind, Reader read, RowOpener openRows) {
    std::optional<Picture> picture;
    std::optional<std::string> failure;
    try {
        MemoryInput input({data, size});
        input.SetMemoryLimit(kFuzzMemoryLimit);
        picture = read(input);
        const Raster& raster = picture->raster;
        if (raster.Width() < 0 || raster.Height() < 0) std::abort();
        if (raster.StorageSize() != raster.Stride() * static_cast<size_t>(raster.Height())) std::abort();
        if (picture->dpiX && *picture->dpiX < 1) std::abort();
        if (picture->dpiY && *picture->dpiY < 1) std::abort();
        // Touch the first and last row so that a raster whose memory does
        // not match its size shows under the address sanitizer.
        if (!raster.Empty()) {
            volatile uint8_t sink = raster.RowBytes(0).back();
            sink = raster.RowBytes(raster.Height() - 1).front();
            (void)sink;
        }
    } catch (const Error& e) {
        CheckMessage(e, kind);
        failure = e.what();
    }
    CheckRows(data, size, kind, openRows, picture ? &*picture : nullptr, failure);
}

}  // namespace rastrace::fuzz
