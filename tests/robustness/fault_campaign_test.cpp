// Randomised fault injection: a seeded sequence of good requests (traffic.h)
// and misbehaviours of the stand-in server or of the system around it, each
// followed by a check of its documented result:
//
// - a reply of 12 or of 24 text bytes: the request fails (-1), the caller's
//   bytes are untouched, and the reply does not stay in the queue;
// - a reply sent to another message type: never taken; the request waits
//   for its own reply and gets exactly that;
// - a reply whose offset and length name bytes outside the segment: the
//   requests that copy fail and copy nothing; a write returns the length;
// - a negative reply length (the server's failure): each kind returns what
//   its shape returns for it and copies nothing;
// - no reply and the queue removed mid-wait, or the server removing the
//   queue: the request fails, and so does the next one at once (its send
//   fails); once the server is back and the client has initialised again,
//   requests succeed;
// - the server absent at start-up (queue and segment gone) and arriving
//   while a request waits: the request is answered;
// - a delayed reply: answered.
// After every step no message may be left in the queue, and at the end the
// server must have seen every request that was sent exactly once, each
// carrying exactly its origin's bytes. Runs on a full segment and on one
// smaller than the nine slots, where part of the client's slot lies outside
// the segment and longer payloads are refused before anything is sent.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "campaign_size.h"
#include "settings_client/settings_client.h"
#include "stand_in_server.h"
#include "stderr_capture.h"
#include "traffic.h"

namespace {

using stand_in::Fault;
using stand_in::ReplyPlan;
using traffic::Kind;

constexpr auto kWait = std::chrono::seconds(20);
constexpr int32_t kSlotSize = 12288;
constexpr int32_t kRecordSize = 136;

enum class Step {
    kGood,
    kDelayedReply,
    kShortReply,
    kOversizedReply,
    kWrongType,
    kOutsideSegment,
    kFailureLength,
    kNoReplyQueueRemoved,
    kServerRemovesQueue,
    kServerArrivesLater,
};

const char* Name(Step step) {
    switch (step) {
        case Step::kGood:
            return "good";
        case Step::kDelayedReply:
            return "delayed_reply";
        case Step::kShortReply:
            return "short_reply";
        case Step::kOversizedReply:
            return "oversized_reply";
        case Step::kWrongType:
            return "reply_to_another_type";
        case Step::kOutsideSegment:
            return "reply_outside_segment";
        case Step::kFailureLength:
            return "negative_reply_length";
        case Step::kNoReplyQueueRemoved:
            return "no_reply_queue_removed";
        case Step::kServerRemovesQueue:
            return "server_removes_queue";
        case Step::kServerArrivesLater:
            return "server_arrives_later";
    }
    return "?";
}

// Relative frequencies: mostly good requests, every fault regularly.
constexpr std::pair<Step, int> kStepWeights[] = {
    {Step::kGood, 12},
    {Step::kDelayedReply, 2},
    {Step::kShortReply, 2},
    {Step::kOversizedReply, 2},
    {Step::kWrongType, 2},
    {Step::kOutsideSegment, 3},
    {Step::kFailureLength, 2},
    {Step::kNoReplyQueueRemoved, 1},
    {Step::kServerRemovesQueue, 1},
    {Step::kServerArrivesLater, 1},
};

struct Config {
    const char* name;
    int32_t segment_size;
    uint32_t client_id;
};

void PrintTo(const Config& config, std::ostream* out) { *out << config.name; }

class FaultCampaign : public testing::TestWithParam<Config> {
  protected:
    void SetUp() override {
        rng_.seed(robustness::Seed());
        segment_size_ = GetParam().segment_size;
        client_id_ = GetParam().client_id;
        slot_ = (static_cast<int64_t>(client_id_) - 2) * kSlotSize;
        CreateSmallSegment();
        traffic::ServeTraffic(&server_, &tally_);
        ASSERT_TRUE(server_.Start(SETTINGS_KEY, segment_size_));
        ASSERT_EQ(server_.segment_size(), segment_size_);
        test_support::StderrCapture capture;
        ASSERT_EQ(SettingsClientInit(client_id_), 0);
        EXPECT_EQ(capture.Take(), "queue id:" + std::to_string(server_.queue_id()) + "\n");
    }

    void TearDown() override { server_.Stop(); }

    // A segment smaller than the nine slots, in place before anyone else
    // asks for one under the key.
    void CreateSmallSegment() {
        if (segment_size_ < 110592) {
            ASSERT_GE(shmget(SETTINGS_KEY, static_cast<size_t>(segment_size_), IPC_CREAT | 0660),
                      0);
        }
    }

    int32_t OutgoingLength(const traffic::Request& request) const {
        switch (request.kind) {
            case Kind::kExchange:
            case Kind::kWrite:
                return static_cast<int32_t>(request.payload.size());
            case Kind::kRecord:
                return kRecordSize;
            case Kind::kRead:
                return -1;
        }
        return -1;
    }

    // False when the client must refuse the request before sending it: its
    // payload does not fit into the part of the slot inside the segment.
    bool Fits(const traffic::Request& request) const {
        const int32_t length = OutgoingLength(request);
        return length < 0 || (slot_ < segment_size_ && length <= segment_size_ - slot_);
    }

    traffic::Request Next() {
        return traffic::MakeRequest({client_id_, 0, sequence_++}, static_cast<uint32_t>(rng_()));
    }

    // A request that is sent; `kinds` limits what it may be.
    traffic::Request NextSent(std::initializer_list<Kind> kinds = {Kind::kExchange, Kind::kRecord,
                                                                   Kind::kWrite, Kind::kRead}) {
        for (;;) {
            traffic::Request request = Next();
            if (!Fits(request)) continue;
            for (Kind kind : kinds) {
                if (request.kind == kind) return request;
            }
        }
    }

    // Where a well-behaved server puts the answer, and how long it is.
    std::pair<int32_t, int32_t> ProperReply(const traffic::Request& request) const {
        const auto slot = static_cast<int32_t>(slot_);
        if (request.kind != Kind::kRead) return {OutgoingLength(request), slot};
        const auto size = static_cast<int32_t>(traffic::ReadReply(request.command).size());
        return {size, slot_ + size <= segment_size_ ? slot : 0};
    }

    uint64_t Waiting(int queue_id) const {
        msqid_ds status{};
        if (msgctl(queue_id, IPC_STAT, &status) != 0) return ~0ull;
        return static_cast<uint64_t>(status.msg_qnum);
    }

    // The request of a step that the server receives, run on a thread of
    // its own while the step acts on the server or the queue.
    template <typename Action>
    traffic::Outcome RunWhile(const traffic::Request& request, Action action) {
        traffic::Outcome outcome;
        std::thread requester([&] { outcome = traffic::RunRequest(request); });
        action();
        // A step that failed half-way must not leave the requester waiting
        // for ever: take its queue away.
        if (HasFatalFailure()) msgctl(msgget(SETTINGS_KEY, 0), IPC_RMID, nullptr);
        requester.join();
        return outcome;
    }

    void ExpectAnswered(const traffic::Request& request, const traffic::Outcome& outcome) {
        EXPECT_TRUE(traffic::Answered(request, outcome))
            << "result " << outcome.result << ", expected " << traffic::ExpectedResult(request);
    }

    void ExpectFailed(const traffic::Outcome& outcome) {
        EXPECT_EQ(outcome.result, -1);
        EXPECT_TRUE(outcome.buffer_untouched);
    }

    void Good() {
        const traffic::Request request = Next();
        const traffic::Outcome outcome = traffic::RunRequest(request);
        if (Fits(request)) {
            ++sent_;
            ExpectAnswered(request, outcome);
        } else {
            ExpectFailed(outcome);
        }
    }

    // Runs a request that the server answers by `plan`.
    traffic::Outcome Planned(const ReplyPlan& plan, const traffic::Request& request) {
        server_.PushPlan(plan);
        ++sent_;
        return traffic::RunRequest(request);
    }

    void MalformedReply(Fault fault) {
        ReplyPlan plan;
        plan.fault = fault;
        ExpectFailed(Planned(plan, NextSent()));
    }

    void DelayedReply() {
        ReplyPlan plan;
        plan.delay = std::chrono::milliseconds(1 + rng_() % 3);
        const traffic::Request request = NextSent();
        ExpectAnswered(request, Planned(plan, request));
    }

    void WrongType() {
        std::vector<long> others = {99, INT32_MAX};
        for (long id = 2; id <= 10; ++id) {
            if (id != static_cast<long>(client_id_)) others.push_back(id);
        }
        ReplyPlan plan;
        plan.fault = Fault::kWrongType;
        plan.wrong_type = others[rng_() % others.size()];
        const traffic::Request request = NextSent();
        server_.PushPlan(plan);
        ++sent_;
        const traffic::Outcome outcome = RunWhile(request, [&] {
            // Once the stray reply is out, send the request's own one.
            ASSERT_TRUE(server_.WaitForHandled(sent_, kWait));
            const auto [length, offset] = ProperReply(request);
            struct {
                long mtype;
                int32_t text[5];
            } reply{static_cast<long>(client_id_), {request.command, 0, 0, length, offset}};
            ASSERT_EQ(msgsnd(server_.queue_id(), &reply, sizeof reply.text, 0), 0);
        });
        ExpectAnswered(request, outcome);
        struct {
            long mtype;
            char text[64];
        } stray{};
        EXPECT_EQ(
            msgrcv(server_.queue_id(), &stray, sizeof stray.text, plan.wrong_type, IPC_NOWAIT), 20)
            << "the reply to type " << plan.wrong_type << " was taken";
    }

    void OutsideSegment() {
        const traffic::Request request = NextSent();
        const int32_t length = std::max<int32_t>(1, ProperReply(request).first);
        const int32_t end = segment_size_;
        const std::pair<int32_t, int32_t> regions[] = {
            {length, end - length + 1}, {length, end}, {length, -1},   {length, INT32_MIN},
            {length, INT32_MAX},        {end + 1, 0},  {INT32_MAX, 0}, {INT32_MAX, INT32_MAX},
        };
        const auto [reply_length, offset] = regions[rng_() % std::size(regions)];
        ReplyPlan plan;
        plan.length = reply_length;
        plan.offset = offset;
        const traffic::Outcome outcome = Planned(plan, request);
        if (request.kind == Kind::kWrite) {
            // A write copies nothing back: the server's length is its result.
            EXPECT_EQ(outcome.result, reply_length);
            EXPECT_TRUE(outcome.buffer_untouched);
        } else if (request.kind == Kind::kRead && reply_length != length) {
            // A read of L bytes copies only a reply of exactly L bytes, and
            // returns L either way.
            EXPECT_EQ(outcome.result, length);
            EXPECT_TRUE(outcome.buffer_untouched);
        } else {
            ExpectFailed(outcome);
        }
    }

    void FailureLength() {
        const traffic::Request request = NextSent();
        ReplyPlan plan;
        plan.length = -1 - static_cast<int32_t>(rng_() % 1000);
        const traffic::Outcome outcome = Planned(plan, request);
        EXPECT_TRUE(outcome.buffer_untouched);
        switch (request.kind) {
            case Kind::kExchange:
            case Kind::kWrite:
                EXPECT_EQ(outcome.result, *plan.length);
                break;
            case Kind::kRead:
                EXPECT_EQ(outcome.result, ProperReply(request).first);
                break;
            case Kind::kRecord:
                EXPECT_EQ(outcome.result, -1);
                break;
        }
    }

    // After the queue is gone: requests fail at once until the server is
    // back and the client has initialised again.
    void Recover() {
        const traffic::Request lost = NextSent();
        ExpectFailed(traffic::RunRequest(lost));
        server_.Stop();
        ASSERT_TRUE(server_.Start(SETTINGS_KEY, segment_size_));
        test_support::StderrCapture capture;
        ASSERT_EQ(SettingsClientInit(client_id_), 0);
        EXPECT_EQ(capture.Take(), "queue id:" + std::to_string(server_.queue_id()) + "\n");
        Good();
    }

    void NoReplyQueueRemoved() {
        ReplyPlan plan;
        plan.fault = Fault::kNoReply;
        const traffic::Request request = NextSent();
        server_.PushPlan(plan);
        ++sent_;
        const traffic::Outcome outcome = RunWhile(request, [&] {
            ASSERT_TRUE(server_.WaitForHandled(sent_, kWait));
            ASSERT_EQ(msgctl(server_.queue_id(), IPC_RMID, nullptr), 0);
        });
        ExpectFailed(outcome);
        Recover();
    }

    void ServerRemovesQueue() {
        ReplyPlan plan;
        plan.fault = Fault::kRemoveQueue;
        ExpectFailed(Planned(plan, NextSent()));
        ASSERT_TRUE(server_.WaitForHandled(sent_, kWait));
        Recover();
    }

    void ServerArrivesLater() {
        server_.Stop();
        ASSERT_EQ(msgctl(server_.queue_id(), IPC_RMID, nullptr), 0);
        ASSERT_EQ(shmctl(server_.segment_id(), IPC_RMID, nullptr), 0);
        CreateSmallSegment();

        // The client starts on a device where the server has not come up:
        // it creates the queue (and the full-size segment) itself.
        test_support::StderrCapture capture;
        ASSERT_EQ(SettingsClientInit(client_id_), 0);
        const int queue_id = msgget(SETTINGS_KEY, 0);
        ASSERT_GE(queue_id, 0);
        const std::string id = std::to_string(queue_id);
        EXPECT_EQ(capture.Take(), "Creat queue id:" + id + "\nqueue id:" + id + "\n");

        const traffic::Request request = NextSent();
        ++sent_;
        const traffic::Outcome outcome = RunWhile(request, [&] {
            const auto deadline = std::chrono::steady_clock::now() + kWait;
            while (Waiting(queue_id) == 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ASSERT_EQ(Waiting(queue_id), 1u) << "the request never reached the queue";
            ASSERT_TRUE(server_.Start(SETTINGS_KEY, segment_size_));
        });
        ExpectAnswered(request, outcome);
    }

    void Run(Step step) {
        switch (step) {
            case Step::kGood:
                return Good();
            case Step::kDelayedReply:
                return DelayedReply();
            case Step::kShortReply:
                return MalformedReply(Fault::kShortReply);
            case Step::kOversizedReply:
                return MalformedReply(Fault::kOversizedReply);
            case Step::kWrongType:
                return WrongType();
            case Step::kOutsideSegment:
                return OutsideSegment();
            case Step::kFailureLength:
                return FailureLength();
            case Step::kNoReplyQueueRemoved:
                return NoReplyQueueRemoved();
            case Step::kServerRemovesQueue:
                return ServerRemovesQueue();
            case Step::kServerArrivesLater:
                return ServerArrivesLater();
        }
    }

    Step Draw() {
        int total = 0;
        for (const auto& [step, weight] : kStepWeights) total += weight;
        int pick = static_cast<int>(rng_() % static_cast<uint64_t>(total));
        for (const auto& [step, weight] : kStepWeights) {
            if (pick < weight) return step;
            pick -= weight;
        }
        return Step::kGood;
    }

    std::mt19937_64 rng_;
    int32_t segment_size_ = 0;
    uint32_t client_id_ = 0;
    int64_t slot_ = 0;
    uint32_t sequence_ = 0;
    uint64_t sent_ = 0;  // requests that reached the server
    stand_in::StandInServer server_;
    traffic::ServerTally tally_;
};

TEST_P(FaultCampaign, EveryFaultGivesItsResultAndTheNextRequestSucceeds) {
    const uint32_t steps = robustness::Scaled(1500);
    std::map<Step, uint64_t> counts;
    for (uint32_t index = 0; index < steps && !HasFailure(); ++index) {
        const Step step = Draw();
        SCOPED_TRACE(testing::Message()
                     << "seed " << robustness::Seed() << ", step " << index << ": " << Name(step));
        ++counts[step];
        Run(step);
        ASSERT_TRUE(server_.WaitForHandled(sent_, kWait));
        EXPECT_EQ(Waiting(msgget(SETTINGS_KEY, 0)), 0u) << "a message was left in the queue";
    }
    server_.Stop();
    EXPECT_EQ(server_.Requests().size(), sent_) << "a request was lost or sent twice";
    EXPECT_EQ(tally_.requests, sent_);
    EXPECT_EQ(tally_.bad, 0u) << "a request reached the server with wrong bytes";

    robustness::Report("seed", robustness::Seed());
    robustness::Report("steps", steps);
    robustness::Report("requests_sent", sent_);
    for (const auto& [step, count] : counts) robustness::Report(Name(step), count);
}

INSTANTIATE_TEST_SUITE_P(Segments, FaultCampaign,
                         testing::Values(Config{"FullSegment", 110592, 7},
                                         Config{"SmallSegment", 20000, 3}),
                         [](const testing::TestParamInfo<Config>& param_info) {
                             return std::string(param_info.param.name);
                         });

}  // namespace
