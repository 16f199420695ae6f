// Request traffic whose every byte says who asked what, for the concurrency,
// signal and fault campaigns.
//
// A request comes from an origin (client id, thread, sequence number). Its
// outgoing payload starts with the origin and continues with bytes derived
// from it; its command is derived from it as well. The server side
// (ServeTraffic, installed as the stand-in server's observer) checks each
// request against its origin and answers it with bytes derived from the
// request's source, command and payload, written into the segment where the
// reply points:
// - exchange (commands 2000-2063): the payload transformed in place; the
//   reply names the client's slot and the payload's length;
// - record exchange (5000-5015): a record whose data are the request's data
//   transformed, with the request's data length;
// - write (3000-3063): nothing; the reply acknowledges the length;
// - read (4000 + 16 * client id + thread): fixed bytes of that command, which
//   only this client thread asks for.
// The client side (RunRequest) makes one such request through the public
// interface and checks the result and every byte of the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stand_in_server.h"

namespace traffic {

struct Origin {
    uint32_t client = 0;
    uint32_t thread = 0;
    uint32_t sequence = 0;
};

enum class Kind : uint8_t { kExchange, kRecord, kWrite, kRead };

// The kind, command and outgoing bytes of the request of `origin`.
struct Request {
    Origin origin;
    Kind kind = Kind::kExchange;
    int32_t command = 0;
    std::vector<uint8_t> payload;  // exchange, write: the payload; record: its data
};

// `kind_choice` picks the kind of request (any value; it is taken modulo the
// kinds), so that callers can draw it from their own generator.
Request MakeRequest(const Origin& origin, uint32_t kind_choice);

// Reply bytes the server holds for a read command.
std::vector<uint8_t> ReadReply(int32_t command);
int32_t ReadCommand(uint32_t client, uint32_t thread);

// Server side: stores the read replies of clients 2 to 13, threads 0 to 15,
// and installs the observer that checks and answers every request, and then
// holds the reply back for a random 0 to `max_delay_us` microseconds. The
// tally is written on the server's thread: read it once the server stopped.
struct ServerTally {
    uint64_t requests = 0;
    uint64_t bad = 0;  // requests that did not match their origin
};
void ServeTraffic(stand_in::StandInServer* server, ServerTally* tally, uint32_t max_delay_us = 0,
                  uint64_t seed = 1);

// The result RunRequest expects from a well-behaved server when the request
// is not refused; -1 is what every refused or failed request gives.
int32_t ExpectedResult(const Request& request);

// Client side: makes the request (the client is initialised) and checks it.
struct Outcome {
    int32_t result = 0;
    bool buffer_as_expected = false;  // the caller's bytes after the call
    bool buffer_untouched = false;    // the caller's bytes equal what went in
};
Outcome RunRequest(const Request& request);
// True when the outcome is the correct answer to the request.
bool Answered(const Request& request, const Outcome& outcome);

// Runs `count` requests of (client, thread) with kinds drawn from `seed`;
// counts those not answered correctly.
struct ClientTally {
    uint64_t requests = 0;
    uint64_t mismatches = 0;
};
ClientTally RunClient(uint32_t client, uint32_t thread, uint32_t count, uint64_t seed);

}  // namespace traffic
