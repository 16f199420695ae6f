// SIGUSR1 handling.
//
// The handler is installed with SA_RESTART, the semantics signal(2) has on
// this platform. The kernel never restarts sleeps or System V message
// receives, so a SIGUSR1 still ends the loop's one-second sleep at once (and
// the settings client repeats an interrupted receive itself), while reads of
// the settings file, writes of diagnostics and waits for children carry on
// where they were.
#include "force_sync.h"

#include <cerrno>

#include "standard_error.h"

namespace ntpsyncd {

volatile sig_atomic_t force_sync = 0;

void ForceSyncHandler(int /*signal_number*/) {
    const int saved_errno = errno;
    WriteStandardError(kForceSyncLine, sizeof kForceSyncLine - 1);
    force_sync = 1;
    errno = saved_errno;
}

void InstallForceSyncHandler() {
    struct sigaction action {};
    action.sa_handler = ForceSyncHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}

}  // namespace ntpsyncd
