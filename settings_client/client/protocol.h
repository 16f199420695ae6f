// Fixed numbers of the settings-server protocol shared by every layer of the
// client: the segment and slot geometry and the 20-byte request text. The
// wire record used internally keeps the text at exactly 20 bytes after the
// platform's type word, whatever the width of `long`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace settings_client {

inline constexpr int32_t kSegmentSize = 110592;  // nine payload slots
inline constexpr int32_t kSlotSize = 12288;      // one client's payload slot
inline constexpr int32_t kRequestTextSize = 20;  // five 32-bit integers
inline constexpr long kServerMessageType = 1;    // requests go to the server
inline constexpr int32_t kSegmentPermissions = 0660;
inline constexpr int32_t kQueuePermissions = 0666;

static_assert(kSegmentSize == 9 * kSlotSize, "the segment holds the slots of client ids 2 to 10");

// The message as it travels on the queue. `text` is read and written as five
// host-order 32-bit integers; only the first 20 bytes go to the kernel.
struct WireRequest {
    long mtype;
    int32_t command;
    int32_t source;
    int32_t reserved;
    int32_t length;
    int32_t offset;
};

static_assert(offsetof(WireRequest, offset) + sizeof(int32_t) - offsetof(WireRequest, command) ==
                  kRequestTextSize,
              "the request text is exactly 20 bytes after the type word");

// Offset of the payload slot of a client id, in 64-bit arithmetic so that no
// id can wrap around into the segment.
constexpr int64_t SlotOffset(uint32_t client_id) {
    return (static_cast<int64_t>(client_id) - 2) * kSlotSize;
}

}  // namespace settings_client
