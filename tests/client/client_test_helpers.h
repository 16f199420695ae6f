// Helpers shared by the settings client's core tests: kernel limits of the
// private IPC namespace that make queue or segment creation fail, a look at
// what lies in the queue, and byte patterns that show where a copy went.
#pragma once

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/client_state.h"
#include "settings_client/settings_client.h"

namespace client_test {

inline constexpr auto kWait = std::chrono::seconds(10);

// Sets a System V limit of this process's (private) IPC namespace, e.g.
// "msgmni" or "shmmni", and puts the old value back when it goes.
class KernelLimit {
  public:
    KernelLimit(const std::string& name, const std::string& value)
        : path_("/proc/sys/kernel/" + name) {
        std::ifstream in(path_);
        std::getline(in, old_value_);
        Write(value);
    }
    ~KernelLimit() { Write(old_value_); }
    KernelLimit(const KernelLimit&) = delete;
    KernelLimit& operator=(const KernelLimit&) = delete;

  private:
    void Write(const std::string& value) {
        std::ofstream out(path_);
        out << value << "\n";
        out.close();
        ASSERT_TRUE(out) << "cannot write " << path_;
    }
    std::string path_;
    std::string old_value_;
};

// Messages waiting in a queue, and the pid of its last sender (0: none yet).
struct QueueStatus {
    uint64_t messages = 0;
    pid_t last_sender = 0;
};

inline QueueStatus StatusOf(int queue_id) {
    msqid_ds status{};
    EXPECT_EQ(msgctl(queue_id, IPC_STAT, &status), 0) << "queue " << queue_id;
    return {static_cast<uint64_t>(status.msg_qnum), status.msg_lspid};
}

inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

inline pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Waits until thread `tid` of this process sleeps in the kernel (blocked in
// a receive or on a lock). False when it did not within kWait.
inline bool WaitUntilBlocked(pid_t tid) {
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        // "tid (name) S ...": the state follows the last ')'.
        const auto name_end = line.rfind(')');
        if (name_end != std::string::npos && line.size() > name_end + 2 &&
            line[name_end + 2] == 'S') {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Joins a thread when the test leaves, also through a failed assertion,
// after running `unblock` (e.g. releasing a held reply).
class JoinOnExit {
  public:
    template <typename Unblock>
    JoinOnExit(std::thread& thread, Unblock unblock) : thread_(thread), unblock_(unblock) {}
    ~JoinOnExit() {
        if (!thread_.joinable()) return;
        unblock_();
        thread_.join();
    }
    JoinOnExit(const JoinOnExit&) = delete;
    JoinOnExit& operator=(const JoinOnExit&) = delete;

  private:
    std::thread& thread_;
    std::function<void()> unblock_;
};

inline const settings_client::ClientState& State() { return settings_client::client_state; }

}  // namespace client_test
