// The kernel's System V message and shared-memory calls, unchanged.
#include "ipc/kernel_calls.h"

#include <sys/msg.h>
#include <sys/shm.h>

namespace settings_client::kernel {

int Send(int queue_id, const void* message, size_t text_size) {
    return msgsnd(queue_id, message, text_size, 0);
}

ssize_t Receive(int queue_id, void* message, size_t text_size, long type, int flags) {
    return msgrcv(queue_id, message, text_size, type, flags);
}

void* Attach(int segment_id) {
    void* address = shmat(segment_id, nullptr, 0);
    return address == reinterpret_cast<void*>(-1) ? nullptr : address;
}

int Detach(const void* address) { return shmdt(address); }

}  // namespace settings_client::kernel
