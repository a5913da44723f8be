// SPDX-License-Identifier: GPL-3.0-or-later
// The one place the window reads a picture file into a 24-bit raster: BMP,
// PNG, TIFF or JPEG, told apart by their content.
#pragma once

#include "raster/BmpReader.h"
#include "raster/Raster.h"

#include <string>

namespace rastrace::ui {

// The picture at path (a file-system name) within limits, or Error with the
// reader's message.
Raster ReadPictureForWindow(const std::string& path, const ReadLimits& limits = {});

}  // namespace rastrace::ui
