// The main loop's schedule: one pass a second, a sync when forced by SIGUSR1
// or when more than `sync_interval` seconds have passed on the wall clock
// since the reading taken before the last sync.
//
// The clock, the sync and the sleep are reached through hooks so that the
// schedule can be driven by a fake clock without real waiting.
#pragma once

#include <ctime>

namespace ntpsyncd {

inline constexpr time_t sync_interval = 3600;

struct SyncLoopHooks {
    time_t (*read_clock)(void* context);
    int (*run_sync)(void* context);  // result ignored: every sync counts
    void (*sleep_one_second)(void* context);
    void* context;
};

struct SyncLoop {
    SyncLoopHooks hooks;
    time_t last_sync;  // clock reading of the pass that ran the latest sync
};

// Reads the clock once and sets `last_sync` so that the first pass syncs.
void StartSyncLoop(SyncLoop* loop, const SyncLoopHooks& hooks);

// One pass: read the clock; if `force_sync` is set, or more than
// `sync_interval` seconds have passed since `last_sync`, run the sync, then
// record the reading taken before it as `last_sync` and clear `force_sync`;
// then sleep one second. A clock that reads earlier than `last_sync` (it was
// stepped back) restarts the interval from that reading, so a step back never
// delays the next sync by more than one pass.
void RunSyncPass(SyncLoop* loop);

}  // namespace ntpsyncd
