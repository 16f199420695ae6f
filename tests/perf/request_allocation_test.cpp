// The request path allocates nothing: thousands of requests of every kind
// the daemon and device programs make -- reads, 4 KiB writes and exchanges,
// record exchanges, the generic exchange and notifications -- make no heap
// call at all on the requesting thread, from the very first request on. The
// stand-in settings server runs on a thread of its own, which is not
// counted.
//
// Each request's result is checked as well (after counting stops), so a
// request that failed early, before the code that might allocate, cannot
// pass for one that allocated nothing.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "settings_client/settings_client.h"
#include "stand_in_server.h"

namespace {

constexpr uint32_t kClientId = 7;
constexpr int kRounds = 1000;

unsigned char name[256];
unsigned char payload[4096];
unsigned char record_data[128];

struct Request {
    const char* what;
    int32_t (*run)();
    int32_t expected;
};

const Request kRequests[] = {
    // Field 2 (ReadClamped, command 3): the stored 256-byte answer.
    {"read field 2", [] { return SettingsControl(2, name, sizeof name); }, 256},
    // Write and Exchange fields: the server echoes length and offset.
    {"write field 0x1000", [] { return SettingsControl(0x1000, payload, sizeof payload); }, 4096},
    {"exchange field 0x0028", [] { return SettingsControl(0x0028, payload, sizeof payload); },
     4096},
    {"shared read entry", [] { return SettingsControl(0x0038, name, 16); }, 16},
    {"record exchange", [] { return SettingsRecordExchange(501, 1, record_data, 128); }, 128},
    {"generic exchange", [] { return SettingsExchange(payload, 512, 600); }, 512},
    {"notification", [] { return SettingsNotify(); }, 0},
};
constexpr size_t kRequestCount = sizeof kRequests / sizeof kRequests[0];

TEST(RequestAllocation, ThousandsOfRequestsMakeNoHeapCall) {
    stand_in::StandInServer server;
    server.SetReply(3, std::vector<uint8_t>(256, 'n'));
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(SettingsClientInit(kClientId), 0);

    // Requests whose result differed from the expected one, per kind.
    std::array<int, kRequestCount> wrong{};
    perf_test::StartCountingHeapCalls();
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < kRequestCount; ++i) {
            if (kRequests[i].run() != kRequests[i].expected) ++wrong[i];
        }
    }
    const long heap_calls = perf_test::StopCountingHeapCalls();

    EXPECT_EQ(heap_calls, 0) << "over " << kRounds * kRequestCount << " requests";
    for (size_t i = 0; i < kRequestCount; ++i) {
        EXPECT_EQ(wrong[i], 0) << kRequests[i].what;
    }
    server.Stop();
}

// The counter sees the heap calls of the counting thread, and only those:
// without this, a counter that saw nothing would let the test above pass.
TEST(RequestAllocation, CounterSeesTheCountingThreadOnly) {
    std::atomic<bool> stop{false};
    std::atomic<int> allocated{0};
    std::thread other([&] {
        while (!stop.load()) {
            std::vector<int>(64).swap(*std::make_unique<std::vector<int>>());
            allocated.fetch_add(1);
        }
    });

    perf_test::StartCountingHeapCalls();
    const int seen_before = allocated.load();
    while (allocated.load() < seen_before + 100) std::this_thread::yield();
    const long while_other_allocated = perf_test::StopCountingHeapCalls();
    stop = true;
    other.join();
    EXPECT_EQ(while_other_allocated, 0);

    perf_test::StartCountingHeapCalls();
    auto own = std::make_unique<std::vector<int>>(64);
    own.reset();
    EXPECT_EQ(perf_test::StopCountingHeapCalls(), 4);  // two allocations, two releases
}

}  // namespace
