// The setters of the client id and the queue id: each returns its argument,
// changes only its own value, and redirects every later request.
#include <climits>

#include "client/client_state.h"
#include "client_with_server.h"

namespace aux_test {
namespace {

using settings_client::client_state;

bool SameState(const settings_client::ClientState& a, const settings_client::ClientState& b) {
    return a.client_id == b.client_id && a.queue_id == b.queue_id &&
           a.client_lock == b.client_lock && a.segment_id == b.segment_id &&
           a.segment_size == b.segment_size;
}

TEST(SettersTest, ReturnTheArgumentAndChangeOnlyTheirOwnValue) {
    // Valid in any state; the first round runs before any initialisation.
    for (bool ready : {false, true}) {
        SCOPED_TRACE(ready);
        if (ready) {
            ASSERT_EQ(SettingsClientInit(7), 0);
        }
        for (uint32_t id : {0u, 1u, 13u, 14u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
            settings_client::ClientState expected = client_state;
            expected.client_id = id;
            EXPECT_EQ(SettingsSetClientId(id), id);
            EXPECT_TRUE(SameState(client_state, expected)) << id;
        }
        for (int32_t queue_id : {0, -1, 1, INT32_MAX, INT32_MIN}) {
            settings_client::ClientState expected = client_state;
            expected.queue_id = queue_id;
            EXPECT_EQ(SettingsSetQueueId(queue_id), queue_id);
            EXPECT_TRUE(SameState(client_state, expected)) << queue_id;
        }
    }
}

using SettersRedirectTest = ClientWithServer;

TEST_F(SettersRedirectTest, ClientIdChangesSourceReplyTypeAndSlot) {
    ASSERT_EQ(SettingsSetClientId(3), 3u);
    const std::vector<uint8_t> data = Pattern(24, 0x31);
    // The server answers message type `source`: the call returns only if
    // the client waits for type 3.
    EXPECT_EQ(SettingsWrite498(data.data(), 24), 24);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].source, 3);
    EXPECT_EQ(requests[0].offset, 12288);  // the slot of client id 3
    EXPECT_EQ(requests[0].payload, data);
}

TEST_F(SettersRedirectTest, QueueIdRedirectsRequestsAndNotifications) {
    stand_in::StandInServer other;
    ASSERT_TRUE(other.Start(0x5E77));
    ASSERT_EQ(SettingsSetQueueId(other.queue_id()), other.queue_id());

    const std::vector<uint8_t> data = Pattern(8, 0x41);
    EXPECT_EQ(SettingsWrite498(data.data(), 8), 8);
    EXPECT_EQ(SettingsNotify(), 0);
    ASSERT_TRUE(other.WaitForRequests(2, kWait));
    const auto requests = other.Requests();
    EXPECT_EQ(requests[0].command, 498);
    EXPECT_EQ(requests[1].command, 433);
    other.Stop();

    ASSERT_EQ(SettingsSetQueueId(server_.queue_id()), server_.queue_id());
    EXPECT_TRUE(RequestsBeforeFence().empty());
}

}  // namespace
}  // namespace aux_test
