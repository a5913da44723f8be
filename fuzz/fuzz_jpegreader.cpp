// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry for the JPEG reader, whole and by rows (see FuzzPicture.h
// for what counts as a finding). Seeds: fuzz/corpus/jpeg/.
#include "fuzz/FuzzPicture.h"
#include "raster/PictureRows.h"
#include "raster/JpegReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rastrace::fuzz::CheckOneInput(
        data, size, "JPEG", [](rastrace::PictureInput& input) { return rastrace::ReadJpeg(input); },
        [](rastrace::PictureInput& input) { return rastrace::OpenJpegRows(input); });
    return 0;
}
