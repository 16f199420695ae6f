// The request exchange that every request waiting for a reply performs: fill
// the record, take the client lock, copy the outgoing payload into the
// client's slot, send, receive the reply (repeating a receive cut short by a
// signal), copy the incoming payload, release the lock.
//
// The exchange itself refuses anything unsafe and reports it as "no reply":
// a client that is not Ready (no lock, client id below 2 or above INT32_MAX),
// an outgoing length below 0 or above the slot size, a slot that does not lie
// inside the segment, a failed send or receive, a reply that is not exactly
// 20 text bytes, and an incoming copy whose region lies outside the segment.
// In every such case nothing is copied into the caller's buffer.
#pragma once

#include <cstdint>

namespace settings_client {

// How many incoming bytes a request shape copies back, given the caller's
// length L and the reply's length R. Runs while the client lock is held. A
// count of 0 or less copies nothing.
using CopyRule = int32_t (*)(int32_t caller_length, int32_t reply_length);

struct ExchangeCall {
    int32_t command;
    // Outgoing payload: when has_payload is set, `length` bytes of `outgoing`
    // are copied into the client's slot and named by the request's length
    // and offset; otherwise the request sends length 0 and offset 0.
    bool has_payload;
    const void* outgoing;
    int32_t length;  // the caller's length L, also handed to copy_rule
    // Destination of the incoming payload; copy_rule may be null (no copy).
    void* incoming;
    CopyRule copy_rule;
};

// Runs one exchange. Returns true when a well-formed reply arrived and the
// copy its rule asked for was done; *reply_length then holds R. Returns false
// for no usable reply; then nothing was copied into `incoming` and
// *reply_length is left untouched.
bool RunExchange(const ExchangeCall& call, int32_t* reply_length);

}  // namespace settings_client
