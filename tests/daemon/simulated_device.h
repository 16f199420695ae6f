// A simulated camera for running the real ntpsyncd binary in tests.
//
// Each device has a scratch directory holding what device-sandbox mounts at
// /mnt/nand (the settings file) and /opt/zarvik (a fake NTP client), and a
// directory put first on the daemon's PATH with a fake `hwclock`. Both fakes
// write one line naming themselves and every argument in brackets, e.g.
// "ntpclient [-s] [-i] [10] [-h] [pool.ntp.org]", to their standard error,
// which is the daemon's: so the transcript file holds the daemon's lines and
// the commands it ran, in the order in which they happened.
//
// The daemon runs in the test process's IPC namespace, where the test runs
// the stand-in settings server.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace daemon_test {

inline constexpr std::chrono::seconds kGuardTimeout{30};

class SimulatedDevice {
  public:
    SimulatedDevice();
    ~SimulatedDevice();  // kills the daemon and removes the scratch directory
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    // The settings file /mnt/nand/onvif-ntp.conf as the daemon sees it.
    void WriteSettings(const std::string& content) const;
    void RemoveSettings() const;

    // A path inside the scratch directory (for canary files).
    std::string ScratchPath(const std::string& name) const;

    // Starts the daemon on the device (through the emulator when the build
    // has one). False when it could not be started.
    bool StartDaemon();
    pid_t daemon_pid() const { return pid_; }
    void Signal(int signal_number) const;

    // Everything the daemon and the fakes wrote so far.
    std::string Transcript() const;
    // Waits until the transcript equals `expected`, or has stopped being a
    // beginning of it, or the guard timeout passed; returns the transcript.
    std::string AwaitTranscript(const std::string& expected) const;

    // Waits until the daemon is blocked in a kernel function whose name
    // contains `function` (e.g. "msgrcv", "nanosleep").
    bool AwaitBlockedIn(const char* function) const;
    // Waits until the daemon is in its one-second sleep, then until it has
    // run one more whole pass and is asleep again. After this, anything the
    // previous sync or a signal before it would have caused has happened.
    bool AwaitIdlePass() const;

    // Waits for the daemon to end; its exit status, or -1 when it was killed
    // by a signal or did not end before the guard timeout.
    int AwaitExit();

  private:
    void WriteFake(const std::string& path, const std::string& name) const;

    std::string root_;
    pid_t pid_ = -1;
};

}  // namespace daemon_test
