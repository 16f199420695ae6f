// Commands 433 and 498 belong to the notification and SettingsWrite498
// alone: walking field ids through the real dispatcher never sends either.
#include "client_with_server.h"

namespace aux_test {
namespace {

using ReservedCommandsTest = ClientWithServer;

TEST_F(ReservedCommandsTest, NoFieldSendsTheNotificationOrWrite498Command) {
    // Room for any reply the stand-in gives: it answers with the request's
    // own length, or with at most the caller's bytes.
    std::vector<uint8_t> buffer(12288);
    // The three field groups and the ids around them; ids in wider groups are
    // matched whole, so they cannot reach a field either. Every field sends
    // one request and returns once it is answered.
    for (uint32_t id = 0; id <= 0xFFFF; ++id) SettingsControl(id, buffer.data(), 16);
    EXPECT_EQ(server_.Requests().size(), 583u);
    for (const auto& request : server_.Requests()) {
        EXPECT_NE(request.command, 433);
        EXPECT_NE(request.command, 498);
    }
}

}  // namespace
}  // namespace aux_test
