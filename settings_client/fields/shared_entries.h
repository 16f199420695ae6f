// How the shared entries of the dispatcher derive their command: the two
// indexed entries add a fixed base to the index, the mapped write looks the
// index up in four ranges. Kept constexpr so the field table can be checked
// against it at compile time.
#pragma once

#include <cstdint>

namespace settings_client {

inline constexpr int32_t kIndexedWriteBase = 375;
inline constexpr int32_t kIndexedExchangeBase = 380;

// index + base in 32-bit two's-complement arithmetic: no range check, and
// no overflow trap for indices near the ends of the range.
constexpr int32_t IndexedCommand(int32_t index, int32_t base) {
    return static_cast<int32_t>(static_cast<uint32_t>(index) + static_cast<uint32_t>(base));
}

// One run of the mapped write's index map: first_index..last_index take
// first_command, first_command + 1, ...
struct MappedIndexRange {
    uint32_t first_index;
    uint32_t last_index;
    int32_t first_command;
};

inline constexpr MappedIndexRange kMappedIndexMap[] = {
    {0, 6, 436},
    {7, 9, 490},
    {20, 41, 443},
    {60, 81, 465},
};

// Command of the mapped write for an index; 0 for an index outside the map
// (the request is still sent, with command 0).
constexpr int32_t MappedWriteCommand(uint32_t index) {
    for (const MappedIndexRange& range : kMappedIndexMap) {
        if (index >= range.first_index && index <= range.last_index) {
            return range.first_command + static_cast<int32_t>(index - range.first_index);
        }
    }
    return 0;
}

}  // namespace settings_client
