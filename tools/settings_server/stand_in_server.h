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
// offset (an acknowledged write; an exchange gets its own bytes back).
//
// Tests steer single replies through a FIFO of ReplyPlans: numbered
// misbehaviours, reply length and offset of the test's choosing, payload
// bytes placed anywhere, and a delay before replying.
//
// Runs as a thread inside the test process (Start/Stop) or in its own
// process (the settings-server program). Test support code: it may allocate
// and use the C++ library freely.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace stand_in {

inline constexpr int32_t kDefaultSegmentSize = 110592;

// One request as the server took it off the queue.
struct RecordedRequest {
    long mtype = 0;
    int32_t command = 0;
    int32_t source = 0;
    int32_t reserved = 0;
    int32_t length = 0;
    int32_t offset = 0;
    int text_size = 0;                 // text bytes the receive returned
    std::vector<uint8_t> payload;      // `length` bytes at `offset`, when inside the segment
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
    std::optional<int32_t> length;     // reply length R
    std::optional<int32_t> offset;     // reply offset O
    std::optional<std::vector<uint8_t>> payload;  // bytes to place before replying
    std::optional<int64_t> payload_at; // where to place them (default: the client's slot)
    std::chrono::milliseconds delay{0};
    long wrong_type = 99;              // message type for Fault::kWrongType
};

class StandInServer {
public:
    StandInServer() = default;
    ~StandInServer();
    StandInServer(const StandInServer&) = delete;
    StandInServer& operator=(const StandInServer&) = delete;

    // Opens or creates queue and segment under `key` (segment of
    // `segment_size` bytes when it has to be created) and starts serving on
    // a thread. Returns false when the queue or segment cannot be had.
    bool Start(int key = 0x36F9, int32_t segment_size = kDefaultSegmentSize);
    // Stops the thread; leaves queue and segment in place.
    void Stop();

    // Default answer for a command: these bytes, at the client's slot.
    void SetReply(int32_t command, std::vector<uint8_t> bytes);
    // Plans for the next requests, taken in order, one per request.
    void PushPlan(ReplyPlan plan);

    // Requests received so far (a copy).
    std::vector<RecordedRequest> Requests() const;
    // Waits until at least `count` requests arrived or `timeout` passed.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    int queue_id() const { return queue_id_; }
    int segment_id() const { return segment_id_; }
    // Raw access to the segment, for tests that place or inspect bytes.
    bool WriteSegment(int64_t offset, const void* bytes, size_t count);
    bool ReadSegment(int64_t offset, void* bytes, size_t count) const;

private:
    void Serve();
    void Answer(const RecordedRequest& request, const ReplyPlan& plan);

    int queue_id_ = -1;
    int segment_id_ = -1;
    int64_t segment_size_ = 0;
    std::thread thread_;
    bool stopping_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<int32_t, std::vector<uint8_t>> replies_;
    std::vector<ReplyPlan> plans_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace stand_in
