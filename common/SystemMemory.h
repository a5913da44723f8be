// SPDX-License-Identifier: GPL-3.0-or-later
// How much memory a new block may take now. Sizes that come from a file
// (a picture's header) are checked against it before anything is
// allocated, so a tiny file cannot claim memory the machine does not have.
//
// The one fact a caller must know: the answer is read afresh on each call
// (it changes as other programs run); nothing here is process-wide state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace rastrace {

// The smaller of the system's available memory (MemAvailable: free memory
// plus what can be reclaimed without swapping) and the room left under the
// process's address-space limit (RLIMIT_AS) when one is set.
uint64_t MemoryAvailableNow();

// The MemAvailable line of /proc/meminfo text, in bytes; nullopt when the
// text has none.
std::optional<uint64_t> MemAvailableIn(std::string_view meminfo);

// The room under an address-space limit of limitBytes for a process whose
// address space already takes usedBytes (0 when it is used up).
inline uint64_t AddressSpaceRoom(uint64_t limitBytes, uint64_t usedBytes) {
    return limitBytes > usedBytes ? limitBytes - usedBytes : 0;
}

}  // namespace rastrace
