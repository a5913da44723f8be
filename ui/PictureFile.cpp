// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PictureFile.h"

#include "raster/PictureReader.h"

namespace rastrace::ui {

Raster ReadPictureForWindow(const std::string& path, const ReadLimits& limits) {
    return ReadPictureFile(path, limits).raster;
}

}  // namespace rastrace::ui
