// The one place the window reads a picture file into a 24-bit raster, so
// the reader behind Open can be changed in one line.
#pragma once

#include "raster/Raster.h"

#include <string>

namespace rastrace::ui {

// The picture at path (a file-system name), or Error with the reader's
// message.
Raster ReadPictureForWindow(const std::string& path);

}  // namespace rastrace::ui
