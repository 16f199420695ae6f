// Threads of one client process share one reply type and one payload slot;
// only the client lock keeps their exchanges apart. Eight threads make
// requests of every kind at once (traffic.h): each must get exactly the
// answer to its own request, byte for byte, and the server must see each
// request once with exactly the bytes its thread sent. A second case adds a
// storm of signals, handled without SA_RESTART, while the server holds every
// reply back for a while: no request may fail because of a signal, and no
// reply may be left behind for a later request.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/msg.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include "campaign_size.h"
#include "forked_server.h"
#include "settings_client/settings_client.h"
#include "traffic.h"

namespace {

constexpr uint32_t kClientId = 7;

uint64_t MessagesWaiting(int queue_id) {
    msqid_ds status{};
    if (msgctl(queue_id, IPC_STAT, &status) != 0) return ~0ull;
    return static_cast<uint64_t>(status.msg_qnum);
}

TEST(ConcurrentThreads, EightThreadsGetOnlyTheirOwnRepliesByteForByte) {
    constexpr uint32_t kThreads = 8;
    const uint32_t per_thread = robustness::Scaled(1000);
    robustness::ForkedServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(SettingsClientInit(kClientId), 0);

    std::latch start(kThreads);
    std::vector<traffic::ClientTally> tallies(kThreads);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            tallies[t] = traffic::RunClient(kClientId, t, per_thread, robustness::Seed());
        });
    }
    for (auto& thread : threads) thread.join();

    uint64_t requests = 0;
    for (uint32_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(tallies[t].requests, per_thread) << "thread " << t;
        EXPECT_EQ(tallies[t].mismatches, 0u) << "thread " << t;
        requests += tallies[t].requests;
    }
    EXPECT_EQ(MessagesWaiting(server.queue_id()), 0u);
    traffic::ServerTally served;
    ASSERT_TRUE(server.Stop(&served));
    EXPECT_EQ(served.requests, requests);
    EXPECT_EQ(served.bad, 0u);
    robustness::Report("threads", kThreads);
    robustness::Report("requests", requests);
}

std::atomic<uint64_t> signals_handled{0};
std::atomic<uint64_t> signals_during_requests{0};
thread_local volatile sig_atomic_t in_request = 0;

void CountSignal(int) {
    signals_handled.fetch_add(1, std::memory_order_relaxed);
    if (in_request != 0) signals_during_requests.fetch_add(1, std::memory_order_relaxed);
}

TEST(SignalStorm, InterruptedWaitsNeitherFailRequestsNorMixUpReplies) {
    constexpr uint32_t kThreads = 3;
    constexpr uint32_t kMaxReplyDelayUs = 400;
    const uint32_t per_thread = robustness::Scaled(1000);
    robustness::ForkedServer server;
    ASSERT_TRUE(server.Start(kMaxReplyDelayUs, robustness::Seed()));

    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: every blocking call is cut short
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
    ASSERT_EQ(SettingsClientInit(kClientId), 0);

    std::atomic<uint32_t> finished{0};
    std::vector<traffic::ClientTally> tallies(kThreads);
    std::vector<std::thread> workers;
    for (uint32_t t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (uint32_t sequence = 0; sequence < per_thread; ++sequence) {
                const traffic::Request request = traffic::MakeRequest(
                    {kClientId, t, sequence}, static_cast<uint32_t>(robustness::Seed()) + sequence);
                in_request = 1;
                const traffic::Outcome outcome = traffic::RunRequest(request);
                in_request = 0;
                ++tallies[t].requests;
                if (!traffic::Answered(request, outcome)) ++tallies[t].mismatches;
            }
            ++finished;
        });
    }
    // The storm: every worker is signalled again and again until all are
    // done (their threads stay joinable until then, so the handles stay
    // valid).
    uint64_t sent = 0;
    while (finished.load() < kThreads) {
        for (auto& worker : workers) {
            if (pthread_kill(worker.native_handle(), SIGUSR1) == 0) ++sent;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    for (auto& worker : workers) worker.join();
    signal(SIGUSR1, SIG_IGN);

    uint64_t requests = 0;
    for (uint32_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(tallies[t].mismatches, 0u) << "thread " << t;
        requests += tallies[t].requests;
    }
    EXPECT_GT(signals_during_requests.load(), 0u) << "the storm never hit a request";
    EXPECT_EQ(MessagesWaiting(server.queue_id()), 0u) << "a reply was left behind";
    traffic::ServerTally served;
    ASSERT_TRUE(server.Stop(&served));
    EXPECT_EQ(served.requests, requests) << "a request was lost or sent twice";
    EXPECT_EQ(served.bad, 0u);
    robustness::Report("requests", requests);
    robustness::Report("signals_sent", sent);
    robustness::Report("signals_during_requests", signals_during_requests.load());
}

}  // namespace
