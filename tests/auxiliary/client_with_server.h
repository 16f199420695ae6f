// Test fixture shared by the auxiliary tests: a stand-in settings server on
// the settings key and this process initialised as client 7, plus small
// helpers to build and compare the bytes that travel.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "settings_client/settings_client.h"
#include "stand_in_server.h"

namespace aux_test {

inline constexpr uint32_t kClientId = 7;
inline constexpr int32_t kClientSlot = 61440;  // (7 - 2) * 12288
inline constexpr auto kWait = std::chrono::seconds(10);

// Bytes 0, 1, 2, ... offset by `seed`, so that different payloads differ.
inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i);
    return bytes;
}

// A caller buffer that must not change where the code under test may not
// write: "DO NOT TOUCH " repeated.
inline std::vector<uint8_t> Sentinel(size_t count) {
    static const char kText[] = "DO NOT TOUCH ";
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(kText[i % (sizeof kText - 1)]);
    return bytes;
}

// The 136 bytes of a record as they lie in the segment.
inline std::vector<uint8_t> RecordBytes(int32_t kind, int32_t length,
                                        const std::vector<uint8_t>& data) {
    SettingsRecord record{};
    record.kind = kind;
    record.length = length;
    std::copy_n(data.begin(), std::min(data.size(), sizeof record.data), record.data);
    const auto* raw = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(raw, raw + sizeof record);
}

class ClientWithServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        ASSERT_EQ(SettingsClientInit(kClientId), 0);
    }
    void TearDown() override { server_.Stop(); }

    // Sends a notification behind whatever the test sent before and returns
    // every request the server took ahead of it. Requests leave the queue in
    // order, so anything a refused call had sent shows up here.
    std::vector<stand_in::RecordedRequest> RequestsBeforeFence() {
        EXPECT_EQ(SettingsNotify(), 0);
        for (size_t count = 1; server_.WaitForRequests(count, kWait); ++count) {
            auto requests = server_.Requests();
            if (requests[count - 1].command == 433) {
                requests.resize(count - 1);
                return requests;
            }
        }
        ADD_FAILURE() << "the notification never reached the server";
        return {};
    }

    stand_in::StandInServer server_;
};

}  // namespace aux_test
