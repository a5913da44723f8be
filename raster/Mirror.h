// SPDX-License-Identifier: GPL-3.0-or-later
// Mirroring the raster in place. Only the Width*3 pixel bytes of each row
// move; padding is never touched. Each mirror is its own inverse.
//
// A mirror writes every row, so pixel memory not yet in memory becomes
// real: when that exceeds memoryLimit (by default the memory available
// now) the mirror fails with "Out of memory" before it changes anything.
#pragma once

#include "raster/Raster.h"

namespace rastrace {

// Left and right change places: pixel x of every row takes what pixel W-1-x held.
void MirrorHorizontal(Raster& raster, uint64_t memoryLimit = MemoryAvailableNow());

// Top and bottom change places: row y takes what row H-1-y held. Uses one
// row-sized buffer for the whole run ("Out of memory" if it cannot be had).
void MirrorVertical(Raster& raster, uint64_t memoryLimit = MemoryAvailableNow());

}  // namespace rastrace
