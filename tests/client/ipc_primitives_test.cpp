// The IPC primitives offered to users of the library: the client lock, the
// queue operations and the bounded segment copies.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client_test_helpers.h"
#include "stand_in_server.h"
#include "stderr_capture.h"

namespace {

using client_test::Pattern;
using client_test::State;
using test_support::StderrCapture;

constexpr int32_t kSegment = 110592;
// A record whose text is exactly the 20 bytes of a request on every platform.
constexpr int32_t kRequestRecordSize = static_cast<int32_t>(sizeof(long)) + 20;

TEST(ClientLock, OperationsWithoutHandleReportAndFail) {
    struct Case {
        int32_t (*operation)(pthread_mutex_t*);
        const char* line;
    };
    const Case cases[] = {
        {SemWait, "Error: SemWait: Invalid Semaphore handler\n"},
        {SemRelease, "Error: SemRelease: Invalid Semaphore handler\n"},
        {DestroySem, "Error: DestroySem: Invalid Semaphore handler\n"},
    };
    for (const Case& c : cases) {
        StderrCapture capture;
        EXPECT_EQ(c.operation(nullptr), -1) << c.line;
        EXPECT_EQ(capture.Take(), c.line);
    }
}

TEST(ClientLock, DestroySemWaitsForTheThreadHoldingTheLock) {
    StderrCapture capture;
    pthread_mutex_t* lock = CreateSem();
    ASSERT_NE(lock, nullptr);
    ASSERT_EQ(SemWait(lock), 0);  // held by this thread

    std::atomic<pid_t> destroyer_tid{0};
    std::atomic<bool> destroyed{false};
    int32_t result = -2;
    std::thread destroyer([&] {
        destroyer_tid = client_test::ThreadId();
        result = DestroySem(lock);
        destroyed = true;
    });
    bool released = false;
    client_test::JoinOnExit join(destroyer, [&] {
        if (!released) SemRelease(lock);
    });
    while (destroyer_tid.load() == 0) std::this_thread::yield();
    ASSERT_TRUE(client_test::WaitUntilBlocked(destroyer_tid.load()));
    EXPECT_FALSE(destroyed.load()) << "DestroySem did not wait for the holder";

    released = true;
    EXPECT_EQ(SemRelease(lock), 0);
    destroyer.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(capture.Take(), "");
}

TEST(MessageQueue, KillReportsTheIdAndSucceedsAlsoForAQueueThatIsGone) {
    const int queue_id = msgget(SETTINGS_KEY, IPC_CREAT | 0666);
    ASSERT_GE(queue_id, 0);
    const std::string line = "Kill queue id:" + std::to_string(queue_id) + "\n";
    StderrCapture capture;
    EXPECT_EQ(Msg_Kill(queue_id), 0);
    EXPECT_EQ(capture.Take(), line);
    msqid_ds status{};
    EXPECT_NE(msgctl(queue_id, IPC_STAT, &status), 0) << "the queue is still there";
    EXPECT_EQ(Msg_Kill(queue_id), 0);
    EXPECT_EQ(capture.Take(), line);
}

TEST(MessageQueue, SendRecvCarriesTheRecordSizeLessTheTypeWord) {
    stand_in::StandInServer server;
    ASSERT_TRUE(server.Start());
    stand_in::ReplyPlan plan;
    plan.length = 77;
    plan.offset = 4096;
    server.PushPlan(plan);

    SettingsRequest record{1, 5, 9, 0, 0, 0};
    EXPECT_EQ(Msg_SendRecv(server.queue_id(), 9, &record, kRequestRecordSize), 20);
    EXPECT_EQ(record.mtype, 9);
    EXPECT_EQ(record.length, 77);
    EXPECT_EQ(record.offset, 4096);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].text_size, 20);
    EXPECT_EQ(requests[0].command, 5);
    EXPECT_EQ(requests[0].source, 9);
}

TEST(MessageQueue, SendRecvWithAFailingSendReceivesNothing) {
    const int queue_id = msgget(SETTINGS_KEY, IPC_CREAT | 0666);
    ASSERT_GE(queue_id, 0);
    // Someone else's reply waits for type 9; a failed send must not take it.
    SettingsRequest waiting{9, 1, 2, 3, 4, 5};
    ASSERT_EQ(msgsnd(queue_id, &waiting, 20, 0), 0);

    // A record larger than the kernel takes in one message: the send fails.
    struct {
        long mtype;
        char text[16384];
    } record{1, {}};
    EXPECT_LT(Msg_SendRecv(queue_id, 9, &record, static_cast<int32_t>(sizeof record)), 0);
    EXPECT_EQ(record.mtype, 1);
    ASSERT_EQ(client_test::StatusOf(queue_id).messages, 1u) << "the failed send received";

    SettingsRequest reply{};
    EXPECT_EQ(Msg_Recv(queue_id, 9, &reply, kRequestRecordSize), 20);
    EXPECT_EQ(reply.offset, 5);
}

// The segment copies, against a 110,592-byte segment.
class SegmentCopies : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(ShareMemInit(SETTINGS_KEY), 0);
        base_ = static_cast<uint8_t*>(shmat(State().segment_id, nullptr, 0));
        ASSERT_NE(base_, reinterpret_cast<uint8_t*>(-1));
    }
    void TearDown() override { shmdt(base_); }

    // Nothing but zeros in the segment.
    bool SegmentClean() const {
        for (int32_t i = 0; i < kSegment; ++i) {
            if (base_[i] != 0) return false;
        }
        return true;
    }
    uint8_t* base_ = nullptr;
};

TEST_F(SegmentCopies, CopiesInsideTheSegmentAndRefusesAnyByteOutside) {
    struct Case {
        int32_t offset;
        int32_t length;
        bool inside;
    };
    const Case cases[] = {
        {0, 16, true},
        {kSegment - 16, 16, true},
        {kSegment, 0, true},
        {kSegment - 15, 16, false},
        {kSegment, 1, false},
        {-1, 4, false},
        {0, -1, false},
        {INT32_MAX, 2, false},
        {INT32_MIN, 16, false},
        {16, INT32_MAX, false},
        {kSegment - 64, 65, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
        if (c.inside) {
            const auto bytes = Pattern(static_cast<size_t>(c.length), 3);
            std::vector<uint8_t> back(bytes.size(), 0xEE);
            EXPECT_EQ(ShareMemWrite(c.offset, bytes.data(), c.length), 0);
            EXPECT_EQ(ShareMemRead(c.offset, back.data(), c.length), 0);
            EXPECT_EQ(back, bytes);
            std::memset(base_ + c.offset, 0, bytes.size());
        } else {
            // A wrong copy of the huge lengths would also run past this
            // buffer and crash the test.
            std::vector<uint8_t> buffer(64, 0x5A);
            EXPECT_EQ(ShareMemWrite(c.offset, buffer.data(), c.length), -1);
            EXPECT_EQ(ShareMemRead(c.offset, buffer.data(), c.length), -1);
            EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0x5A));
        }
        EXPECT_TRUE(SegmentClean());
    }
    shmid_ds status{};
    ASSERT_EQ(shmctl(State().segment_id, IPC_STAT, &status), 0);
    EXPECT_EQ(status.shm_nattch, 1u) << "a copy left the segment attached";
}

TEST(SegmentCopiesWithoutSegment, RefuseWhenNoSegmentIsKnownOrItIsGone) {
    uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ShareMemWrite(0, buffer, 8), -1);  // never initialised
    EXPECT_EQ(ShareMemRead(0, buffer, 8), -1);

    const int32_t segment_id = ShareMemInit(SETTINGS_KEY);
    ASSERT_GE(segment_id, 0);
    ASSERT_EQ(shmctl(segment_id, IPC_RMID, nullptr), 0);  // attach now fails
    EXPECT_EQ(ShareMemWrite(0, buffer, 8), -1);
    EXPECT_EQ(ShareMemRead(0, buffer, 8), -1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[7], 8);
}

TEST(SegmentGet, OpensOrCreatesWithoutStoringTheId) {
    const int32_t segment_id = ShareMemGet(SETTINGS_KEY);
    ASSERT_GE(segment_id, 0);
    EXPECT_EQ(segment_id, shmget(SETTINGS_KEY, 0, 0));
    EXPECT_EQ(State().segment_id, 0);
    EXPECT_EQ(ShareMemInit(SETTINGS_KEY), segment_id);
    EXPECT_EQ(State().segment_id, segment_id);
}

}  // namespace
