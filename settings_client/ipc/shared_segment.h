// Bounded copies between a caller's buffer and the shared segment, used by
// ShareMemWrite/ShareMemRead and by the request exchange. Each copy attaches
// the segment, copies and detaches at once; a copy whose region is not inside
// the segment, or whose attach fails, copies nothing.
#pragma once

#include <cstdint>

namespace settings_client {

// True when [offset, offset + count) lies inside a segment of `size` bytes
// and count is not negative.
constexpr bool RegionInside(int64_t offset, int64_t count, int64_t size) {
    return offset >= 0 && count >= 0 && offset <= size && count <= size - offset;
}

// Copy into / out of the segment named by the client state. Return 0 after a
// complete copy and detach, -1 when nothing was copied or the detach failed.
int32_t CopyToSegment(int64_t offset, const void* source, int32_t count);
int32_t CopyFromSegment(int64_t offset, void* destination, int32_t count);

}  // namespace settings_client
