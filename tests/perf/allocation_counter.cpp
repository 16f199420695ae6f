// The counting behind allocation_counter.h.
//
// A plain build replaces the allocation functions of the C library for the
// whole test program: each one counts (on a thread that is counting) and
// hands the call on to the C library's own allocator, which every other
// library in the process then uses through these functions as well. A
// sanitizer build already has its own allocator in their place; there the
// sanitizer's allocation hooks do the counting instead.
#include "allocation_counter.h"

#include <cerrno>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define COUNT_THROUGH_SANITIZER_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define COUNT_THROUGH_SANITIZER_HOOKS 1
#endif
#endif

namespace {

// Plain thread-local integers: reading them allocates nothing.
thread_local bool counting = false;
thread_local long heap_calls = 0;

void Count() {
    if (counting) ++heap_calls;
}

}  // namespace

#ifdef COUNT_THROUGH_SANITIZER_HOOKS

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {

void CountAllocation(const volatile void* /*pointer*/, size_t /*size*/) { Count(); }
void CountRelease(const volatile void* /*pointer*/) { Count(); }

// Installed before main runs.
[[maybe_unused]] const int hooks_installed =
    __sanitizer_install_malloc_and_free_hooks(CountAllocation, CountRelease);

}  // namespace

#else

extern "C" {

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

void free(void* pointer) {
    if (pointer != nullptr) Count();
    __libc_free(pointer);
}

void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** pointer, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* memory = memalign(alignment, size);
    if (memory == nullptr) return ENOMEM;
    *pointer = memory;
    return 0;
}

}  // extern "C"

#endif

namespace perf_test {

void StartCountingHeapCalls() {
    heap_calls = 0;
    counting = true;
}

long StopCountingHeapCalls() {
    counting = false;
    return heap_calls;
}

}  // namespace perf_test
