// The four process-wide values of the settings client (client id, queue id,
// client lock, segment id) plus the size of the attached segment, which the
// bounded copies need. They start at zero / none, are written by
// initialisation, teardown and the setters, and are read by every request
// without a lock: callers must not change them while a request runs.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace settings_client {

struct ClientState {
    uint32_t client_id;
    int32_t queue_id;
    pthread_mutex_t* client_lock;
    int32_t segment_id;
    // Size in bytes of the segment named by segment_id, learned when it was
    // opened; 0 while no segment is known, so every copy is refused.
    int64_t segment_size;
};

// The single instance; zero-initialised at program start.
extern ClientState client_state;

}  // namespace settings_client
