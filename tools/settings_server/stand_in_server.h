// Stand-in settings server: the device's settings server as the settings
// client expects it, for tests, benchmarks and the demo. It opens or creates
// the queue (0666) and the segment (110,592 bytes, 0660) under a key, takes
// messages of type 1, records every request (all six fields and the outgoing
// payload bytes found at `offset`, read before replying) and answers with
// message type = `source`.
//
// By default a command found in the reply store is answered with its bytes,
// placed in the requesting client's slot (or at offset 0 when that slot is
// outside the segment), length = their count, offset = where they lie. A
// command not in the store is answered with the request's own length and
// offset (an acknowledged write; an exchange gets its own bytes back). A
// request with `source` 0 or below (a notification) gets no reply.
//
// Tests steer single replies through a FIFO of ReplyPlans: numbered
// misbehaviours, reply length and offset of the test's choosing, payload
// bytes placed anywhere, and a delay before replying.
//
// Runs as a thread inside the test process (StandInServer) or in its own
// process (the settings-server program, started by StandInProcess). Test
// support code: it may allocate and use the C++ library freely.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace stand_in {

inline constexpr int32_t kDefaultSegmentSize = 110592;
inline constexpr int kDefaultKey = 0x36F9;

// One request as the server took it off the queue.
struct RecordedRequest {
    long mtype = 0;
    int32_t command = 0;
    int32_t source = 0;
    int32_t reserved = 0;
    int32_t length = 0;
    int32_t offset = 0;
    int text_size = 0;             // text bytes the receive returned
    std::vector<uint8_t> payload;  // `length` bytes at `offset`, when inside the segment
};

// Numbered ways to misbehave on purpose.
enum class Fault : int {
    kNone = 0,            // a well-formed 20-byte reply
    kNoReply = 1,         // take the request, answer nothing
    kOversizedReply = 2,  // a reply of 24 text bytes
    kShortReply = 3,      // a reply of 12 text bytes
    kWrongType = 4,       // a well-formed reply to message type `wrong_type`
    kRemoveQueue = 5,     // remove the queue instead of replying
};

// How to answer one request. Unset fields take the default behaviour above.
struct ReplyPlan {
    Fault fault = Fault::kNone;
    std::optional<int32_t> length;                // reply length R
    std::optional<int32_t> offset;                // reply offset O
    std::optional<std::vector<uint8_t>> payload;  // bytes to place before replying
    std::optional<int64_t> payload_at;  // where to place them (default: the client's slot)
    std::chrono::milliseconds delay{0};
    long wrong_type = 99;  // message type for Fault::kWrongType
    // Hold the reply until the test calls Release() (after any delay), so a
    // test can act while the client is known to be waiting.
    bool hold = false;
};

class StandInServer {
  public:
    StandInServer() = default;
    ~StandInServer();
    StandInServer(const StandInServer&) = delete;
    StandInServer& operator=(const StandInServer&) = delete;

    // Opens or creates queue and segment under `key` (segment of
    // `segment_size` bytes when it has to be created; a smaller segment
    // already under the key is used as it is) and starts serving on a
    // thread. Returns false when the queue or segment cannot be had, or when
    // the server is already running.
    bool Start(int key = kDefaultKey, int32_t segment_size = kDefaultSegmentSize);
    // Stops the thread, also one blocked in a receive or waiting out a
    // delay; leaves queue and segment in place. Safe to call twice.
    void Stop();

    // Default answer for a command: these bytes, at the client's slot.
    void SetReply(int32_t command, std::vector<uint8_t> bytes);
    // Plans for the next requests, taken in order, one per request.
    void PushPlan(ReplyPlan plan);
    // Plan for every request that finds no pushed plan (default: none).
    void SetDefaultPlan(ReplyPlan plan);
    // Lets one held reply (ReplyPlan::hold) go out, now or when it comes.
    void Release();
    // Called on the server thread with every request once it is recorded.
    void SetObserver(std::function<void(const RecordedRequest&)> observer);

    // Requests received so far (a copy).
    std::vector<RecordedRequest> Requests() const;
    // Waits until at least `count` requests arrived or `timeout` passed.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    // Number of requests answered (or deliberately left unanswered) so far:
    // a request counts once its plan has been carried out in full.
    size_t Handled() const;
    bool WaitForHandled(size_t count, std::chrono::milliseconds timeout) const;

    int queue_id() const { return queue_id_; }
    int segment_id() const { return segment_id_; }
    int64_t segment_size() const { return segment_size_; }
    // Raw access to the segment, for tests that place or inspect bytes.
    // False (and nothing copied) when the region is not inside the segment.
    bool WriteSegment(int64_t offset, const void* bytes, size_t count);
    bool ReadSegment(int64_t offset, void* bytes, size_t count) const;

  private:
    void Serve();
    void Answer(const RecordedRequest& request, const ReplyPlan& plan);
    // Waits out a delay and a hold; false when Stop() came first.
    bool Delay(std::chrono::milliseconds delay, bool hold);

    int queue_id_ = -1;
    int segment_id_ = -1;
    int64_t segment_size_ = 0;
    uint64_t stop_token_ = 0;
    std::thread thread_;
    std::atomic<bool> serving_{false};
    bool stopping_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<int32_t, std::vector<uint8_t>> replies_;
    std::vector<ReplyPlan> plans_;
    std::optional<ReplyPlan> default_plan_;
    std::vector<RecordedRequest> requests_;
    size_t handled_ = 0;
    size_t releases_ = 0;
    std::function<void(const RecordedRequest&)> observer_;
};

// The settings-server program run as a child process, for tests that need
// the server in a process of its own. The child inherits the caller's IPC
// namespace.
class StandInProcess {
  public:
    StandInProcess() = default;
    ~StandInProcess();
    StandInProcess(const StandInProcess&) = delete;
    StandInProcess& operator=(const StandInProcess&) = delete;

    // Starts `program` (default: the settings-server built with this
    // library, through the build's emulator in a cross build) with
    // `arguments` and waits until it reports "ready". Returns
    // false when it could not be started or did not become ready in time.
    bool Start(const std::vector<std::string>& arguments,
               std::chrono::milliseconds timeout = std::chrono::seconds(10),
               const std::string& program = "");
    // Sends SIGTERM and waits for the child; returns its wait status, or -1
    // when no child runs.
    int Stop();
    pid_t pid() const { return pid_; }

    // Path of the settings-server program built with this library.
    static std::string ProgramPath();

  private:
    pid_t pid_ = -1;
    int output_fd_ = -1;  // the child's standard output
};

}  // namespace stand_in
