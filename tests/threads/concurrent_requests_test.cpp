// Threads of one process share one client id, one reply type and one payload
// slot; the client lock is all that keeps their exchanges apart. Every thread
// sends payloads that say which thread sent them in which round and checks
// that exactly those bytes come back, while other threads read a field and
// send notifications (which take no lock) in between.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "settings_client/settings_client.h"
#include "stand_in_server.h"

namespace {

constexpr uint32_t kClientId = 5;
constexpr int32_t kEchoCommand = 640;  // not in the server's store: echoed back
constexpr int kExchangeThreads = 6;
constexpr int kRounds = 300;
const std::string kServerName = "ntp.threads.example";

// Payload of one exchange: its length varies with the round so that a reply
// meant for another thread also differs in length; every byte names the
// sender, the round and its own position.
std::vector<uint8_t> PayloadFor(int thread, int round) {
    std::vector<uint8_t> bytes(static_cast<size_t>(16 + (round * 37 + thread * 101) % 2000));
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(thread * 41 + round * 7 + i);
    }
    std::memcpy(bytes.data(), &thread, sizeof thread);
    std::memcpy(bytes.data() + sizeof thread, &round, sizeof round);
    return bytes;
}

TEST(ConcurrentRequests, ThreadsNeverSeeEachOthersPayloadsOrReplies) {
    stand_in::StandInServer server;
    ASSERT_TRUE(server.Start());
    server.SetReply(3, std::vector<uint8_t>(kServerName.begin(), kServerName.end()));
    ASSERT_EQ(SettingsClientInit(kClientId), 0);

    std::atomic<int> mismatches{0};
    std::atomic<int> failed_notifications{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kExchangeThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            std::vector<uint8_t> buffer(4096);
            for (int round = 0; round < kRounds; ++round) {
                const std::vector<uint8_t> payload = PayloadFor(t, round);
                std::memcpy(buffer.data(), payload.data(), payload.size());
                const auto length = static_cast<int32_t>(payload.size());
                const int32_t result = SettingsExchange(buffer.data(), length, kEchoCommand);
                if (result != length ||
                    std::memcmp(buffer.data(), payload.data(), payload.size()) != 0) {
                    ++mismatches;
                }
            }
        });
    }
    // A reader of field 2 (the NTP server name), whose reply the server
    // places in the same slot the exchanges use.
    threads.emplace_back([&mismatches] {
        for (int round = 0; round < kRounds; ++round) {
            char name[256];
            std::memset(name, 0, sizeof name);
            const int32_t result = SettingsControl(2, name, sizeof name);
            if (result != static_cast<int32_t>(kServerName.size()) || kServerName != name) {
                ++mismatches;
            }
        }
    });
    // Notifications take no lock and may go out while another thread holds it.
    threads.emplace_back([&failed_notifications] {
        for (int round = 0; round < kRounds; ++round) {
            if (SettingsNotify() != 0) ++failed_notifications;
        }
    });
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(failed_notifications.load(), 0);

    // Every request reached the server exactly once, with this client's
    // identity, and each exchange put its own bytes into the slot.
    constexpr size_t kTotal = (kExchangeThreads + 2) * kRounds;
    ASSERT_TRUE(server.WaitForRequests(kTotal, std::chrono::seconds(30)));
    const auto requests = server.Requests();
    EXPECT_EQ(requests.size(), kTotal);
    int exchanges = 0;
    int reads = 0;
    int notifications = 0;
    int wrong_requests = 0;  // counted, so that a broken lock gives one failure, not thousands
    for (const auto& request : requests) {
        if (request.command == kEchoCommand) {
            ++exchanges;
            int thread = -1;
            int round = -1;
            if (request.payload.size() >= 2 * sizeof(int)) {
                std::memcpy(&thread, request.payload.data(), sizeof thread);
                std::memcpy(&round, request.payload.data() + sizeof thread, sizeof round);
            }
            const bool known =
                thread >= 0 && thread < kExchangeThreads && round >= 0 && round < kRounds;
            if (!known || request.payload != PayloadFor(thread, round) ||
                request.source != static_cast<int32_t>(kClientId)) {
                ++wrong_requests;
            }
        } else if (request.command == 3) {
            ++reads;
            if (request.source != static_cast<int32_t>(kClientId)) ++wrong_requests;
        } else if (request.command == 433) {
            ++notifications;
            if (request.source != 0) ++wrong_requests;
        } else {
            ++wrong_requests;
        }
    }
    EXPECT_EQ(wrong_requests, 0);
    EXPECT_EQ(exchanges, kExchangeThreads * kRounds);
    EXPECT_EQ(reads, kRounds);
    EXPECT_EQ(notifications, kRounds);
    server.Stop();
}

}  // namespace
