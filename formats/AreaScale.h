// SPDX-License-Identifier: GPL-3.0-or-later
// The mapping of outline coordinates (half pixels, Y down from the top
// row) to nanometres (millionths of a millimetre) with Y up from the
// picture's bottom edge, as the area formats write them.
//
// A half-pixel value v becomes round(v * 12 700 000 / resolution) nm: one
// exact integer division rounded half away from zero, so each coordinate is
// off by at most half a nanometre.
#pragma once

#include "common/Error.h"

#include <cstdint>

namespace rastrace {

class AreaScale {
public:
    // Throws Error("Floating point division by zero") for a resolution of
    // 0, as the track formats do.
    AreaScale(int32_t xres, int32_t yres, int32_t height) : xres_(xres), yres_(yres), height2_(2 * int64_t{height}) {
        if (xres == 0 || yres == 0) throw Error("Floating point division by zero");
    }

    int64_t XNm(int32_t x2) const { return RoundDiv(x2 * kHalfInchNm, xres_); }
    // Y up: the picture's bottom edge is 0.
    int64_t YNm(int32_t y2) const { return RoundDiv((height2_ - y2) * kHalfInchNm, yres_); }

    static int64_t RoundDiv(int64_t num, int64_t den) {
        if (den < 0) {
            num = -num;
            den = -den;
        }
        const int64_t q = (num < 0 ? -num : num) * 2 + den;
        const int64_t r = q / (2 * den);
        return num < 0 ? -r : r;
    }

    static constexpr int64_t kHalfInchNm = 12'700'000;

private:
    int64_t xres_, yres_, height2_;
};

}  // namespace rastrace
