// ntpsyncd: keeps the camera's clock in step with an NTP server.
//
// At start-up it registers with the settings server as client 7 (exit status
// 255 when that fails), installs its SIGUSR1 handler and then runs for ever:
// a sync at once, then whenever more than an hour has passed or SIGUSR1
// arrives. It takes no arguments, reads no environment variables of its own,
// stays in the foreground and writes its few fixed lines to standard error.
#include <unistd.h>

#include <cstdint>
#include <ctime>

#include "force_sync.h"
#include "settings_client/settings_client.h"
#include "sync_action.h"
#include "sync_loop.h"

namespace {

constexpr uint32_t kDaemonClientId = 7;

time_t ReadWallClock(void* /*context*/) { return std::time(nullptr); }

int Sync(void* /*context*/) { return ntpsyncd::RunNtpSync(); }

// A sleep cut short by SIGUSR1 is not made up: the forced sync starts at once.
void SleepOneSecond(void* /*context*/) {
    const unsigned int unslept = sleep(1);
    static_cast<void>(unslept);
}

}  // namespace

int main() {
    if (SettingsClientInit(kDaemonClientId) < 0) return -1;
    ntpsyncd::InstallForceSyncHandler();

    ntpsyncd::SyncLoop loop;
    ntpsyncd::StartSyncLoop(&loop, {ReadWallClock, Sync, SleepOneSecond, nullptr});
    for (;;) ntpsyncd::RunSyncPass(&loop);
}
