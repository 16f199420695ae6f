// Soak of the real ntpsyncd on a simulated device (tests/daemon's
// SimulatedDevice): thousands of forced syncs in the long form, and between
// them the settings file rewritten, filled with garbage or removed, and the
// server's answer for the server name changed to valid names, hostile ones
// that try to run a command (a canary file), empty or over-long names,
// failures and malformed replies, and replies held back while another
// SIGUSR1 arrives. Each sync's exact transcript (the daemon's lines and the
// commands it ran) is predicted from the settings-file model and the name
// given, and compared.
//
// Throughout, the daemon must keep running, its open descriptors must stay
// the same and its resident memory must not grow (checked on native builds
// without sanitizers; reported everywhere), no refused name may reach a
// command, and the canary must never appear.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "campaign_size.h"
#include "daemon_under_test.h"
#include "settings_file_model.h"
#include "simulated_device.h"
#include "stand_in_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kServerNameCommand = 3;
constexpr auto kGuard = std::chrono::seconds(30);
const char kForced[] = "force sync signal\n";
const char kDisabled[] = "ntp sync is disabled\n";
const char kRefused[] = "[meridex] refused NTP server name\n";
const char kPool[] = "pool.ntp.org";

bool SanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

bool Emulated() { return kEmulator[0] != nullptr; }

std::string SyncTo(const std::string& name) {
    return "[meridex] sync to NTP " + name + "\nntpclient [-s] [-i] [10] [-h]" +
           (name.empty() ? "" : " [" + name + "]") + "\nhwclock [-uw]\n";
}

template <typename Condition>
bool Await(Condition condition) {
    const auto deadline = Clock::now() + kGuard;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// What the server answers for the server name in one sync.
struct NameAnswer {
    enum Kind { kName, kFailure, kMalformed } kind = kName;
    std::string bytes;     // kName: the bytes the server holds
    std::string expected;  // the transcript of the sync after the signal line
};

class DaemonSoak : public testing::Test {
  protected:
    void SetUp() override {
        rng_.seed(robustness::Seed());
        canary_ = device_.ScratchPath("canary");
        ASSERT_TRUE(server_.Start());
    }

    // The transcript written after the part already seen.
    std::string NewTranscript() const {
        std::ifstream file(device_.ScratchPath("transcript"), std::ios::binary);
        file.seekg(static_cast<std::streamoff>(seen_));
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // Waits until the transcript has grown by exactly `expected`.
    void AwaitLines(const std::string& expected) {
        std::string fresh;
        Await([&] {
            fresh = NewTranscript();
            return fresh.size() >= expected.size() || expected.compare(0, fresh.size(), fresh) != 0;
        });
        ASSERT_EQ(fresh.substr(0, expected.size()), expected);
        seen_ += expected.size();
    }

    std::string BlockedIn() const {
        return ReadText("/proc/" + std::to_string(device_.daemon_pid()) + "/wchan");
    }

    void AwaitBlockedIn(const char* function) const {
        ASSERT_TRUE(Await([&] { return BlockedIn().find(function) != std::string::npos; }))
            << "the daemon is not blocked in " << function << " but in " << BlockedIn();
    }

    bool Alive() const {
        int status = 0;
        return waitpid(device_.daemon_pid(), &status, WNOHANG) == 0;
    }

    size_t OpenDescriptors() const {
        size_t count = 0;
        DIR* dir = opendir(("/proc/" + std::to_string(device_.daemon_pid()) + "/fd").c_str());
        if (dir == nullptr) return 0;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(dir);
        return count;
    }

    long ResidentKib() const {
        std::ifstream status("/proc/" + std::to_string(device_.daemon_pid()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        }
        return -1;
    }

    // --- The settings file -------------------------------------------------

    std::string Value() {
        static const char* const kValues[] = {"1",  "0",  "2",           "-1", "yes",
                                              "00", "7x", "99999999999", "+0", "\v1"};
        return kValues[rng_() % std::size(kValues)];
    }

    std::string Key() {
        static const char* const kKeys[] = {"enable", "DHCP",   "daylight", "timezone", "ENABLE",
                                            "dhcp",   "Enable", "#enable",  "enabled"};
        return kKeys[rng_() % std::size(kKeys)];
    }

    // A file as the web page might write it: key lines in any order and
    // letter case, with comments, blank lines, CRLF, lone keys.
    std::string WellFormedFile() {
        std::string file;
        const int lines = 1 + static_cast<int>(rng_() % 6);
        for (int i = 0; i < lines; ++i) {
            switch (rng_() % 8) {
                case 0:
                    file += "# written by the web page\n";
                    break;
                case 1:
                    file += "\n";
                    break;
                case 2:
                    file += Key() + "\n";
                    break;
                case 3:
                    file += "timezone CET-1CEST,M3.5.0,M10.5.0/3\r\n";
                    break;
                default: {
                    // One draw per statement, so that a seed gives the same
                    // file on every platform.
                    const bool indent = rng_() % 2 == 0;
                    const std::string key = Key();
                    const bool tab = rng_() % 2 == 0;
                    const std::string value = Value();
                    const bool trailing = rng_() % 4 == 0;
                    file += std::string(indent ? " " : "") + key + (tab ? "\t" : " ") + value +
                            (trailing ? " trailing words" : "") + "\n";
                }
            }
        }
        return file;
    }

    // Random bytes (NULs, control and high bytes included), sometimes with
    // key lines spliced in, sometimes with lines longer than one chunk.
    std::string GarbageFile() {
        std::string file;
        const size_t length = rng_() % 700;
        while (file.size() < length) {
            switch (rng_() % 10) {
                case 0: {
                    const std::string key = Key();
                    file += "\n" + key + " " + Value() + "\n";
                    break;
                }
                case 1:
                    file += std::string(200 + rng_() % 200, 'x');
                    break;
                default:
                    file += static_cast<char>(rng_() % 256);
            }
        }
        return file;
    }

    // Rewrites, fills with garbage, removes or leaves the file; tracks what
    // the daemon will have read at its next sync.
    void ChangeSettingsFile() {
        switch (rng_() % 6) {
            case 0:
            case 1: {
                const std::string content = WellFormedFile();
                device_.WriteSettings(content);
                settings_ = settings_file_model::Read(content);
                break;
            }
            case 2: {
                const std::string content = GarbageFile();
                device_.WriteSettings(content);
                settings_ = settings_file_model::Read(content);
                break;
            }
            case 3:
                device_.RemoveSettings();  // the values read last stay
                break;
            case 4: {
                // The usual case: syncing with the stored name.
                const std::string content = "enable 1\nDHCP 0\n";
                device_.WriteSettings(content);
                settings_ = settings_file_model::Read(content);
                break;
            }
            default:
                break;  // unchanged
        }
    }

    // --- The server's answer for field 2 ----------------------------------

    NameAnswer AcceptedName() {
        static const char* const kNames[] = {
            "ntp.example.com", "time-a.example.org.", "192.0.2.17", "2001:db8::123", "ntp1",
        };
        std::string name = kNames[rng_() % std::size(kNames)];
        if (rng_() % 4 == 0) {
            name.clear();
            while (name.size() < 253) name += std::string(63, 'n') + ".";
            name.resize(253);
        }
        return {NameAnswer::kName, name, SyncTo(name)};
    }

    NameAnswer Answer() {
        const std::string canary = canary_;
        switch (rng_() % 12) {
            case 0:
            case 1:
            case 2:
                return AcceptedName();
            case 3: {
                static const char* const kHostile[] = {
                    "$(touch CANARY)", "`touch CANARY`",  "x;touch CANARY", "x&&touch CANARY",
                    "x|touch CANARY",  "x\ntouch CANARY", "x>CANARY",       "-d",
                    "-i 1 -h x",       "name with blank", "ntp_1.example",  "a..b",
                };
                std::string name = kHostile[rng_() % std::size(kHostile)];
                const size_t at = name.find("CANARY");
                if (at != std::string::npos) name.replace(at, 6, canary);
                return {NameAnswer::kName, name, kRefused};
            }
            case 4:
                // 300 name bytes: the daemon takes 256 of them, no NUL among
                // them, which is too long for any host name.
                return {NameAnswer::kName, std::string(300, 'n'), kRefused};
            case 5:
                return {NameAnswer::kName, std::string("ntp.example.net\0;touch ", 23) + canary,
                        SyncTo("ntp.example.net")};
            case 6:
                return {NameAnswer::kName, "", SyncTo("")};
            case 7:
            case 8:
                return {NameAnswer::kFailure, "", ""};
            default:
                return {NameAnswer::kMalformed, "", ""};
        }
    }

    // Sets the server up for the sync's one request; `hold` keeps the reply
    // back until the test releases it.
    void Serve(const NameAnswer& answer, bool hold) {
        stand_in::ReplyPlan plan;
        plan.hold = hold;
        switch (answer.kind) {
            case NameAnswer::kName:
                server_.SetReply(kServerNameCommand,
                                 std::vector<uint8_t>(answer.bytes.begin(), answer.bytes.end()));
                break;
            case NameAnswer::kFailure:
                plan.length = -1;
                break;
            case NameAnswer::kMalformed:
                plan.fault =
                    rng_() % 2 ? stand_in::Fault::kShortReply : stand_in::Fault::kOversizedReply;
                break;
        }
        server_.PushPlan(plan);
    }

    // --- One forced sync --------------------------------------------------

    void ForcedSync() {
        ChangeSettingsFile();
        const bool asks = settings_.enable != 0 && settings_.dhcp == 0;
        // Now and then a second SIGUSR1 comes while the daemon waits for the
        // name: its line is written and the sync absorbs it.
        const bool interrupt = asks && rng_() % 8 == 0;
        std::string expected;
        if (settings_.enable == 0) {
            expected = kDisabled;
        } else if (settings_.dhcp != 0) {
            expected = SyncTo(kPool);
        } else {
            const NameAnswer answer = Answer();
            Serve(answer, interrupt);
            expected = answer.expected;
        }

        AwaitBlockedIn("nanosleep");
        device_.Signal(SIGUSR1);
        if (interrupt) {
            ASSERT_TRUE(server_.WaitForRequests(requests_ + 1, kGuard));
            AwaitBlockedIn("msgrcv");
            device_.Signal(SIGUSR1);
            AwaitLines(std::string(kForced) + kForced);
            server_.Release();
        } else {
            AwaitLines(kForced);
        }
        AwaitLines(expected);
        if (asks) {
            ++requests_;
            ASSERT_TRUE(server_.WaitForHandled(requests_, kGuard));
        }
        // Asleep again: the sync is over, and it wrote nothing more.
        AwaitBlockedIn("nanosleep");
        ASSERT_EQ(NewTranscript(), "");
        if (interrupt) ++interrupted_;
        if (expected == kRefused) ++refused_;
    }

    daemon_test::SimulatedDevice device_;
    stand_in::StandInServer server_;
    std::mt19937_64 rng_;
    std::string canary_;
    settings_file_model::Settings settings_;
    size_t seen_ = 0;
    size_t requests_ = 0;
    uint64_t interrupted_ = 0;
    uint64_t refused_ = 0;
};

TEST_F(DaemonSoak, KeepsSyncingWithFlatResourcesAndNeverRunsARefusedName) {
    const uint32_t syncs = robustness::Scaled(300);
    const uint32_t warm_up = std::max<uint32_t>(10, syncs / 10);

    device_.WriteSettings("enable 1\nDHCP 0\n");
    settings_ = settings_file_model::Read("enable 1\nDHCP 0\n");
    server_.SetReply(kServerNameCommand, {'n', 't', 'p', '.', 'e', 'x'});
    ASSERT_TRUE(device_.StartDaemon());
    AwaitLines("queue id:" + std::to_string(server_.queue_id()) + "\n" + SyncTo("ntp.ex"));
    requests_ = 1;
    ASSERT_TRUE(server_.WaitForHandled(requests_, kGuard));

    size_t descriptors = 0;
    long resident = 0;
    for (uint32_t sync = 0; sync < syncs && !HasFailure(); ++sync) {
        SCOPED_TRACE(testing::Message()
                     << "seed " << robustness::Seed() << ", forced sync " << sync);
        if (sync == warm_up) {
            descriptors = OpenDescriptors();
            resident = ResidentKib();
        }
        ForcedSync();
        ASSERT_TRUE(Alive()) << "the daemon ended";
    }

    EXPECT_FALSE(access(canary_.c_str(), F_OK) == 0) << "a server name ran a command";
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(OpenDescriptors(), descriptors) << "descriptors leak";
    const long resident_after = ResidentKib();
    if (!SanitizedBuild() && !Emulated()) {
        EXPECT_LE(resident_after - resident, 256) << "resident memory grows";
    }
    for (const auto& request : server_.Requests()) {
        EXPECT_TRUE(request.command == kServerNameCommand && request.source == 7 &&
                    request.length == 0 && request.offset == 0);
    }
    EXPECT_EQ(server_.Requests().size(), requests_);

    robustness::Report("seed", robustness::Seed());
    robustness::Report("forced_syncs", syncs);
    robustness::Report("name_requests", requests_);
    robustness::Report("refused_names", refused_);
    robustness::Report("signals_during_request", interrupted_);
    robustness::Report("descriptors", descriptors);
    robustness::Report("resident_kib_after_warm_up", static_cast<uint64_t>(resident));
    robustness::Report("resident_kib_at_end", static_cast<uint64_t>(resident_after));
}

}  // namespace
