// SPDX-License-Identifier: GPL-3.0-or-later
// Clipping a line's parameter to a band, for the board generators' drawing.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>

namespace rastrace::bench {

// Narrows [lo, hi] to the t with lower <= a*t + b <= upper; false when empty.
inline bool Clip(double a, double b, double lower, double upper, double& lo, double& hi) {
    if (std::fabs(a) < 1e-12) return b >= lower && b <= upper;
    double t0 = (lower - b) / a, t1 = (upper - b) / a;
    if (t0 > t1) std::swap(t0, t1);
    lo = std::max(lo, t0);
    hi = std::min(hi, t1);
    return lo <= hi;
}

}  // namespace rastrace::bench
