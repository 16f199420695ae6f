// Fixture of the field tests: a stand-in settings server on the settings key
// and this process initialised as client 7, plus helpers for the bytes that
// travel and for the request that a call leaves at the server.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "settings_client/settings_client.h"
#include "stand_in_server.h"

namespace fields_test {

inline constexpr uint32_t kClientId = 7;
inline constexpr int32_t kClientSlot = 61440;  // (7 - 2) * 12288

// Bytes seed, seed + 1, ...
inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i);
    return bytes;
}

// Fill for caller buffers: any byte the code under test writes shows.
inline std::vector<uint8_t> Sentinel(size_t count) { return std::vector<uint8_t>(count, 0xEE); }

class FieldsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        ASSERT_EQ(SettingsClientInit(kClientId), 0);
    }
    void TearDown() override { server_.Stop(); }

    // The server records a request before it answers and the client waits
    // for the answer, so once a call has returned, whatever it sent is here.
    size_t RequestCount() const { return server_.Requests().size(); }
    stand_in::RecordedRequest LastRequest() const {
        const auto requests = server_.Requests();
        return requests.empty() ? stand_in::RecordedRequest{} : requests.back();
    }

    // Answers the next request with length `reply_length`, pointing at
    // `payload` placed at `offset` of the segment.
    void ReplyWith(int32_t reply_length, const std::vector<uint8_t>& payload,
                   int32_t offset = kReplyOffset) {
        stand_in::ReplyPlan plan;
        plan.length = reply_length;
        plan.offset = offset;
        plan.payload = payload;
        plan.payload_at = offset;
        server_.PushPlan(plan);
    }

    // Answers the next request with a reply the client must not accept (too
    // short), so the request ends without a reply.
    void ReplyWithNothingUsable() {
        stand_in::ReplyPlan plan;
        plan.fault = stand_in::Fault::kShortReply;
        server_.PushPlan(plan);
    }

    // Away from client 7's slot, so a copy from the wrong place shows.
    static constexpr int32_t kReplyOffset = 4096;

    stand_in::StandInServer server_;
};

}  // namespace fields_test
