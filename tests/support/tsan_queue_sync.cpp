// ThreadSanitizer does not know that the kernel's message queues order
// memory: what a sender wrote to the shared segment before msgsnd is visible
// to whoever takes that message off the queue with msgrcv, and whatever a
// thread did before removing a queue is visible to a thread whose queue call
// then fails because the queue is gone. Tests that run the stand-in settings
// server as a thread of the test process rely on exactly that, so in
// ThreadSanitizer builds every test binary links these wrappers. They
// replace msgsnd, msgrcv and msgctl for the whole program (the library's
// calls included), call the next definition (for msgsnd and msgrcv the
// sanitizer's own, which also lets signals reach a receiver blocked in the
// kernel) and tell the sanitizer what the kernel guarantees: "release" on
// sending and "acquire" on receiving, on a token per (queue, message type),
// and "release" on removing a queue, "acquire" on finding it removed. Only
// the threads that the kernel orders are ordered, so other races are still
// reported.
#include <dlfcn.h>
#include <sys/msg.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

namespace {

using SendFunction = int (*)(int, const void*, size_t, int);
using ReceiveFunction = ssize_t (*)(int, void*, size_t, long, int);
using ControlFunction = int (*)(int, int, msqid_ds*);

// Looked up before main: a lookup may allocate, and tests count allocations.
const auto next_send = reinterpret_cast<SendFunction>(dlsym(RTLD_NEXT, "msgsnd"));
const auto next_receive = reinterpret_cast<ReceiveFunction>(dlsym(RTLD_NEXT, "msgrcv"));
const auto next_control = reinterpret_cast<ControlFunction>(dlsym(RTLD_NEXT, "msgctl"));

// One byte per token; a rare collision only orders a little more than needed.
char message_tokens[4096];
char removal_tokens[256];

void* MessageToken(int queue_id, long type) {
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(queue_id)) << 32) ^
                         static_cast<uint64_t>(type);
    return &message_tokens[(key * 0x9E3779B97F4A7C15ULL >> 52) % sizeof message_tokens];
}

void* RemovalToken(int queue_id) {
    return &removal_tokens[static_cast<uint32_t>(queue_id) % sizeof removal_tokens];
}

long TypeOf(const void* message) {
    long type = 0;
    __builtin_memcpy(&type, message, sizeof type);
    return type;
}

// A queue call that failed because the queue is gone comes after its removal.
void AfterFailure(int queue_id) {
    if (errno == EIDRM || errno == EINVAL) __tsan_acquire(RemovalToken(queue_id));
}

}  // namespace

extern "C" int msgsnd(int queue_id, const void* message, size_t size, int flags) {
    __tsan_release(MessageToken(queue_id, TypeOf(message)));
    const int result = next_send(queue_id, message, size, flags);
    if (result < 0) AfterFailure(queue_id);
    return result;
}

extern "C" ssize_t msgrcv(int queue_id, void* message, size_t size, long type, int flags) {
    const ssize_t received = next_receive(queue_id, message, size, type, flags);
    if (received >= 0) {
        __tsan_acquire(MessageToken(queue_id, TypeOf(message)));
    } else {
        AfterFailure(queue_id);
    }
    return received;
}

extern "C" int msgctl(int queue_id, int command, msqid_ds* status) {
    if (command == IPC_RMID) __tsan_release(RemovalToken(queue_id));
    return next_control(queue_id, command, status);
}
