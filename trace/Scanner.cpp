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

int64_t MapToMils(int64_t value, float scale) {
    // scale = mantissa * 2^exponent with a 24-bit integer mantissa, so the
    // product value * mantissa is exact in 64 bits (|value| < 2^33), and the
    // scaling by 2^exponent is a shift with round-half-to-even.
    int exponent = 0;
    const float fraction = std::frexp(scale, &exponent);  // scale = fraction * 2^exponent, 0.5 <= |fraction| < 1
    const auto mantissa = static_cast<int64_t>(std::ldexp(fraction, 24));
    exponent -= 24;
    const int64_t product = value * mantissa;
    if (product == 0) return 0;
    if (exponent >= 0) return product << exponent;  // only for scales of 2^23 and more
    const bool negative = product < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
    const int shift = -exponent;
    uint64_t quotient;
    if (shift >= 64) {
        quotient = 0;  // magnitude < 2^57, far below half of 2^shift
    } else {
        quotient = magnitude >> shift;
        const uint64_t remainder = magnitude & ((uint64_t{1} << shift) - 1);
        const uint64_t half = uint64_t{1} << (shift - 1);
        if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
    }
    return negative ? -static_cast<int64_t>(quotient) : static_cast<int64_t>(quotient);
}

TrackMapping::TrackMapping(int32_t xres, int32_t yres, int32_t height)
    : sx(ScaleFor(xres)), sy(ScaleFor(yres)), lastRow(height - 1) {}

}  // namespace rastrace
