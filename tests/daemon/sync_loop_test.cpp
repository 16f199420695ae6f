// The main loop's schedule, driven by a fake wall clock: every sleep moves
// the clock on by one second, and a test can step the clock or deliver
// SIGUSR1 (through the real handler) during a sync or during a sleep.
#include "sync_loop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <functional>
#include <vector>

#include "force_sync.h"
#include "stderr_capture.h"

namespace {

using ntpsyncd::sync_interval;

constexpr time_t kStart = 1'700'000'000;
constexpr time_t kTenYears = 10 * 365 * 24 * 3600;

struct FakeDevice {
    time_t clock = kStart;
    int pass = 0;                       // passes begun so far
    int sleeps = 0;                     // sleeps so far
    std::vector<int> sync_passes;       // pass number of every sync
    std::vector<time_t> sync_readings;  // clock when each sync started
    int sleeps_before_first_sync = -1;
    int sync_result = 0;
    std::function<void(FakeDevice&)> during_sync;
    std::function<void(FakeDevice&)> during_sleep;

    static time_t ReadClock(void* context) { return static_cast<FakeDevice*>(context)->clock; }
    static int Sync(void* context) {
        auto& device = *static_cast<FakeDevice*>(context);
        if (device.sync_passes.empty()) device.sleeps_before_first_sync = device.sleeps;
        device.sync_passes.push_back(device.pass);
        device.sync_readings.push_back(device.clock);
        if (device.during_sync) device.during_sync(device);
        return device.sync_result;
    }
    static void Sleep(void* context) {
        auto& device = *static_cast<FakeDevice*>(context);
        ++device.sleeps;
        if (device.during_sleep) device.during_sleep(device);
        device.clock += 1;
    }

    ntpsyncd::SyncLoop loop{};

    void Start() {
        ntpsyncd::force_sync = 0;
        ntpsyncd::StartSyncLoop(&loop, {ReadClock, Sync, Sleep, this});
    }
    void RunPasses(int count) {
        for (int i = 0; i < count; ++i) {
            ++pass;
            ntpsyncd::RunSyncPass(&loop);
        }
    }
};

void DeliverSignal(FakeDevice&) { ntpsyncd::ForceSyncHandler(SIGUSR1); }

TEST(SyncLoop, FirstPassSyncsAtOnceAndTheIntervalNeedsMoreThan3600Seconds) {
    FakeDevice device;
    device.Start();
    device.RunPasses(1);
    ASSERT_EQ(device.sync_passes, std::vector<int>{1});
    EXPECT_EQ(device.sleeps_before_first_sync, 0) << "the first sync must not wait for a sleep";

    // Pass n reads kStart + n - 1: pass 3601 reads +3600 (not enough), 3602
    // reads +3601.
    device.RunPasses(3600);
    EXPECT_EQ(device.sync_passes, std::vector<int>{1});
    device.RunPasses(1);
    EXPECT_EQ(device.sync_passes, (std::vector<int>{1, 3602}));
    EXPECT_EQ(device.sync_readings.back(), kStart + 3601);
    EXPECT_EQ(sync_interval, 3600);
}

TEST(SyncLoop, ForcedSyncRunsAtTheNextPassAndRestartsTheInterval) {
    FakeDevice device;
    device.during_sleep = [](FakeDevice& d) {
        if (d.sleeps == 100) DeliverSignal(d);
    };
    device.Start();
    test_support::StderrCapture capture;
    device.RunPasses(100 + 3602);
    EXPECT_EQ(capture.Take(), "force sync signal\n");
    // Signal in the 100th sleep: pass 101 syncs; the next unforced sync comes
    // 3601 seconds after pass 101's reading.
    EXPECT_EQ(device.sync_passes, (std::vector<int>{1, 101, 101 + 3601}));
    EXPECT_EQ(ntpsyncd::force_sync, 0);
}

TEST(SyncLoop, SeveralSignalsBetweenTwoPassesGiveOneSync) {
    FakeDevice device;
    device.during_sleep = [](FakeDevice& d) {
        if (d.sleeps == 5) {
            DeliverSignal(d);
            DeliverSignal(d);
            DeliverSignal(d);
        }
    };
    device.Start();
    test_support::StderrCapture capture;
    device.RunPasses(20);
    EXPECT_EQ(capture.Take(), "force sync signal\nforce sync signal\nforce sync signal\n");
    EXPECT_EQ(device.sync_passes, (std::vector<int>{1, 6}));
}

TEST(SyncLoop, SignalDuringASyncIsAbsorbedByIt) {
    FakeDevice device;
    device.during_sync = DeliverSignal;
    device.Start();
    test_support::StderrCapture capture;
    device.RunPasses(3601);
    EXPECT_EQ(capture.Take(), "force sync signal\n");
    EXPECT_EQ(device.sync_passes, std::vector<int>{1});
}

TEST(SyncLoop, FailedSyncIsNotRetriedBeforeTheInterval) {
    FakeDevice device;
    device.sync_result = -1;
    device.Start();
    device.RunPasses(3602);
    EXPECT_EQ(device.sync_passes, (std::vector<int>{1, 3602}));
}

TEST(SyncLoop, ForwardStepOfYearsSyncsAgainAtOnceThenKeepsTheInterval) {
    FakeDevice device;
    device.during_sync = [](FakeDevice& d) {
        if (d.sync_passes.size() == 1) d.clock += kTenYears;
    };
    device.Start();
    device.RunPasses(2 + 3601);
    EXPECT_EQ(device.sync_passes, (std::vector<int>{1, 2, 2 + 3601}));
}

TEST(SyncLoop, BackwardStepNeverDelaysTheNextSyncByMoreThanAnIntervalAndAPass) {
    for (const time_t step : {time_t{1}, time_t{5}, time_t{3600}, kTenYears}) {
        SCOPED_TRACE(step);
        FakeDevice device;
        device.during_sync = [step](FakeDevice& d) {
            if (d.sync_passes.size() == 1) d.clock -= step;
        };
        device.Start();
        device.RunPasses(1 + sync_interval + 2);
        ASSERT_EQ(device.sync_passes.size(), 2u);
        EXPECT_LE(device.sync_passes[1] - device.sync_passes[0], sync_interval + 2);
        EXPECT_GT(device.sync_passes[1] - device.sync_passes[0], sync_interval);
    }
}

}  // namespace
