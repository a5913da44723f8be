// SPDX-License-Identifier: GPL-3.0-or-later
// The PADS item counter (FPolyCount) of an owner: each track of an ASC file
// takes the next item number. The counter is 32 bits and wraps on purpose:
// after 2147483647 the numbers go on from -2147483648, as the file format's
// writers always did, and never with undefined behaviour.
#pragma once

#include <cstdint>

namespace rastrace {

// a + b in 32-bit two's complement.
inline int32_t WrappingAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

class ItemCounter {
public:
    // Takes count numbers at once; returns the first of them (the count
    // before, plus 1).
    int32_t Take(int32_t count) {
        const int32_t first = WrappingAdd(count_, 1);
        count_ = WrappingAdd(count_, count);
        return first;
    }
    int32_t Count() const { return count_; }

private:
    int32_t count_ = 0;
};

}  // namespace rastrace
