// SettingsRecordExchange against the stand-in server: the whole 136-byte
// record always travels, only the answer's data (never its kind) reach the
// caller, and every out-of-bounds length or missing reply is refused with -1
// without touching the caller's buffer.
#include <climits>

#include "client_with_server.h"

namespace aux_test {
namespace {

constexpr int32_t kCommand = 700;
constexpr int32_t kKind = 0x4B494E44;  // "KIND"
constexpr int32_t kAnswerKind = 0x5E5E5E5E;

using RecordExchangeTest = ClientWithServer;

TEST_F(RecordExchangeTest, SendsTheWholeRecordWithTheCallersKindAndData) {
    for (int32_t length : {0, 5, 128}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> buffer = Pattern(128, 0x10);
        const std::vector<uint8_t> before = buffer;
        // A command without a stored answer is acknowledged with the
        // request's own length and offset: the record comes back as sent.
        EXPECT_EQ(SettingsRecordExchange(kCommand, kKind, buffer.data(), length), length);
        EXPECT_EQ(buffer, before);

        const auto requests = server_.Requests();
        ASSERT_FALSE(requests.empty());
        const auto& request = requests.back();
        EXPECT_EQ(request.mtype, 1);
        EXPECT_EQ(request.command, kCommand);
        EXPECT_EQ(request.source, static_cast<int32_t>(kClientId));
        EXPECT_EQ(request.reserved, 0);
        EXPECT_EQ(request.length, 136);
        EXPECT_EQ(request.offset, kClientSlot);
        // Data past the caller's length go out cleared, never as stale bytes.
        std::vector<uint8_t> sent_data(buffer.begin(), buffer.begin() + length);
        EXPECT_EQ(request.payload, RecordBytes(kKind, length, sent_data));
    }
}

TEST_F(RecordExchangeTest, HandsBackOnlyTheAnswersDataAndLength) {
    // The request data are shorter than most answers; the reply's length is
    // always the whole record (136), the result is the answer's length.
    for (int32_t answer_length : {0, 4, 128}) {
        SCOPED_TRACE(answer_length);
        const std::vector<uint8_t> answer_data = Pattern(128, 0xA0);
        server_.SetReply(kCommand, RecordBytes(kAnswerKind, answer_length, answer_data));

        std::vector<uint8_t> buffer = Sentinel(128);
        EXPECT_EQ(SettingsRecordExchange(kCommand, kKind, buffer.data(), 3), answer_length);

        std::vector<uint8_t> expected = Sentinel(128);
        std::copy_n(answer_data.begin(), answer_length, expected.begin());
        EXPECT_EQ(buffer, expected);
    }
}

TEST_F(RecordExchangeTest, ReplyWithoutPayloadGivesTheCallersOwnRecordBack) {
    stand_in::ReplyPlan plan;
    plan.length = 0;
    plan.offset = kClientSlot;
    server_.PushPlan(plan);

    std::vector<uint8_t> buffer = Sentinel(128);
    EXPECT_EQ(SettingsRecordExchange(kCommand, kKind, buffer.data(), 5), 5);
    EXPECT_EQ(buffer, Sentinel(128));
}

// Each of these replies carries an answer that would be accepted on its own
// (length 10, data "XXXXXXXXXX"), so only the bound under test stands
// between it and the caller's buffer.
struct RefusedReply {
    const char* what;
    stand_in::Fault fault;
    int32_t reply_length;
    int32_t answer_length;
};

TEST_F(RecordExchangeTest, RefusesRepliesOutsideTheRecordAndLeavesTheBufferAlone) {
    const RefusedReply cases[] = {
        {"negative reply length", stand_in::Fault::kNone, -1, 10},
        {"reply longer than the record", stand_in::Fault::kNone, 137, 10},
        {"largest reply length", stand_in::Fault::kNone, INT32_MAX, 10},
        {"reply cut inside the answer's length", stand_in::Fault::kNone, 6, 10},
        {"negative answer length", stand_in::Fault::kNone, 136, -1},
        {"answer longer than the data", stand_in::Fault::kNone, 136, 129},
        {"smallest answer length", stand_in::Fault::kNone, 136, INT32_MIN},
        // Last: it takes the queue away.
        {"no reply at all", stand_in::Fault::kRemoveQueue, 136, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        stand_in::ReplyPlan plan;
        plan.fault = c.fault;
        plan.length = c.reply_length;
        plan.offset = kClientSlot;
        std::vector<uint8_t> answer =
            RecordBytes(kAnswerKind, c.answer_length, std::vector<uint8_t>(128, 'X'));
        answer.resize(200, 'X');  // room for the overlong replies
        plan.payload = answer;
        server_.PushPlan(plan);

        std::vector<uint8_t> buffer = Sentinel(128);
        EXPECT_EQ(SettingsRecordExchange(kCommand, kKind, buffer.data(), 5), -1);
        EXPECT_EQ(buffer, Sentinel(128));
    }
}

TEST_F(RecordExchangeTest, RefusesCallerLengthsOutsideTheDataWithoutSending) {
    std::vector<uint8_t> buffer = Sentinel(256);
    for (int32_t length : {-1, 129, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(SettingsRecordExchange(kCommand, kKind, buffer.data(), length), -1);
    }
    EXPECT_EQ(SettingsRecordExchange(kCommand, kKind, nullptr, 0), -1);
    EXPECT_EQ(buffer, Sentinel(256));
    EXPECT_TRUE(RequestsBeforeFence().empty());
}

}  // namespace
}  // namespace aux_test
