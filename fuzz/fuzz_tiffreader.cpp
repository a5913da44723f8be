// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry for the TIFF reader, whole and by rows (see FuzzPicture.h
// for what counts as a finding). Seeds: fuzz/corpus/tiff/.
#include "fuzz/FuzzPicture.h"
#include "raster/PictureRows.h"
#include "raster/TiffReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rastrace::fuzz::CheckOneInput(
        data, size, "TIFF", [](rastrace::PictureInput& input) { return rastrace::ReadTiff(input); },
        [](rastrace::PictureInput& input) { return rastrace::OpenTiffRows(input); });
    return 0;
}
