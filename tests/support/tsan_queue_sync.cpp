// ThreadSanitizer does not know that a System V message orders memory: what
// a sender wrote to the shared segment before msgsnd is visible to whoever
// takes that message off the queue with msgrcv. Tests that run the stand-in
// settings server as a thread of the test process rely on exactly that, so
// in ThreadSanitizer builds every test binary links these two wrappers. They
// replace msgsnd and msgrcv for the whole program (the library's calls
// included), call the next definition (the sanitizer's own, which also lets
// signals reach a receiver blocked in the kernel), and tell the sanitizer
// "release" on sending and "acquire" on receiving, on a token per (queue,
// message type). Only the receiver of a message is ordered after its
// sender, so races between other threads are still reported.
#include <dlfcn.h>
#include <sys/msg.h>

#include <cstddef>
#include <cstdint>

extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

namespace {

// One byte per token; a rare collision only orders a little more than needed.
char tokens[4096];

void* Token(int queue_id, long type) {
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(queue_id)) << 32) ^
                         static_cast<uint64_t>(type);
    return &tokens[(key * 0x9E3779B97F4A7C15ULL >> 52) % sizeof tokens];
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

long TypeOf(const void* message) {
    long type = 0;
    __builtin_memcpy(&type, message, sizeof type);
    return type;
}

}  // namespace

extern "C" int msgsnd(int queue_id, const void* message, size_t size, int flags) {
    __tsan_release(Token(queue_id, TypeOf(message)));
    static const auto next = Next<int (*)(int, const void*, size_t, int)>("msgsnd");
    return next(queue_id, message, size, flags);
}

extern "C" ssize_t msgrcv(int queue_id, void* message, size_t size, long type, int flags) {
    static const auto next = Next<ssize_t (*)(int, void*, size_t, long, int)>("msgrcv");
    const ssize_t received = next(queue_id, message, size, type, flags);
    if (received >= 0) __tsan_acquire(Token(queue_id, TypeOf(message)));
    return received;
}
