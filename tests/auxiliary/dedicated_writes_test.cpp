// The dedicated write requests and the generic exchange: the Write and
// Exchange shapes with their commands, the dedicated writes sending exactly
// what the field dispatcher sends for the fields that share their commands.
#include "client_with_server.h"

namespace aux_test {
namespace {

using DedicatedWritesTest = ClientWithServer;

using WriteFunction = int32_t (*)(const void*, int32_t);

bool SameRequest(const stand_in::RecordedRequest& a, const stand_in::RecordedRequest& b) {
    return a.mtype == b.mtype && a.command == b.command && a.source == b.source &&
           a.reserved == b.reserved && a.length == b.length && a.offset == b.offset &&
           a.text_size == b.text_size && a.payload == b.payload;
}

stand_in::ReplyPlan ReplyWithLength(int32_t length) {
    stand_in::ReplyPlan plan;
    plan.length = length;
    plan.offset = 0;
    return plan;
}

TEST_F(DedicatedWritesTest, SendTheSameRequestAsTheFieldWithTheirCommand) {
    struct Case {
        WriteFunction write;
        uint32_t field_id;
        int32_t command;
    };
    const Case cases[] = {
        {SettingsWrite359, 0x1129, 359},
        {SettingsWrite360, 0x112A, 360},
        {SettingsWrite361, 0x112B, 361},
        {SettingsWrite371, 0x1131, 371},
    };
    std::vector<uint8_t> data = Pattern(40, 0x60);
    int32_t reply_length = 11;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        server_.PushPlan(ReplyWithLength(reply_length));
        server_.PushPlan(ReplyWithLength(reply_length));
        EXPECT_EQ(c.write(data.data(), 40), reply_length);
        EXPECT_EQ(SettingsControl(c.field_id, data.data(), 40), reply_length);

        const auto requests = server_.Requests();
        ASSERT_GE(requests.size(), 2u);
        const auto& dedicated = requests[requests.size() - 2];
        EXPECT_TRUE(SameRequest(dedicated, requests.back()));
        EXPECT_EQ(dedicated.command, c.command);
        EXPECT_EQ(dedicated.length, 40);
        EXPECT_EQ(dedicated.offset, kClientSlot);
        EXPECT_EQ(dedicated.payload, data);
        ++reply_length;
    }
}

TEST_F(DedicatedWritesTest, Write498SendsItsCommandAndReturnsTheReplyLength) {
    const std::vector<uint8_t> data = Pattern(16, 0x20);
    server_.PushPlan(ReplyWithLength(-7));
    EXPECT_EQ(SettingsWrite498(data.data(), 16), -7);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].command, 498);
    EXPECT_EQ(requests[0].source, static_cast<int32_t>(kClientId));
    EXPECT_EQ(requests[0].length, 16);
    EXPECT_EQ(requests[0].offset, kClientSlot);
    EXPECT_EQ(requests[0].payload, data);
}

TEST_F(DedicatedWritesTest, ExchangeSendsTheCallersCommandAndReturnsTheAnswer) {
    const std::vector<uint8_t> answer = Pattern(12, 0x90);
    server_.SetReply(901, answer);

    std::vector<uint8_t> data = Sentinel(64);
    const std::vector<uint8_t> sent(data.begin(), data.begin() + 4);
    EXPECT_EQ(SettingsExchange(data.data(), 4, 901), 12);

    std::vector<uint8_t> expected = Sentinel(64);
    std::copy(answer.begin(), answer.end(), expected.begin());
    EXPECT_EQ(data, expected);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].command, 901);
    EXPECT_EQ(requests[0].length, 4);
    EXPECT_EQ(requests[0].offset, kClientSlot);
    EXPECT_EQ(requests[0].payload, sent);
}

// Without a reply, every one of them fails, and the exchange leaves the
// caller's bytes as they were.
TEST_F(DedicatedWritesTest, NoReplyIsMinusOne) {
    stand_in::ReplyPlan lose_queue;
    lose_queue.fault = stand_in::Fault::kRemoveQueue;
    const WriteFunction writes[] = {SettingsWrite359, SettingsWrite360, SettingsWrite361,
                                    SettingsWrite371, SettingsWrite498};
    std::vector<uint8_t> data = Sentinel(32);

    server_.PushPlan(lose_queue);
    EXPECT_EQ(SettingsExchange(data.data(), 32, 901), -1);
    EXPECT_EQ(data, Sentinel(32));
    for (WriteFunction write : writes) EXPECT_EQ(write(data.data(), 32), -1);
}

}  // namespace
}  // namespace aux_test
