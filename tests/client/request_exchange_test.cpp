// The request exchange every request runs, against the stand-in settings
// server and the real queue and segment of a private IPC namespace: what
// travels, where payloads go, and how it stays safe when the server, the
// platform or the caller misbehave.
#include "client/request_exchange.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client_test_helpers.h"
#include "stand_in_server.h"
#include "stderr_capture.h"

namespace {

using client_test::kWait;
using client_test::Pattern;
using client_test::State;
using client_test::StatusOf;
using settings_client::ExchangeCall;
using settings_client::RunExchange;
using stand_in::Fault;
using stand_in::ReplyPlan;

constexpr int32_t kSegment = 110592;
constexpr int32_t kUntouched = 12345;  // reply length a refused exchange must leave alone

// Copies min(L, R) bytes when above 0, as the clamped reads do.
int32_t Clamped(int32_t caller_length, int32_t reply_length) {
    return std::min(caller_length, reply_length);
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

ExchangeCall Read(int32_t command, std::vector<uint8_t>* into) {
    return ExchangeCall{command,      false,  nullptr, static_cast<int32_t>(into->size()),
                        into->data(), Clamped};
}

ExchangeCall Write(int32_t command, const std::vector<uint8_t>& bytes, int32_t length) {
    return ExchangeCall{command, true, bytes.data(), length, nullptr, nullptr};
}

class Exchange : public ::testing::Test {
  protected:
    void StartAs(uint32_t client_id) {
        ASSERT_TRUE(server_.Start());
        ASSERT_EQ(SettingsClientInit(client_id), 0);
    }
    void TearDown() override { server_.Stop(); }

    stand_in::StandInServer server_;
};

TEST_F(Exchange, OutgoingPayloadLiesInTheClientsSlotWhenTheRequestIsSent) {
    StartAs(7);
    const auto payload = Pattern(40, 11);
    int32_t reply_length = kUntouched;
    ASSERT_TRUE(RunExchange(Write(321, payload, 40), &reply_length));
    EXPECT_EQ(reply_length, 40);  // the server acknowledges the bytes it took

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& sent = requests[0];
    EXPECT_EQ(sent.mtype, 1);
    EXPECT_EQ(sent.text_size, 20);
    EXPECT_EQ(sent.command, 321);
    EXPECT_EQ(sent.source, 7);
    EXPECT_EQ(sent.reserved, 0);
    EXPECT_EQ(sent.length, 40);
    EXPECT_EQ(sent.offset, 61440);
    EXPECT_EQ(sent.payload, payload) << "bytes at offset 61440 when the server read the request";

    shmid_ds segment{};
    ASSERT_EQ(shmctl(State().segment_id, IPC_STAT, &segment), 0);
    EXPECT_EQ(segment.shm_nattch, 0u) << "the exchange left the segment attached";
    EXPECT_EQ(StatusOf(State().queue_id).messages, 0u);
}

TEST_F(Exchange, ReadSendsNoPayloadAndCopiesFromWhereTheReplySays) {
    StartAs(7);
    const auto slot_before = Pattern(64, 99);
    ASSERT_TRUE(server_.WriteSegment(61440, slot_before.data(), slot_before.size()));
    ReplyPlan plan;
    plan.payload = Bytes("pool.example.org");
    plan.payload_at = kSegment - 16;  // the last bytes of the segment, not the slot
    server_.PushPlan(plan);

    std::vector<uint8_t> buffer(64, '#');
    int32_t reply_length = kUntouched;
    ASSERT_TRUE(RunExchange(Read(3, &buffer), &reply_length));
    EXPECT_EQ(reply_length, 16);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 16), "pool.example.org");
    EXPECT_EQ(std::count(buffer.begin() + 16, buffer.end(), '#'), 48);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].command, 3);
    EXPECT_EQ(requests[0].length, 0);
    EXPECT_EQ(requests[0].offset, 0);
    std::vector<uint8_t> slot_after(64);
    ASSERT_TRUE(server_.ReadSegment(61440, slot_after.data(), slot_after.size()));
    EXPECT_EQ(slot_after, slot_before) << "a request without payload wrote into the slot";
}

std::atomic<int> signals_seen{0};
void CountSignal(int) { ++signals_seen; }

// A signal handler installed without SA_RESTART interrupts the wait for the
// reply; the request must wait on and take its own reply, and leave nothing
// behind for the next request.
TEST_F(Exchange, SignalsWhileWaitingNeitherFailTheRequestNorStrandItsReply) {
    StartAs(7);
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);

    ReplyPlan held;
    held.payload = Bytes("first");
    held.hold = true;
    server_.PushPlan(held);
    ReplyPlan next;
    next.payload = Bytes("second");
    server_.PushPlan(next);

    std::vector<uint8_t> first(16, 0);
    int32_t first_length = kUntouched;
    bool first_ok = false;
    std::atomic<pid_t> requester_tid{0};
    std::thread requester([&] {
        requester_tid = client_test::ThreadId();
        first_ok = RunExchange(Read(3, &first), &first_length);
    });
    client_test::JoinOnExit join(requester, [&] { server_.Release(); });
    ASSERT_TRUE(server_.WaitForRequests(1, kWait));
    ASSERT_TRUE(client_test::WaitUntilBlocked(requester_tid.load()));
    for (int sent = 1; sent <= 5; ++sent) {
        ASSERT_EQ(pthread_kill(requester.native_handle(), SIGUSR1), 0);
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (signals_seen.load() < sent && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        ASSERT_EQ(signals_seen.load(), sent);
        ASSERT_TRUE(client_test::WaitUntilBlocked(requester_tid.load()));
    }
    server_.Release();
    requester.join();

    EXPECT_TRUE(first_ok);
    EXPECT_EQ(first_length, 5);
    EXPECT_EQ(std::string(first.begin(), first.begin() + 5), "first");
    EXPECT_EQ(StatusOf(State().queue_id).messages, 0u);

    std::vector<uint8_t> second(16, 0);
    int32_t second_length = kUntouched;
    ASSERT_TRUE(RunExchange(Read(3, &second), &second_length));
    EXPECT_EQ(second_length, 6);
    EXPECT_EQ(std::string(second.begin(), second.begin() + 6), "second");
}

TEST_F(Exchange, QueueRemovedWhileWaitingFailsTheRequestAndTheNextOne) {
    StartAs(7);
    ReplyPlan held;
    held.payload = Bytes("never");
    held.hold = true;
    server_.PushPlan(held);

    std::vector<uint8_t> buffer(16, '#');
    int32_t reply_length = kUntouched;
    bool ok = true;
    std::atomic<pid_t> requester_tid{0};
    std::thread requester([&] {
        requester_tid = client_test::ThreadId();
        ok = RunExchange(Read(3, &buffer), &reply_length);
    });
    client_test::JoinOnExit join(requester, [&] { server_.Release(); });
    ASSERT_TRUE(server_.WaitForRequests(1, kWait));
    ASSERT_TRUE(client_test::WaitUntilBlocked(requester_tid.load()));
    ASSERT_EQ(msgctl(State().queue_id, IPC_RMID, nullptr), 0);
    requester.join();

    EXPECT_FALSE(ok);
    EXPECT_EQ(reply_length, kUntouched);
    EXPECT_EQ(buffer, std::vector<uint8_t>(16, '#'));
    // The send of the next request fails at once.
    EXPECT_FALSE(RunExchange(Read(3, &buffer), &reply_length));
    EXPECT_EQ(buffer, std::vector<uint8_t>(16, '#'));
}

// Replies of the wrong size are taken off the queue and fail only the
// request they answer.
TEST_F(Exchange, MalformedReplyFailsItsRequestAndTheNextGetsItsOwnReply) {
    StartAs(7);
    for (Fault fault : {Fault::kOversizedReply, Fault::kShortReply}) {
        SCOPED_TRACE(static_cast<int>(fault));
        ReplyPlan bad;
        bad.fault = fault;
        bad.payload = Bytes("bad reply");
        server_.PushPlan(bad);
        ReplyPlan good;
        good.payload = Bytes("good");
        server_.PushPlan(good);

        std::vector<uint8_t> buffer(16, '#');
        int32_t reply_length = kUntouched;
        EXPECT_FALSE(RunExchange(Read(3, &buffer), &reply_length));
        EXPECT_EQ(reply_length, kUntouched);
        EXPECT_EQ(buffer, std::vector<uint8_t>(16, '#'));
        EXPECT_EQ(StatusOf(State().queue_id).messages, 0u) << "the bad reply stayed in the queue";

        ASSERT_TRUE(RunExchange(Read(3, &buffer), &reply_length));
        EXPECT_EQ(reply_length, 4);
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 4), "good");
    }
}

TEST_F(Exchange, ReplyRegionMustLieInsideTheSegment) {
    StartAs(7);
    struct Case {
        int32_t length;
        int32_t offset;
        bool accepted;
        int32_t copied;
    };
    const Case cases[] = {
        {8, kSegment - 8, true, 8},
        {100, kSegment - 8, false, 0},  // the caller takes only 16, still past the end
        {8, kSegment - 4, false, 0},
        {8, -8, false, 0},
        {8, INT32_MAX, false, 0},
        {8, INT32_MIN, false, 0},
        {-5, -5, true, 0},  // a failure reported by the server: nothing to copy
        {0, INT32_MAX, true, 0},
    };
    const auto tail = Pattern(8, 42);
    ASSERT_TRUE(server_.WriteSegment(kSegment - 8, tail.data(), tail.size()));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "R " << c.length << " O " << c.offset);
        ReplyPlan plan;
        plan.length = c.length;
        plan.offset = c.offset;
        server_.PushPlan(plan);
        std::vector<uint8_t> buffer(16, '#');
        int32_t reply_length = kUntouched;
        EXPECT_EQ(RunExchange(Read(9, &buffer), &reply_length), c.accepted);
        EXPECT_EQ(reply_length, c.accepted ? c.length : kUntouched);
        auto expected = std::vector<uint8_t>(16, '#');
        std::copy(tail.begin(), tail.begin() + c.copied, expected.begin());
        EXPECT_EQ(buffer, expected);
    }
}

TEST_F(Exchange, OutgoingLengthIsBoundedByTheSlot) {
    struct Case {
        uint32_t client_id;
        int32_t length;
        bool sent;
    };
    const Case cases[] = {
        {7, 12288, true}, {10, 12288, true},     {7, 0, true},          {7, 12289, false},
        {7, -1, false},   {7, INT32_MIN, false}, {7, INT32_MAX, false}, {10, 12289, false},
    };
    ASSERT_TRUE(server_.Start());
    const auto bytes = Pattern(12289, 5);
    size_t expected_requests = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "client " << c.client_id << " length " << c.length);
        ASSERT_EQ(SettingsClientInit(c.client_id), 0);
        int32_t reply_length = kUntouched;
        EXPECT_EQ(RunExchange(Write(498, bytes, c.length), &reply_length), c.sent);
        if (!c.sent) {
            EXPECT_EQ(reply_length, kUntouched);
            continue;
        }
        ++expected_requests;
        ASSERT_TRUE(server_.WaitForRequests(expected_requests, kWait));
        const auto sent = server_.Requests().back();
        EXPECT_EQ(sent.length, c.length);
        EXPECT_EQ(sent.offset, static_cast<int32_t>((c.client_id - 2) * 12288));
        EXPECT_TRUE(std::equal(sent.payload.begin(), sent.payload.end(), bytes.begin()));
        EXPECT_EQ(sent.payload.size(), static_cast<size_t>(c.length));
    }
    // Refused requests never reached the queue.
    EXPECT_EQ(server_.Requests().size(), expected_requests);
}

// Client ids 11 to 13 have no slot in a 110,592-byte segment: a request with
// an outgoing payload is refused before anything is sent; one without a
// payload still works.
TEST(ExchangeSlot, ClientsBeyondTheLastSlotSendNoPayload) {
    for (uint32_t client_id : {11u, 12u, 13u}) {
        SCOPED_TRACE(client_id);
        ASSERT_EQ(SettingsClientInit(client_id), 0);
        const auto bytes = Pattern(1, 1);
        int32_t reply_length = kUntouched;
        EXPECT_FALSE(RunExchange(Write(498, bytes, 1), &reply_length));
        EXPECT_FALSE(RunExchange(Write(498, bytes, 0), &reply_length));
        EXPECT_EQ(reply_length, kUntouched);
        EXPECT_EQ(StatusOf(State().queue_id).last_sender, 0) << "a refused request was sent";
    }
    stand_in::StandInServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(SettingsClientInit(11), 0);
    std::vector<uint8_t> buffer(8);
    int32_t reply_length = kUntouched;
    EXPECT_TRUE(RunExchange(Read(3, &buffer), &reply_length));
    EXPECT_EQ(reply_length, 0);
}

// A segment smaller than the nine slots found under the key is used; the
// exchange keeps every copy inside it.
TEST(ExchangeSmallSegment, CopiesStayInsideTheSegmentFound) {
    ASSERT_GE(shmget(SETTINGS_KEY, 16384, IPC_CREAT | 0660), 0);
    stand_in::StandInServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(server.segment_size(), 16384);

    // Client 3's slot (12288..24575) runs past the end: only its first 4096
    // bytes are inside the segment.
    ASSERT_EQ(SettingsClientInit(3), 0);
    const auto bytes = Pattern(4097, 8);
    int32_t reply_length = kUntouched;
    EXPECT_FALSE(RunExchange(Write(498, bytes, 4097), &reply_length));
    EXPECT_TRUE(RunExchange(Write(498, bytes, 4096), &reply_length));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].payload, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    ASSERT_EQ(SettingsClientInit(4), 0);  // slot 24576: wholly outside
    EXPECT_FALSE(RunExchange(Write(498, bytes, 0), &reply_length));

    ReplyPlan beyond;
    beyond.length = 8;
    beyond.offset = 16380;
    server.PushPlan(beyond);
    std::vector<uint8_t> buffer(16, '#');
    reply_length = kUntouched;
    EXPECT_FALSE(RunExchange(Read(3, &buffer), &reply_length));
    EXPECT_EQ(buffer, std::vector<uint8_t>(16, '#'));
    server.Stop();
}

// Outside the Ready state (and for client id 1, whose replies would share
// the requests' message type) a request returns at once: nothing is locked,
// written, sent or received.
TEST(ExchangeOutsideReady, RefusesWithoutTouchingLockQueueOrSegment) {
    enum class Before { kNothing, kExit, kInvalidId, kClientOne };
    for (Before before :
         {Before::kNothing, Before::kExit, Before::kInvalidId, Before::kClientOne}) {
        SCOPED_TRACE(static_cast<int>(before));
        switch (before) {
            case Before::kNothing:
                break;
            case Before::kExit:
                ASSERT_EQ(SettingsClientInit(7), 0);
                SettingsClientExit();
                break;
            case Before::kInvalidId:
                ASSERT_EQ(SettingsClientInit(7), 0);
                ASSERT_EQ(SettingsClientInit(0), -1);
                break;
            case Before::kClientOne:
                ASSERT_EQ(SettingsClientInit(1), 0);
                break;
        }
        const int queue_id = msgget(SETTINGS_KEY, IPC_CREAT | 0666);
        ASSERT_GE(queue_id, 0);
        const int segment_id = shmget(SETTINGS_KEY, kSegment, IPC_CREAT | 0660);
        ASSERT_GE(segment_id, 0);

        test_support::StderrCapture capture;
        const auto bytes = Pattern(40, 1);
        std::vector<uint8_t> buffer(16, '#');
        int32_t reply_length = kUntouched;
        ExchangeCall call{3, true, bytes.data(), 40, buffer.data(), Clamped};
        EXPECT_FALSE(RunExchange(call, &reply_length));
        EXPECT_FALSE(RunExchange(Read(3, &buffer), &reply_length));
        EXPECT_EQ(capture.Take(), "") << "the lock was used";
        EXPECT_EQ(reply_length, kUntouched);
        EXPECT_EQ(buffer, std::vector<uint8_t>(16, '#'));
        EXPECT_EQ(StatusOf(queue_id).last_sender, 0) << "a request was sent";
        shmid_ds segment{};
        ASSERT_EQ(shmctl(segment_id, IPC_STAT, &segment), 0);
        EXPECT_EQ(segment.shm_lpid, 0) << "the segment was attached";
    }
}

// The settings server in a process of its own, as on the device: the
// settings-server program answers from its reply store, logs each request,
// and ends cleanly on SIGTERM.
TEST(ExchangeWithServerProcess, ReplyCrossesProcessesAndTheServerEndsCleanly) {
    char log_path[] = "/tmp/settings-server-log-XXXXXX";
    const int log_fd = mkstemp(log_path);
    ASSERT_GE(log_fd, 0);
    close(log_fd);
    stand_in::StandInProcess server;
    ASSERT_TRUE(server.Start({"--reply", "3=pool.example.org", "--log", log_path}));
    ASSERT_EQ(SettingsClientInit(7), 0);

    std::vector<uint8_t> name(256, 0);
    int32_t reply_length = kUntouched;
    ASSERT_TRUE(RunExchange(Read(3, &name), &reply_length));
    EXPECT_EQ(reply_length, 16);
    EXPECT_STREQ(reinterpret_cast<const char*>(name.data()), "pool.example.org");
    const auto payload = Bytes("abc");
    ASSERT_TRUE(RunExchange(Write(498, payload, 3), &reply_length));

    const int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    std::ifstream log(log_path);
    std::stringstream lines;
    lines << log.rdbuf();
    unlink(log_path);
    EXPECT_EQ(lines.str(),
              "command=3 source=7 reserved=0 length=0 offset=0 mtype=1 text=20 payload=\n"
              "command=498 source=7 reserved=0 length=3 offset=61440 mtype=1 text=20 "
              "payload=616263\n");
}

}  // namespace
