// SettingsNotify with no settings server running: the test itself plays the
// server's side of the queue and looks at exactly what was put on it.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/msg.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>
#include <vector>

#include "client/client_state.h"
#include "settings_client/settings_client.h"
#include "stderr_capture.h"

namespace aux_test {
namespace {

constexpr int32_t kClientSlot = 61440;

struct Message {
    long mtype;
    int32_t text[5];
    char spare[64];  // a longer message would show up as more text bytes
};

class NotificationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(SettingsClientInit(7), 0);
        queue_id_ = msgget(SETTINGS_KEY, 0);
        ASSERT_GE(queue_id_, 0);
        // A notification that waited for anything would hang with no server:
        // end such a test instead of letting it run into the test timeout.
        alarm(30);
    }
    void TearDown() override { alarm(0); }

    // Takes every message off the queue without waiting.
    std::vector<std::pair<ssize_t, Message>> Drain() const {
        std::vector<std::pair<ssize_t, Message>> messages;
        for (;;) {
            Message message{};
            const ssize_t size =
                msgrcv(queue_id_, &message, sizeof message - sizeof(long), 0, IPC_NOWAIT);
            if (size < 0) {
                EXPECT_EQ(errno, ENOMSG);
                return messages;
            }
            messages.emplace_back(size, message);
        }
    }

    int queue_id_ = -1;
};

TEST_F(NotificationTest, QueuesOneMessageWithoutLockSlotOrReply) {
    enum class When { kReady, kWhileTheLockIsHeld, kAfterExit };
    for (When when : {When::kReady, When::kWhileTheLockIsHeld, When::kAfterExit}) {
        SCOPED_TRACE(static_cast<int>(when));
        const std::vector<uint8_t> slot_bytes(64, 0xC3);
        ASSERT_EQ(ShareMemWrite(kClientSlot, slot_bytes.data(), 64), 0);

        pthread_mutex_t* const lock = settings_client::client_state.client_lock;
        if (when == When::kWhileTheLockIsHeld) pthread_mutex_lock(lock);
        if (when == When::kAfterExit) SettingsClientExit();
        EXPECT_EQ(SettingsNotify(), 0);
        if (when == When::kWhileTheLockIsHeld) pthread_mutex_unlock(lock);

        const auto messages = Drain();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].first, 20);
        const Message& message = messages[0].second;
        EXPECT_EQ(message.mtype, 1);
        EXPECT_EQ(message.text[0], 433);  // command
        EXPECT_EQ(message.text[1], 0);    // source: no client
        EXPECT_EQ(message.text[2], 0);
        EXPECT_EQ(message.text[3], 0);
        EXPECT_EQ(message.text[4], 0);

        if (when != When::kAfterExit) {
            std::vector<uint8_t> after(64);
            ASSERT_EQ(ShareMemRead(kClientSlot, after.data(), 64), 0);
            EXPECT_EQ(after, slot_bytes);
        }
    }
}

TEST_F(NotificationTest, FailedSendReturnsMinusOneSilently) {
    test_support::StderrCapture capture;
    SettingsSetQueueId(-1);
    EXPECT_EQ(SettingsNotify(), -1);
    SettingsSetQueueId(queue_id_);
    ASSERT_EQ(msgctl(queue_id_, IPC_RMID, nullptr), 0);
    EXPECT_EQ(SettingsNotify(), -1);
    EXPECT_EQ(capture.Take(), "");
}

void IgnoreSignal(int) {}

// A notification waits while the queue is full; a signal during that wait
// ends it with -1 (EINTR) rather than being retried, leaving the choice to
// the caller.
TEST_F(NotificationTest, SignalWhileTheQueueIsFullFailsTheSend) {
    msqid_ds info{};
    ASSERT_EQ(msgctl(queue_id_, IPC_STAT, &info), 0);
    info.msg_qbytes = 20;
    ASSERT_EQ(msgctl(queue_id_, IPC_SET, &info), 0);
    Message filler{};
    filler.mtype = 99;
    ASSERT_EQ(msgsnd(queue_id_, &filler, 20, IPC_NOWAIT), 0);

    struct sigaction action {};
    action.sa_handler = IgnoreSignal;  // no SA_RESTART
    ASSERT_EQ(sigaction(SIGUSR2, &action, nullptr), 0);

    std::atomic<bool> returned{false};
    const pthread_t notifier = pthread_self();
    std::thread interrupter([&] {
        while (!returned.load()) {
            pthread_kill(notifier, SIGUSR2);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const int32_t result = SettingsNotify();
    const int saved_errno = errno;
    returned = true;
    interrupter.join();

    EXPECT_EQ(result, -1);
    EXPECT_EQ(saved_errno, EINTR);  // it did wait: not refused for a full queue
    const auto messages = Drain();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].second.mtype, 99);
}

}  // namespace
}  // namespace aux_test
