// Client initialisation when the client lock cannot be created. This binary
// is linked with the heap allocation of the library wrapped
// (-Wl,--wrap=malloc), so a test can make the lock's allocation fail.
#include <gtest/gtest.h>
#include <sys/shm.h>

#include <atomic>
#include <cstddef>
#include <string>

#include "client_test_helpers.h"
#include "stderr_capture.h"

namespace {
std::atomic<bool> fail_allocations{false};
}  // namespace

extern "C" {
void* __real_malloc(size_t size);
void* __wrap_malloc(size_t size) { return fail_allocations.load() ? nullptr : __real_malloc(size); }
}

namespace {

using client_test::State;
using test_support::StderrCapture;

// Initialisation with a failing allocation: "Error: Not enough memory!!"
// then the init's own line; the new segment id is kept, the queue untouched.
TEST(ClientInitLock, AllocationFailureLeavesNoLockAndTheQueueAlone) {
    ASSERT_EQ(SettingsClientInit(7), 0);
    const int queue_id = State().queue_id;
    ASSERT_EQ(SettingsClientExit(), 0);

    StderrCapture capture;
    fail_allocations = true;
    const int32_t result = SettingsClientInit(8);
    fail_allocations = false;
    EXPECT_EQ(result, -1);
    EXPECT_EQ(capture.Take(),
              "Error: Not enough memory!!\n"
              "Error:No more memory to create semaphore\n");
    EXPECT_EQ(State().client_id, 1u);
    EXPECT_EQ(State().segment_id, shmget(SETTINGS_KEY, 0, 0));
    EXPECT_EQ(State().client_lock, nullptr);
    EXPECT_EQ(State().queue_id, queue_id);

    ASSERT_EQ(SettingsClientInit(8), 0);
    EXPECT_NE(State().client_lock, nullptr);
    EXPECT_EQ(capture.Take(), "queue id:" + std::to_string(queue_id) + "\n");
}

}  // namespace
