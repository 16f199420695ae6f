// Scratch directories, fakes, the daemon process and the awaits of a
// simulated device.
#include "simulated_device.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "daemon_under_test.h"

extern char** environ;

namespace daemon_test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPollInterval{5};

// Polls `condition` until it holds or the guard timeout has passed.
template <typename Condition>
bool Await(Condition condition) {
    const auto deadline = Clock::now() + kGuardTimeout;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file) std::abort();
}

// Kernel function the process's main thread is blocked in ("0" when none).
std::string BlockedIn(pid_t pid) { return ReadFile("/proc/" + std::to_string(pid) + "/wchan"); }

// Count of times the process's main thread gave up the processor by
// blocking; it does not change while the thread stays blocked.
long VoluntarySwitches(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = "voluntary_ctxt_switches:";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
    }
    return -1;
}

// The switch count of the daemon at a moment when it was seen asleep in its
// one-second sleep, or -1 when it is not asleep there now.
long SleepingSwitchCount(pid_t pid) {
    const long before = VoluntarySwitches(pid);
    const bool sleeping = BlockedIn(pid).find("nanosleep") != std::string::npos;
    const long after = VoluntarySwitches(pid);
    return sleeping && before == after && before >= 0 ? before : -1;
}

}  // namespace

SimulatedDevice::SimulatedDevice() {
    std::filesystem::create_directories(kScratchRoot);
    std::string pattern = std::string(kScratchRoot) + "/device-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    for (const char* dir : {"/nand", "/zarvik", "/bin"}) {
        if (mkdir((root_ + dir).c_str(), 0755) != 0) std::abort();
    }
    WriteFake(root_ + "/zarvik/ntpclient", "ntpclient");
    WriteFake(root_ + "/bin/hwclock", "hwclock");
}

SimulatedDevice::~SimulatedDevice() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void SimulatedDevice::WriteFake(const std::string& path, const std::string& name) const {
    WriteFile(path,
              "#!/bin/sh\n"
              "line=" +
                  name +
                  "\n"
                  "for arg in \"$@\"; do line=\"$line [$arg]\"; done\n"
                  "printf '%s\\n' \"$line\" >&2\n");
    if (chmod(path.c_str(), 0755) != 0) std::abort();
}

void SimulatedDevice::WriteSettings(const std::string& content) const {
    WriteFile(root_ + "/nand/onvif-ntp.conf.new", content);
    // Replace in one step, as the device's own writer would.
    std::filesystem::rename(root_ + "/nand/onvif-ntp.conf.new", root_ + "/nand/onvif-ntp.conf");
}

void SimulatedDevice::RemoveSettings() const {
    std::filesystem::remove(root_ + "/nand/onvif-ntp.conf");
}

std::string SimulatedDevice::ScratchPath(const std::string& name) const {
    return root_ + "/" + name;
}

bool SimulatedDevice::StartDaemon() {
    std::vector<std::string> arguments;
    for (const char* const* part = kEmulator; *part != nullptr; ++part) arguments.push_back(*part);
    arguments.insert(arguments.end(), {kSandboxProgram, root_ + "/nand", root_ + "/zarvik"});
    for (const char* const* part = kEmulator; *part != nullptr; ++part) arguments.push_back(*part);
    arguments.push_back(kDaemonProgram);

    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "PATH=", 5) != 0) environment.push_back(*entry);
    }
    environment.push_back("PATH=" + root_ +
                          "/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");

    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const int transcript =
        open((root_ + "/transcript").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int null_input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (transcript < 0 || null_input < 0) return false;

    const pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls here: the test process has threads.
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
        dup2(null_input, 0);
        dup2(transcript, 1);
        dup2(transcript, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(transcript);
    close(null_input);
    if (child < 0) return false;
    pid_ = child;
    return true;
}

void SimulatedDevice::Signal(int signal_number) const {
    if (pid_ > 0) kill(pid_, signal_number);
}

std::string SimulatedDevice::Transcript() const { return ReadFile(root_ + "/transcript"); }

std::string SimulatedDevice::AwaitTranscript(const std::string& expected) const {
    std::string text;
    Await([&] {
        text = Transcript();
        return text.size() >= expected.size() || expected.compare(0, text.size(), text) != 0;
    });
    return text;
}

bool SimulatedDevice::AwaitBlockedIn(const char* function) const {
    return Await([&] { return BlockedIn(pid_).find(function) != std::string::npos; });
}

bool SimulatedDevice::AwaitIdlePass() const {
    long asleep_at = -1;
    if (!Await([&] { return (asleep_at = SleepingSwitchCount(pid_)) >= 0; })) return false;
    return Await([&] {
        const long now = SleepingSwitchCount(pid_);
        return now > asleep_at;
    });
}

int SimulatedDevice::AwaitExit() {
    int status = 0;
    const bool ended = Await([&] {
        const pid_t result = waitpid(pid_, &status, WNOHANG);
        return result == pid_ || result < 0;
    });
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace daemon_test
