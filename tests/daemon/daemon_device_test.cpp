// The real ntpsyncd binary on a simulated device (see simulated_device.h),
// with the stand-in settings server answering field 2 (command 3) in the
// test's private IPC namespace. Every test compares the whole transcript:
// the daemon's exact lines and the exact commands, in order.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "simulated_device.h"
#include "stand_in_server.h"

namespace {

using daemon_test::SimulatedDevice;

constexpr int32_t kServerNameCommand = 3;
constexpr int32_t kDaemonClientId = 7;
constexpr int64_t kDaemonSlot = (kDaemonClientId - 2) * 12288;
const char kForced[] = "force sync signal\n";
const char kDisabled[] = "ntp sync is disabled\n";
const char kRefused[] = "[meridex] refused NTP server name\n";

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The lines of one sync that got `name`: its line, the NTP client (with no
// argument after "-h" for an empty name), the hardware clock.
std::string SyncTo(const std::string& name) {
    return "[meridex] sync to NTP " + name + "\n" + "ntpclient [-s] [-i] [10] [-h]" +
           (name.empty() ? "" : " [" + name + "]") + "\nhwclock [-uw]\n";
}

// Dot-separated labels of 63 letters, cut to `length` characters.
std::string LongName(size_t length) {
    std::string name;
    while (name.size() < length) name += std::string(63, 'n') + ".";
    name.resize(length);
    if (name.back() == '.') name.back() = 'm';
    return name;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class DaemonOnDevice : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.Start()); }

    std::string QueueLine() const {
        return "queue id:" + std::to_string(server_.queue_id()) + "\n";
    }

    void StartDaemon() { ASSERT_TRUE(device_.StartDaemon()); }

    // Every request the daemon made must be the field-2 read of client 7.
    void ExpectServerNameRequests(size_t count) const {
        const auto requests = server_.Requests();
        ASSERT_EQ(requests.size(), count);
        for (const auto& request : requests) {
            EXPECT_EQ(request.mtype, 1);
            EXPECT_EQ(request.command, kServerNameCommand);
            EXPECT_EQ(request.source, kDaemonClientId);
            EXPECT_EQ(request.reserved, 0);
            EXPECT_EQ(request.length, 0);
            EXPECT_EQ(request.offset, 0);
            EXPECT_EQ(request.text_size, 20);
        }
    }

    stand_in::StandInServer server_;
    SimulatedDevice device_;
};

TEST_F(DaemonOnDevice, SyncsAtStartUpAndAgainOnSigusr1) {
    device_.WriteSettings("enable 1\nDHCP 0\ntimezone CET-1CEST\n");
    server_.SetReply(kServerNameCommand, Bytes("time.example.com"));
    StartDaemon();

    const std::string start_up = QueueLine() + SyncTo("time.example.com");
    ASSERT_EQ(device_.AwaitTranscript(start_up), start_up);
    ASSERT_TRUE(device_.AwaitIdlePass());
    EXPECT_EQ(device_.Transcript(), start_up) << "no second sync without a signal";

    device_.Signal(SIGUSR1);
    const std::string forced = start_up + kForced + SyncTo("time.example.com");
    EXPECT_EQ(device_.AwaitTranscript(forced), forced);
    ASSERT_TRUE(device_.AwaitIdlePass());
    EXPECT_EQ(device_.Transcript(), forced);
    ExpectServerNameRequests(2);
}

TEST_F(DaemonOnDevice, ReadsTheSettingsFileAfreshAtEverySync) {
    device_.WriteSettings("DHCP 1\nenable 1\n");
    server_.SetReply(kServerNameCommand, Bytes("ntp.example.net"));
    StartDaemon();
    std::string expected = QueueLine() + SyncTo("pool.ntp.org");
    ASSERT_EQ(device_.AwaitTranscript(expected), expected);

    // A file that has gone keeps the values read last.
    device_.RemoveSettings();
    ASSERT_TRUE(device_.AwaitIdlePass());
    device_.Signal(SIGUSR1);
    expected += kForced + SyncTo("pool.ntp.org");
    ASSERT_EQ(device_.AwaitTranscript(expected), expected);

    device_.WriteSettings("enable 0\n");
    ASSERT_TRUE(device_.AwaitIdlePass());
    device_.Signal(SIGUSR1);
    expected += std::string(kForced) + kDisabled;
    ASSERT_EQ(device_.AwaitTranscript(expected), expected);

    device_.WriteSettings("ENABLE 1\ndhcp 0\n");
    ASSERT_TRUE(device_.AwaitIdlePass());
    device_.Signal(SIGUSR1);
    expected += kForced + SyncTo("ntp.example.net");
    ASSERT_EQ(device_.AwaitTranscript(expected), expected);
    ASSERT_TRUE(device_.AwaitIdlePass());
    EXPECT_EQ(device_.Transcript(), expected);
    ExpectServerNameRequests(1);  // DHCP and disabled syncs never ask
}

TEST_F(DaemonOnDevice, Sigusr1WhileTheServerNameRequestWaitsIsAbsorbedByThatSync) {
    device_.WriteSettings("enable 1\n");
    stand_in::ReplyPlan held;
    held.hold = true;
    server_.PushPlan(held);
    server_.SetReply(kServerNameCommand, Bytes("time.example.com"));
    StartDaemon();

    ASSERT_TRUE(server_.WaitForRequests(1, daemon_test::kGuardTimeout));
    ASSERT_TRUE(device_.AwaitBlockedIn("msgrcv"));
    device_.Signal(SIGUSR1);
    const std::string interrupted = QueueLine() + kForced;
    ASSERT_EQ(device_.AwaitTranscript(interrupted), interrupted);

    server_.Release();
    const std::string expected = interrupted + SyncTo("time.example.com");
    ASSERT_EQ(device_.AwaitTranscript(expected), expected);
    ASSERT_TRUE(device_.AwaitIdlePass());
    EXPECT_EQ(device_.Transcript(), expected) << "the signal must not cause a second sync";
    ExpectServerNameRequests(1);
}

// One start-up sync per case: settings file, the server's answer to field 2,
// and what the transcript must show after the queue line.
struct SyncCase {
    const char* name;
    const char* settings;  // nullptr: no settings file
    std::string reply;     // bytes the server holds for field 2
    int32_t reply_length;  // the reply's length; >= 0 means "as many as the bytes"
    std::string expected;  // with CANARY standing for the canary file's path
    size_t requests;
};

std::vector<SyncCase> SyncCases() {
    const char* stored = "enable 1\nDHCP 0\n";
    return {
        {"NoSettingsFile", nullptr, "ntp.example.net", 0, kDisabled, 0},
        {"Disabled", "enable 0\nDHCP 0\n", "ntp.example.net", 0, kDisabled, 0},
        {"DisabledByAWord", "enable on\n", "ntp.example.net", 0, kDisabled, 0},
        {"Dhcp", "enable 1\nDHCP 1\n", "ntp.example.net", 0, SyncTo("pool.ntp.org"), 0},
        {"StoredName", stored, "ntp.example.net", 0, SyncTo("ntp.example.net"), 1},
        {"StoredAddress", stored, "2001:db8::123", 0, SyncTo("2001:db8::123"), 1},
        {"LongestHostName", stored, LongName(253), 0, SyncTo(LongName(253)), 1},
        // The server holds more than 256 bytes: the daemon gets 256 without
        // a NUL and takes all of them, which is too long for a host name.
        {"FullBufferWithoutNul", stored, LongName(300), 0, kRefused, 1},
        {"NulInside", stored, std::string("ntp.example.net\0;touch CANARY", 29), 0,
         SyncTo("ntp.example.net"), 1},
        {"EmptyName", stored, "", 0, SyncTo(""), 1},
        {"NoNameFromTheServer", stored, "ntp.example.net", -1, "", 1},
        {"CommandSubstitution", stored, "$(touch CANARY)", 0, kRefused, 1},
        {"Backquotes", stored, "`touch CANARY`", 0, kRefused, 1},
        {"Semicolon", stored, "ntp.example.net;touch CANARY", 0, kRefused, 1},
        {"AndList", stored, "ntp.example.net&&touch CANARY", 0, kRefused, 1},
        {"Pipe", stored, "x|touch CANARY", 0, kRefused, 1},
        {"NewLine", stored, "ntp.example.net\ntouch CANARY", 0, kRefused, 1},
        {"Redirection", stored, "x>CANARY", 0, kRefused, 1},
        {"ExtraArguments", stored, "-i 1 -h x", 0, kRefused, 1},
        {"OptionAsName", stored, "-d", 0, kRefused, 1},
    };
}

void PrintTo(const SyncCase& c, std::ostream* out) { *out << c.name; }

class StartUpSync : public DaemonOnDevice, public testing::WithParamInterface<SyncCase> {};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST_P(StartUpSync, ShowsExactlyTheExpectedLinesAndCommands) {
    const SyncCase& c = GetParam();
    const std::string canary = device_.ScratchPath("canary");
    if (c.settings != nullptr) device_.WriteSettings(c.settings);
    server_.SetReply(kServerNameCommand, Bytes(Replace(c.reply, "CANARY", canary)));
    if (c.reply_length < 0) {
        stand_in::ReplyPlan failed;
        failed.length = c.reply_length;
        server_.PushPlan(failed);
    }
    StartDaemon();

    const std::string expected = QueueLine() + c.expected;
    ASSERT_EQ(device_.AwaitTranscript(expected), expected);
    ASSERT_TRUE(server_.WaitForHandled(c.requests, daemon_test::kGuardTimeout));
    // One more pass: whatever the sync could still have run has run now.
    ASSERT_TRUE(device_.AwaitIdlePass());
    EXPECT_EQ(device_.Transcript(), expected);
    EXPECT_FALSE(Exists(canary)) << "a shell ran the server name";
    ExpectServerNameRequests(c.requests);
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUpSync, testing::ValuesIn(SyncCases()),
                         [](const testing::TestParamInfo<SyncCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

// SettingsClientInit failures, caused by limits of the private IPC namespace:
// the daemon ends with status 255 after the settings client's lines, and
// nothing else happens.
struct InitFailure {
    const char* limit;  // in /proc/sys/kernel
    const char* lines;
};

void PrintTo(const InitFailure& failure, std::ostream* out) { *out << failure.limit; }

class InitFailureOnDevice : public testing::TestWithParam<InitFailure> {};

// True when this process's IPC namespace is not the one of the process that
// started it (the test main leaves the runner's namespace at start-up).
bool InPrivateIpcNamespace() {
    struct stat own;
    struct stat parent;
    const std::string parent_ns = "/proc/" + std::to_string(getppid()) + "/ns/ipc";
    return stat("/proc/self/ns/ipc", &own) == 0 && stat(parent_ns.c_str(), &parent) == 0 &&
           own.st_ino != parent.st_ino;
}

TEST_P(InitFailureOnDevice, EndsWithStatus255) {
    // The limit below is changed for this namespace only; never for the
    // machine's own.
    ASSERT_TRUE(InPrivateIpcNamespace());
    {
        std::ofstream limit(std::string("/proc/sys/kernel/") + GetParam().limit);
        limit << "0\n";
        limit.close();
        ASSERT_TRUE(limit) << "cannot set " << GetParam().limit;
    }
    SimulatedDevice device;
    device.WriteSettings("enable 1\nDHCP 1\n");
    ASSERT_TRUE(device.StartDaemon());
    EXPECT_EQ(device.AwaitExit(), 255);
    EXPECT_EQ(device.Transcript(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, InitFailureOnDevice,
    testing::Values(InitFailure{"shmmni", "Error:Share Memory init fail\n"},
                    InitFailure{"msgmni", "Creat queue id:-1\nqueue id:-1\nError:Msg_Init fail\n"}),
    [](const testing::TestParamInfo<InitFailure>& param_info) {
        return std::string(param_info.param.limit);
    });

}  // namespace
