#include "trace/ColorCount.h"

#include <unordered_map>

namespace rastrace {

std::vector<ColorCount> CountColors(const Raster& raster) {
    std::vector<ColorCount> counts;
    std::unordered_map<uint32_t, size_t> index;
    for (int32_t y = 0; y < raster.Height(); ++y) {
        const uint8_t* p = raster.RowBytes(y).data();
        int32_t x = 0;
        while (x < raster.Width()) {
            // Neighbouring pixels mostly share a colour: count a whole run
            // with one look-up.
            const uint32_t color = PackColor(p + 3 * static_cast<size_t>(x));
            int32_t end = x + 1;
            while (end < raster.Width() && PackColor(p + 3 * static_cast<size_t>(end)) == color) ++end;
            auto [it, added] = index.try_emplace(color, counts.size());
            if (added) counts.push_back(ColorCount{color, 0});
            counts[it->second].pixels += static_cast<uint64_t>(end - x);
            x = end;
        }
    }
    return counts;
}

}  // namespace rastrace
