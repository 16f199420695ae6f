// Client initialisation and teardown: the lines written, the state left
// behind after each success and each failure, and the reuse or creation of
// the client lock. Queue and segment creation are made to fail through the
// System V limits of the test's private IPC namespace.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <cstdint>
#include <string>

#include "client_test_helpers.h"
#include "stderr_capture.h"

namespace {

using client_test::KernelLimit;
using client_test::State;
using test_support::StderrCapture;

std::string QueueLine(int queue_id) { return "queue id:" + std::to_string(queue_id) + "\n"; }
std::string CreatedQueueLines(int queue_id) {
    return "Creat queue id:" + std::to_string(queue_id) + "\n" + QueueLine(queue_id);
}

TEST(ClientInit, FirstInitCreatesQueueAndSegmentLaterOnesReuseThemAndTheLock) {
    StderrCapture capture;
    ASSERT_EQ(SettingsClientInit(7), 0);
    const int queue_id = msgget(SETTINGS_KEY, 0);
    const int segment_id = shmget(SETTINGS_KEY, 0, 0);
    ASSERT_GE(queue_id, 0);
    ASSERT_GE(segment_id, 0);
    EXPECT_EQ(capture.Take(), CreatedQueueLines(queue_id));
    EXPECT_EQ(State().client_id, 7u);
    EXPECT_EQ(State().queue_id, queue_id);
    EXPECT_EQ(State().segment_id, segment_id);
    ASSERT_NE(State().client_lock, nullptr);

    msqid_ds queue{};
    shmid_ds segment{};
    ASSERT_EQ(msgctl(queue_id, IPC_STAT, &queue), 0);
    ASSERT_EQ(shmctl(segment_id, IPC_STAT, &segment), 0);
    EXPECT_EQ(queue.msg_perm.mode & 0777, 0666u);
    EXPECT_EQ(segment.shm_perm.mode & 0777, 0660u);
    EXPECT_EQ(segment.shm_segsz, 110592u);
    EXPECT_EQ(segment.shm_nattch, 0u) << "initialisation leaves the segment attached";

    // A second initialisation finds the queue, replaces the id, keeps the lock.
    pthread_mutex_t* const lock = State().client_lock;
    ASSERT_EQ(SettingsClientInit(8), 0);
    EXPECT_EQ(capture.Take(), QueueLine(queue_id));
    EXPECT_EQ(State().client_id, 8u);
    EXPECT_EQ(State().client_lock, lock);
    EXPECT_EQ(State().queue_id, queue_id);
}

TEST(ClientInit, AcceptsOnlyIdsOneToThirteen) {
    ASSERT_EQ(SettingsClientInit(1), 0);
    EXPECT_EQ(State().client_id, 1u);
    ASSERT_EQ(SettingsClientInit(13), 0);
    EXPECT_EQ(State().client_id, 13u);
    const auto ready = State();

    for (uint32_t id : {0u, 14u, 4294967295u}) {
        SCOPED_TRACE(id);
        StderrCapture capture;
        EXPECT_EQ(SettingsClientInit(id), -1);
        EXPECT_EQ(capture.Take(), "Error:Invalid Parameter\n");
        EXPECT_EQ(State().client_id, 1u);
        EXPECT_EQ(State().segment_id, ready.segment_id);
        EXPECT_EQ(State().client_lock, ready.client_lock);
        EXPECT_EQ(State().queue_id, ready.queue_id);
    }
}

TEST(ClientInit, InvalidIdBeforeAnythingElseTouchesNothing) {
    StderrCapture capture;
    EXPECT_EQ(SettingsClientInit(0), -1);
    EXPECT_EQ(capture.Take(), "Error:Invalid Parameter\n");
    EXPECT_EQ(State().client_id, 1u);
    EXPECT_EQ(State().segment_id, 0);
    EXPECT_EQ(State().client_lock, nullptr);
    EXPECT_EQ(State().queue_id, 0);
    EXPECT_LT(msgget(SETTINGS_KEY, 0), 0);
    EXPECT_LT(shmget(SETTINGS_KEY, 0, 0), 0);
}

TEST(ClientInit, UsesASmallerSegmentFoundUnderTheKey) {
    const int small = shmget(SETTINGS_KEY, 4096, IPC_CREAT | 0660);
    ASSERT_GE(small, 0);
    ASSERT_EQ(SettingsClientInit(7), 0);
    EXPECT_EQ(State().segment_id, small);
    EXPECT_EQ(State().segment_size, 4096);
}

TEST(ClientInit, SegmentFailureKeepsLockAndQueueOfTheEarlierInit) {
    ASSERT_EQ(SettingsClientInit(7), 0);
    const auto ready = State();
    ASSERT_EQ(shmctl(ready.segment_id, IPC_RMID, nullptr), 0);
    {
        KernelLimit no_segments("shmmni", "0");
        StderrCapture capture;
        EXPECT_EQ(SettingsClientInit(7), -1);
        EXPECT_EQ(capture.Take(), "Error:Share Memory init fail\n");
        EXPECT_EQ(State().client_id, 1u);
        EXPECT_EQ(State().segment_id, -1);
        EXPECT_EQ(State().client_lock, ready.client_lock);
        EXPECT_EQ(State().queue_id, ready.queue_id);
    }
    // With segments allowed again the lock of the first init is reused.
    ASSERT_EQ(SettingsClientInit(9), 0);
    EXPECT_EQ(State().client_lock, ready.client_lock);
    EXPECT_GE(State().segment_id, 0);
    EXPECT_NE(State().segment_id, ready.segment_id);
}

TEST(ClientInit, QueueFailureDestroysTheLockOfTheEarlierInit) {
    ASSERT_EQ(SettingsClientInit(7), 0);
    const int segment_id = State().segment_id;
    const int queue_id = State().queue_id;
    ASSERT_EQ(msgctl(queue_id, IPC_RMID, nullptr), 0);
    {
        KernelLimit no_queues("msgmni", "0");
        StderrCapture capture;
        EXPECT_EQ(SettingsClientInit(7), -1);
        EXPECT_EQ(capture.Take(), "Creat queue id:-1\nqueue id:-1\nError:Msg_Init fail\n");
        EXPECT_EQ(State().client_id, 1u);
        EXPECT_EQ(State().segment_id, segment_id);
        EXPECT_EQ(State().client_lock, nullptr);
        EXPECT_EQ(State().queue_id, -1);
    }
    // The next successful init creates a lock and the queue afresh.
    StderrCapture capture;
    ASSERT_EQ(SettingsClientInit(7), 0);
    EXPECT_NE(State().client_lock, nullptr);
    EXPECT_EQ(capture.Take(), CreatedQueueLines(State().queue_id));
    EXPECT_EQ(SemWait(State().client_lock), 0);
    EXPECT_EQ(SemRelease(State().client_lock), 0);
}

TEST(ClientExit, WithoutInitReportsTheMissingLockEveryTime) {
    StderrCapture capture;
    EXPECT_EQ(SettingsClientExit(), 0);
    EXPECT_EQ(State().client_id, 1u);
    EXPECT_EQ(SettingsClientExit(), 0);
    EXPECT_EQ(capture.Take(),
              "Error: DestroySem: Invalid Semaphore handler\n"
              "Error: DestroySem: Invalid Semaphore handler\n");
}

TEST(ClientExit, EndsTheClientButLeavesQueueAndSegmentThenInitStartsAgain) {
    ASSERT_EQ(SettingsClientInit(7), 0);
    const auto ready = State();
    {
        StderrCapture capture;
        EXPECT_EQ(SettingsClientExit(), 0);
        EXPECT_EQ(capture.Take(), "");
    }
    EXPECT_EQ(State().client_id, 1u);
    EXPECT_EQ(State().client_lock, nullptr);
    EXPECT_EQ(State().queue_id, ready.queue_id);
    EXPECT_EQ(State().segment_id, ready.segment_id);
    msqid_ds queue{};
    shmid_ds segment{};
    EXPECT_EQ(msgctl(ready.queue_id, IPC_STAT, &queue), 0) << "exit removed the queue";
    EXPECT_EQ(shmctl(ready.segment_id, IPC_STAT, &segment), 0) << "exit removed the segment";

    StderrCapture capture;
    ASSERT_EQ(SettingsClientInit(7), 0);
    EXPECT_EQ(capture.Take(), QueueLine(ready.queue_id));
    ASSERT_NE(State().client_lock, nullptr);
    EXPECT_EQ(SemWait(State().client_lock), 0);
    EXPECT_EQ(SemRelease(State().client_lock), 0);
}

}  // namespace
