// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry for the PNG reader, whole and by rows (see FuzzPicture.h
// for what counts as a finding). Seeds: fuzz/corpus/png/.
#include "fuzz/FuzzPicture.h"
#include "raster/PictureRows.h"
#include "raster/PngReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rastrace::fuzz::CheckOneInput(
        data, size, "PNG", [](rastrace::PictureInput& input) { return rastrace::ReadPng(input); },
        [](rastrace::PictureInput& input) { return rastrace::OpenPngRows(input); });
    return 0;
}
