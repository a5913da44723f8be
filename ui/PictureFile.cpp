#include "ui/PictureFile.h"

#include "raster/BmpReader.h"

namespace rastrace::ui {

Raster ReadPictureForWindow(const std::string& path) { return ReadBitmapFile(path); }

}  // namespace rastrace::ui
