// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace/Scanner.h"

#include "common/Error.h"

#include <cmath>

namespace rastrace {

float ScaleFor(int32_t resolution) {
    if (resolution == 0) throw Error("Floating point division by zero");
    // The division runs in extended precision, then the result is stored as
    // a single; 1000/600 becomes 1.6666666269302368, and that rounding is
    // part of every coordinate.
    return static_cast<float>(1000.0L / static_cast<long double>(resolution));
}

MilsScale::MilsScale(float scale) {
    // scale = mantissa * 2^exponent with a 24-bit integer mantissa, so the
    // product value * mantissa is exact in 64 bits (|value| < 2^33), and the
    // scaling by 2^exponent is a shift with round-half-to-even.
    int exponent = 0;
    const float fraction = std::frexp(scale, &exponent);  // scale = fraction * 2^exponent, 0.5 <= |fraction| < 1
    mantissa_ = static_cast<int64_t>(std::ldexp(fraction, 24));
    shift_ = 24 - exponent;
}

int64_t MapToMils(int64_t value, float scale) { return MilsScale(scale)(value); }

TrackMapping::TrackMapping(int32_t xres, int32_t yres, int32_t height)
    : sx(ScaleFor(xres)), sy(ScaleFor(yres)), lastRow(height - 1), mx_(sx), my_(sy) {}

}  // namespace rastrace
