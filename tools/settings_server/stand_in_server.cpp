// The stand-in settings server's serving thread: takes requests of type 1
// off the queue, records them with their outgoing payload, and answers each
// as the reply store and the test's plans say.
//
// Stop() wakes a thread blocked in msgrcv by sending it a stop message: a
// type-1 message of 16 text bytes (no client request has that size) carrying
// a marker and this server's token, so a stale stop message left in a queue
// by an earlier server is recognised and ignored.
#include "stand_in_server.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace stand_in {
namespace {

constexpr long kRequestType = 1;
constexpr int kRequestTextSize = 20;
constexpr int64_t kSlotSize = 12288;
constexpr char kStopMarker[8] = {'s', 't', 'a', 'n', 'd', '-', 'i', 'n'};

struct StopMessage {
    long mtype;
    char marker[8];
    uint64_t token;
};
constexpr size_t kStopTextSize = sizeof(kStopMarker) + sizeof(uint64_t);

// Room for any message a test may send; longer ones are cut (MSG_NOERROR).
struct IncomingMessage {
    long mtype;
    unsigned char text[8192];
};

struct ReplyMessage {
    long mtype;
    int32_t fields[6];  // command, source, reserved, length, offset, spare
};

uint64_t NewToken() {
    static std::atomic<uint64_t> counter{0};
    return (static_cast<uint64_t>(getpid()) << 32) ^ (++counter * 0x9E3779B97F4A7C15ull);
}

bool RegionInside(int64_t offset, int64_t count, int64_t size) {
    return offset >= 0 && count >= 0 && offset <= size && count <= size - offset;
}

int32_t ReadField(const IncomingMessage& message, ssize_t size, int index) {
    int32_t value = 0;
    if (size >= (index + 1) * 4) std::memcpy(&value, message.text + index * 4, sizeof value);
    return value;
}

}  // namespace

StandInServer::~StandInServer() { Stop(); }

bool StandInServer::Start(int key, int32_t segment_size) {
    if (thread_.joinable() || segment_size <= 0) return false;
    int queue = msgget(key, IPC_CREAT | 0666);
    if (queue < 0) return false;
    int segment = shmget(key, static_cast<size_t>(segment_size), IPC_CREAT | 0660);
    if (segment < 0) segment = shmget(key, 0, 0);  // a smaller one already there
    if (segment < 0) return false;
    shmid_ds status{};
    if (shmctl(segment, IPC_STAT, &status) != 0) return false;

    queue_id_ = queue;
    segment_id_ = segment;
    segment_size_ = static_cast<int64_t>(status.shm_segsz);
    stop_token_ = NewToken();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = false;
    }
    serving_ = true;
    thread_ = std::thread([this] {
        Serve();
        serving_ = false;
    });
    return true;
}

void StandInServer::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // Wake a receive in progress. When the queue is gone the thread has
    // already left its loop (or will, on its next receive). A full queue is
    // retried for as long as the thread still serves.
    StopMessage stop{kRequestType, {}, stop_token_};
    std::memcpy(stop.marker, kStopMarker, sizeof kStopMarker);
    while (serving_.load()) {
        if (msgsnd(queue_id_, &stop, kStopTextSize, IPC_NOWAIT) == 0) break;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
}

void StandInServer::SetReply(int32_t command, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    replies_[command] = std::move(bytes);
}

void StandInServer::PushPlan(ReplyPlan plan) {
    std::lock_guard<std::mutex> guard(mutex_);
    plans_.push_back(std::move(plan));
}

void StandInServer::SetDefaultPlan(ReplyPlan plan) {
    std::lock_guard<std::mutex> guard(mutex_);
    default_plan_ = std::move(plan);
}

void StandInServer::Release() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++releases_;
    }
    changed_.notify_all();
}

void StandInServer::SetObserver(std::function<void(const RecordedRequest&)> observer) {
    std::lock_guard<std::mutex> guard(mutex_);
    observer_ = std::move(observer);
}

std::vector<RecordedRequest> StandInServer::Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

bool StandInServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] { return requests_.size() >= count; });
}

size_t StandInServer::Handled() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return handled_;
}

bool StandInServer::WaitForHandled(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] { return handled_ >= count; });
}

bool StandInServer::WriteSegment(int64_t offset, const void* bytes, size_t count) {
    if (!RegionInside(offset, static_cast<int64_t>(count), segment_size_)) return false;
    void* base = shmat(segment_id_, nullptr, 0);
    if (base == reinterpret_cast<void*>(-1)) return false;
    if (count > 0) std::memcpy(static_cast<char*>(base) + offset, bytes, count);
    shmdt(base);
    return true;
}

bool StandInServer::ReadSegment(int64_t offset, void* bytes, size_t count) const {
    if (!RegionInside(offset, static_cast<int64_t>(count), segment_size_)) return false;
    void* base = shmat(segment_id_, nullptr, SHM_RDONLY);
    if (base == reinterpret_cast<void*>(-1)) return false;
    if (count > 0) std::memcpy(bytes, static_cast<const char*>(base) + offset, count);
    shmdt(base);
    return true;
}

void StandInServer::Serve() {
    IncomingMessage message;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (stopping_) return;
        }
        ssize_t size = msgrcv(queue_id_, &message, sizeof message.text, kRequestType, MSG_NOERROR);
        if (size < 0) {
            if (errno == EINTR) continue;
            return;  // the queue was removed
        }
        if (static_cast<size_t>(size) == kStopTextSize &&
            std::memcmp(message.text, kStopMarker, sizeof kStopMarker) == 0) {
            uint64_t token = 0;
            std::memcpy(&token, message.text + sizeof kStopMarker, sizeof token);
            if (token == stop_token_) return;
            continue;  // left behind by an earlier server
        }

        RecordedRequest request;
        request.mtype = message.mtype;
        request.command = ReadField(message, size, 0);
        request.source = ReadField(message, size, 1);
        request.reserved = ReadField(message, size, 2);
        request.length = ReadField(message, size, 3);
        request.offset = ReadField(message, size, 4);
        request.text_size = static_cast<int>(size);
        // The outgoing payload must be read before the reply: once the client
        // has its reply it may overwrite its slot.
        if (request.length > 0 && RegionInside(request.offset, request.length, segment_size_)) {
            request.payload.resize(static_cast<size_t>(request.length));
            ReadSegment(request.offset, request.payload.data(), request.payload.size());
        }

        ReplyPlan plan;
        std::function<void(const RecordedRequest&)> observer;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!plans_.empty()) {
                plan = std::move(plans_.front());
                plans_.erase(plans_.begin());
            } else if (default_plan_) {
                plan = *default_plan_;
            }
            requests_.push_back(request);
            observer = observer_;
        }
        changed_.notify_all();
        if (observer) observer(request);

        Answer(request, plan);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++handled_;
        }
        changed_.notify_all();
    }
}

bool StandInServer::Delay(std::chrono::milliseconds delay, bool hold) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (delay.count() > 0) {
        changed_.wait_for(guard, delay, [&] { return stopping_; });
    }
    if (hold) {
        changed_.wait(guard, [&] { return stopping_ || releases_ > 0; });
        if (!stopping_) --releases_;
    }
    return !stopping_;
}

void StandInServer::Answer(const RecordedRequest& request, const ReplyPlan& plan) {
    if ((plan.delay.count() > 0 || plan.hold) && !Delay(plan.delay, plan.hold)) return;
    if (plan.fault == Fault::kNoReply) return;
    if (plan.fault == Fault::kRemoveQueue) {
        msgctl(queue_id_, IPC_RMID, nullptr);
        return;
    }

    int32_t length = request.length;
    int32_t offset = request.offset;
    std::optional<std::vector<uint8_t>> bytes = plan.payload;
    if (!bytes) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = replies_.find(request.command);
        if (found != replies_.end()) bytes = found->second;
    }
    if (bytes) {
        int64_t at =
            plan.payload_at.value_or((static_cast<int64_t>(request.source) - 2) * kSlotSize);
        if (!plan.payload_at &&
            !RegionInside(at, static_cast<int64_t>(bytes->size()), segment_size_)) {
            at = 0;
        }
        WriteSegment(at, bytes->data(), bytes->size());
        length = static_cast<int32_t>(bytes->size());
        offset = static_cast<int32_t>(at);
    }
    if (plan.length) length = *plan.length;
    if (plan.offset) offset = *plan.offset;

    long type = plan.fault == Fault::kWrongType ? plan.wrong_type : request.source;
    if (type <= 0) return;  // a notification: nobody waits for a reply

    ReplyMessage reply{type, {request.command, request.source, 0, length, offset, 0}};
    size_t text_size = kRequestTextSize;
    if (plan.fault == Fault::kOversizedReply) text_size = 24;
    if (plan.fault == Fault::kShortReply) text_size = 12;
    while (msgsnd(queue_id_, &reply, text_size, 0) != 0 && errno == EINTR) {
    }
}

}  // namespace stand_in
