// The SIGUSR1 handler that forces a sync at the next pass of the main loop.
#pragma once

#include <signal.h>

namespace ntpsyncd {

inline constexpr char kForceSyncLine[] = "force sync signal\n";

// Set to 1 by the handler only; cleared by the main loop after each sync.
extern volatile sig_atomic_t force_sync;

// Writes "force sync signal" to standard error and sets `force_sync`;
// nothing else (async-signal-safe; errno is preserved).
void ForceSyncHandler(int signal_number);

// Installs ForceSyncHandler for SIGUSR1 for the life of the process.
void InstallForceSyncHandler();

}  // namespace ntpsyncd
