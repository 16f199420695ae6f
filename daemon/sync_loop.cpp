// The main loop's schedule.
#include "sync_loop.h"

#include <cstdint>

#include "force_sync.h"

namespace ntpsyncd {

void StartSyncLoop(SyncLoop* loop, const SyncLoopHooks& hooks) {
    loop->hooks = hooks;
    loop->last_sync = hooks.read_clock(hooks.context) - sync_interval - 1;
}

void RunSyncPass(SyncLoop* loop) {
    const SyncLoopHooks& hooks = loop->hooks;
    const time_t now = hooks.read_clock(hooks.context);
    if (now < loop->last_sync) loop->last_sync = now;

    // Elapsed time in 64 bits: no wrap-around, whatever the width of time_t.
    const int64_t elapsed = static_cast<int64_t>(now) - static_cast<int64_t>(loop->last_sync);
    if (force_sync != 0 || elapsed > static_cast<int64_t>(sync_interval)) {
        hooks.run_sync(hooks.context);
        loop->last_sync = now;
        force_sync = 0;
    }
    hooks.sleep_one_second(hooks.context);
}

}  // namespace ntpsyncd
