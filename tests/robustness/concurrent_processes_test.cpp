// Nine client processes, with client ids 2 to 10, make requests at once
// against one stand-in server. Processes share the queue and the segment
// but nothing else: each must only ever take replies of its own type and
// find its own bytes in its own slot. Every request carries its origin and
// every reply is derived from it (traffic.h), on both sides every byte is
// checked.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "campaign_size.h"
#include "forked_server.h"
#include "settings_client/settings_client.h"
#include "traffic.h"

namespace {

struct ChildReport {
    int32_t initialised = 0;
    traffic::ClientTally tally;
};

TEST(ConcurrentProcesses, NineClientsGetOnlyTheirOwnRepliesByteForByte) {
    const uint32_t per_client = robustness::Scaled(1000);
    robustness::ForkedServer server;
    ASSERT_TRUE(server.Start());

    // Every client waits at the gate until all nine exist.
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    struct Child {
        uint32_t client;
        pid_t pid;
        int report_fd;
    };
    std::vector<Child> children;
    for (uint32_t client = 2; client <= 10; ++client) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close(gate[1]);
            char byte;
            while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
            }
            ChildReport result;
            result.initialised = SettingsClientInit(client) == 0 ? 1 : 0;
            if (result.initialised == 1) {
                result.tally = traffic::RunClient(client, 0, per_client, robustness::Seed());
            }
            _exit(write(report[1], &result, sizeof result) == sizeof result ? 0 : 1);
        }
        close(report[1]);
        children.push_back({client, pid, report[0]});
    }
    close(gate[0]);
    close(gate[1]);  // open the gate

    uint64_t requests = 0;
    for (const Child& child : children) {
        SCOPED_TRACE(testing::Message() << "client " << child.client);
        ChildReport result;
        EXPECT_EQ(read(child.report_fd, &result, sizeof result),
                  static_cast<ssize_t>(sizeof result));
        close(child.report_fd);
        int status = 0;
        ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(result.initialised, 1);
        EXPECT_EQ(result.tally.requests, per_client);
        EXPECT_EQ(result.tally.mismatches, 0u);
        requests += result.tally.requests;
    }

    traffic::ServerTally served;
    ASSERT_TRUE(server.Stop(&served));
    EXPECT_EQ(served.requests, requests) << "a request was lost or sent twice";
    EXPECT_EQ(served.bad, 0u) << "a request reached the server with another client's bytes";
    robustness::Report("processes", 9);
    robustness::Report("requests", requests);
}

}  // namespace
