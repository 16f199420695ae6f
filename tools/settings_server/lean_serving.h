// The settings-server program's lean serving loop ("--mode lean"), for
// benchmarks. It answers exactly as the full server does by default -- a
// stored reply is placed in the requesting client's slot and named by its
// length and offset, any other request gets its own length and offset back,
// a notification gets no reply -- and, like it, reads each outgoing payload
// before replying. It records nothing and takes no lock, allocates nothing
// per request and keeps the segment attached, so the cost it adds to a
// request is small and the same from one request to the next.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace stand_in {

using StoredReplies = std::vector<std::pair<int32_t, std::vector<uint8_t>>>;

// Opens or creates the queue and the segment under `key`, writes "ready" on
// standard output and serves in the calling thread until SIGTERM or SIGINT,
// which end the process with status 0. Returns 1 (after a message on
// standard error) when the queue or segment cannot be had.
int ServeLean(int key, int32_t segment_size, const StoredReplies& replies);

}  // namespace stand_in
