// The request exchange shared by every request that waits for a reply.
//
// Beyond the bare protocol it guarantees three things a long-running device
// program relies on:
// - a signal never fails a request: a send or receive cut short by a signal
//   is repeated, so the reply is always taken by the request it answers and
//   never left behind for a later one;
// - a malformed reply (not exactly 20 text bytes) is taken off the queue and
//   fails only the request it answers;
// - no copy runs outside the segment or uses a negative count.
#include "client/request_exchange.h"

#include <sys/msg.h>

#include <cerrno>
#include <climits>

#include "client/client_state.h"
#include "client/protocol.h"
#include "ipc/kernel_calls.h"
#include "ipc/shared_segment.h"
#include "settings_client/settings_client.h"

namespace settings_client {
namespace {

// Receive buffer with room for a few text bytes more than a reply has, so
// that a longer message is taken whole (truncated by MSG_NOERROR) and seen
// to be too long, instead of blocking the queue.
struct ReplyBuffer {
    WireRequest record;
    char overflow[8];
};

bool SendRequest(int queue_id, const WireRequest& request) {
    for (;;) {
        if (kernel::Send(queue_id, &request, kRequestTextSize) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool ReceiveReply(int queue_id, long type, WireRequest* reply) {
    ReplyBuffer buffer;
    for (;;) {
        ssize_t received =
            kernel::Receive(queue_id, &buffer, sizeof buffer - sizeof(long), type, MSG_NOERROR);
        if (received == kRequestTextSize) {
            *reply = buffer.record;
            return true;
        }
        if (received >= 0 || errno != EINTR) return false;
    }
}

// The part of the exchange that runs under the client lock.
bool ExchangeLocked(const ExchangeCall& call, WireRequest* record, int32_t* reply_length) {
    const int queue_id = client_state.queue_id;
    if (call.has_payload && CopyToSegment(record->offset, call.outgoing, call.length) != 0) {
        return false;
    }
    if (!SendRequest(queue_id, *record)) return false;
    if (!ReceiveReply(queue_id, static_cast<long>(record->source), record)) return false;

    const int32_t count =
        call.copy_rule == nullptr ? 0 : call.copy_rule(call.length, record->length);
    if (count > 0 && CopyFromSegment(record->offset, call.incoming, count) != 0) return false;
    *reply_length = record->length;
    return true;
}

}  // namespace

bool RunExchange(const ExchangeCall& call, int32_t* reply_length) {
    const uint32_t client_id = client_state.client_id;
    pthread_mutex_t* const lock = client_state.client_lock;
    // Client id 0 would take any message, 1 would take requests, and ids
    // beyond INT32_MAX are no valid reply type: none of them is Ready.
    if (lock == nullptr || client_id < 2 || client_id > static_cast<uint32_t>(INT32_MAX)) {
        return false;
    }

    WireRequest record{};
    record.mtype = kServerMessageType;
    record.command = call.command;
    record.source = static_cast<int32_t>(client_id);
    record.reserved = 0;
    if (call.has_payload) {
        const int64_t slot = SlotOffset(client_id);
        if (call.length < 0 || call.length > kSlotSize ||
            !RegionInside(slot, call.length, client_state.segment_size) ||
            slot >= client_state.segment_size) {
            return false;
        }
        record.length = call.length;
        record.offset = static_cast<int32_t>(slot);
    }

    pthread_mutex_lock(lock);
    const bool replied = ExchangeLocked(call, &record, reply_length);
    pthread_mutex_unlock(lock);
    return replied;
}

}  // namespace settings_client
