// The shared segment: get-or-create (ShareMemInit, ShareMemGet) and the
// bounded copies. The segment's real size is learned when ShareMemInit opens
// it, because a smaller segment found under the key is legal and no copy may
// run past its end.
#include "ipc/shared_segment.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

#include "client/client_state.h"
#include "client/protocol.h"
#include "ipc/kernel_calls.h"
#include "settings_client/settings_client.h"

namespace settings_client {
namespace {

int32_t GetOrCreateSegment(int32_t key) {
    int segment_id = shmget(key, kSegmentSize, IPC_CREAT | kSegmentPermissions);
    if (segment_id < 0) segment_id = shmget(key, 0, 0);
    return segment_id < 0 ? -1 : segment_id;
}

int64_t SegmentSize(int32_t segment_id) {
    shmid_ds status{};
    if (segment_id < 0 || shmctl(segment_id, IPC_STAT, &status) != 0) return 0;
    return static_cast<int64_t>(status.shm_segsz);
}

}  // namespace

int32_t CopyToSegment(int64_t offset, const void* source, int32_t count) {
    if (!RegionInside(offset, count, client_state.segment_size)) return -1;
    if (count > 0 && source == nullptr) return -1;
    void* base = kernel::Attach(client_state.segment_id);
    if (base == nullptr) return -1;
    if (count > 0)
        std::memcpy(static_cast<char*>(base) + offset, source, static_cast<size_t>(count));
    return kernel::Detach(base) == 0 ? 0 : -1;
}

int32_t CopyFromSegment(int64_t offset, void* destination, int32_t count) {
    if (!RegionInside(offset, count, client_state.segment_size)) return -1;
    if (count > 0 && destination == nullptr) return -1;
    void* base = kernel::Attach(client_state.segment_id);
    if (base == nullptr) return -1;
    if (count > 0) {
        std::memcpy(destination, static_cast<const char*>(base) + offset,
                    static_cast<size_t>(count));
    }
    return kernel::Detach(base) == 0 ? 0 : -1;
}

}  // namespace settings_client

extern "C" {

int32_t ShareMemInit(int32_t key) {
    using settings_client::client_state;
    client_state.segment_id = settings_client::GetOrCreateSegment(key);
    client_state.segment_size = settings_client::SegmentSize(client_state.segment_id);
    return client_state.segment_id;
}

int32_t ShareMemGet(int32_t key) { return settings_client::GetOrCreateSegment(key); }

int32_t ShareMemWrite(int32_t offset, const void* source, int32_t length) {
    return settings_client::CopyToSegment(offset, source, length);
}

int32_t ShareMemRead(int32_t offset, void* destination, int32_t length) {
    return settings_client::CopyFromSegment(offset, destination, length);
}

}  // extern "C"
