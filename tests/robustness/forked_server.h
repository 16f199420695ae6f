// The stand-in settings server serving self-checking traffic (traffic.h) in
// a child process of its own, so that the clients under test (threads or
// processes of the test) share nothing with it but the queue and the
// segment. The child is forked while the test process still has a single
// thread, and dies with the test process.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "traffic.h"

namespace robustness {

class ForkedServer {
  public:
    ForkedServer() = default;
    ~ForkedServer();  // kills a server still running
    ForkedServer(const ForkedServer&) = delete;
    ForkedServer& operator=(const ForkedServer&) = delete;

    // Forks the server on the settings key and waits until it serves. Each
    // reply is held back for a random 0 to `max_delay_us` microseconds.
    bool Start(uint32_t max_delay_us = 0, uint64_t seed = 1);
    // Stops the server and collects its tally; false when it did not end
    // cleanly.
    bool Stop(traffic::ServerTally* tally);
    int queue_id() const { return queue_id_; }

  private:
    pid_t pid_ = -1;
    int control_fd_ = -1;  // closed by Stop: the child stops serving
    int report_fd_ = -1;   // the child's "ready" and its tally
    int queue_id_ = -1;
};

}  // namespace robustness
