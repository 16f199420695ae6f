// Both sides of the self-checking request traffic; see traffic.h.
#include "traffic.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "settings_client/settings_client.h"

namespace traffic {
namespace {

constexpr int32_t kExchangeBase = 2000;
constexpr int32_t kWriteBase = 3000;
constexpr int32_t kReadBase = 4000;
constexpr int32_t kRecordBase = 5000;
constexpr int32_t kCommandsPerKind = 64;
constexpr int32_t kRecordCommands = 16;
constexpr int32_t kSlotSize = 12288;
constexpr size_t kOriginSize = 12;
constexpr size_t kRecordSize = sizeof(SettingsRecord);
constexpr size_t kRecordData = sizeof(SettingsRecord::data);
// The caller's buffer: a whole slot and a tail that no request may touch.
constexpr size_t kRoom = kSlotSize + 64;

uint64_t SplitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t Hash(const Origin& origin) {
    return SplitMix(static_cast<uint64_t>(origin.client) << 48 ^
                    static_cast<uint64_t>(origin.thread) << 32 ^ origin.sequence);
}

uint8_t OriginByte(const Origin& origin, size_t index) {
    return static_cast<uint8_t>(Hash(origin) >> (index % 7 * 8) ^ index * 131);
}

// The server's answer to byte `index` of a payload.
uint8_t Transform(uint8_t byte, int32_t source, int32_t command, size_t index) {
    return static_cast<uint8_t>(byte ^
                                (source * 31 + command * 7 + static_cast<int>(index) * 13 + 0x5A));
}

uint8_t Sentinel(size_t index) { return static_cast<uint8_t>(0xA5 ^ index * 7); }

int64_t SlotOf(int32_t source) { return (static_cast<int64_t>(source) - 2) * kSlotSize; }

std::vector<uint8_t> Payload(const Origin& origin, size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = OriginByte(origin, i);
    const uint32_t header[3] = {origin.client, origin.thread, origin.sequence};
    if (length > 0) std::memcpy(bytes.data(), header, std::min(length, kOriginSize));
    return bytes;
}

size_t PayloadLength(const Origin& origin) {
    if (origin.sequence % 50 == 49) return kSlotSize;  // now and then a full slot
    return kOriginSize + Hash(origin) % 2048;
}

int32_t RecordKind(const Origin& origin) {
    return static_cast<int32_t>(origin.client * 1000 + origin.thread);
}

bool InRange(int32_t command, int32_t base, int32_t count) {
    return command >= base && command < base + count;
}

// Checks an exchange or write request against the origin written in its
// payload; answers an exchange by transforming the payload in place.
bool ServePayload(stand_in::StandInServer* server, const stand_in::RecordedRequest& request,
                  bool exchange) {
    const auto& payload = request.payload;
    if (request.offset != SlotOf(request.source) || request.length < 0 ||
        payload.size() != static_cast<size_t>(request.length) || payload.size() < kOriginSize) {
        return false;
    }
    uint32_t header[3];
    std::memcpy(header, payload.data(), sizeof header);
    const Origin origin{header[0], header[1], header[2]};
    const Request expected = MakeRequest(origin, exchange ? 0 : 2);
    if (origin.client != static_cast<uint32_t>(request.source) ||
        expected.command != request.command || expected.payload != payload) {
        return false;
    }
    if (exchange) {
        std::vector<uint8_t> answer(payload.size());
        for (size_t i = 0; i < answer.size(); ++i) {
            answer[i] = Transform(payload[i], request.source, request.command, i);
        }
        server->WriteSegment(request.offset, answer.data(), answer.size());
    }
    return true;
}

// Answers a record exchange with a record of the request's data transformed.
bool ServeRecord(stand_in::StandInServer* server, const stand_in::RecordedRequest& request) {
    if (request.offset != SlotOf(request.source) || request.payload.size() != kRecordSize) {
        return false;
    }
    SettingsRecord record;
    std::memcpy(&record, request.payload.data(), sizeof record);
    if (record.kind / 1000 != request.source || record.length < 0 ||
        record.length > static_cast<int32_t>(kRecordData)) {
        return false;
    }
    SettingsRecord answer{};
    answer.kind = 0x7E7E7E7E;  // never handed to the caller
    answer.length = record.length;
    for (int32_t i = 0; i < record.length; ++i) {
        answer.data[i] = Transform(record.data[i], request.source, request.command, i);
    }
    server->WriteSegment(request.offset, &answer, sizeof answer);
    return true;
}

}  // namespace

int32_t ReadCommand(uint32_t client, uint32_t thread) {
    return kReadBase + static_cast<int32_t>(client * 16 + thread % 16);
}

std::vector<uint8_t> ReadReply(int32_t command) {
    const Origin origin{static_cast<uint32_t>(command), 0xFFFF, 0};
    return Payload(origin, 24 + static_cast<size_t>(command) % 200);
}

Request MakeRequest(const Origin& origin, uint32_t kind_choice) {
    Request request;
    request.origin = origin;
    request.kind = static_cast<Kind>(kind_choice % 4);
    switch (request.kind) {
        case Kind::kExchange:
            request.command =
                kExchangeBase + static_cast<int32_t>(origin.sequence % kCommandsPerKind);
            request.payload = Payload(origin, PayloadLength(origin));
            break;
        case Kind::kWrite:
            request.command = kWriteBase + static_cast<int32_t>(origin.sequence % kCommandsPerKind);
            request.payload = Payload(origin, PayloadLength(origin));
            break;
        case Kind::kRecord:
            request.command = kRecordBase + static_cast<int32_t>(origin.sequence % kRecordCommands);
            request.payload = Payload(origin, Hash(origin) % (kRecordData + 1));
            break;
        case Kind::kRead:
            request.command = ReadCommand(origin.client, origin.thread);
            break;
    }
    return request;
}

void ServeTraffic(stand_in::StandInServer* server, ServerTally* tally, uint32_t max_delay_us,
                  uint64_t seed) {
    for (uint32_t client = 2; client <= 13; ++client) {
        for (uint32_t thread = 0; thread < 16; ++thread) {
            const int32_t command = ReadCommand(client, thread);
            server->SetReply(command, ReadReply(command));
        }
    }
    server->SetObserver([server, tally, max_delay_us,
                         state = seed](const stand_in::RecordedRequest& request) mutable {
        ++tally->requests;
        bool good = false;
        if (InRange(request.command, kExchangeBase, kCommandsPerKind)) {
            good = ServePayload(server, request, true);
        } else if (InRange(request.command, kWriteBase, kCommandsPerKind)) {
            good = ServePayload(server, request, false);
        } else if (InRange(request.command, kRecordBase, kRecordCommands)) {
            good = ServeRecord(server, request);
        } else if (InRange(request.command, kReadBase, 16 * 14)) {
            good = request.length == 0 && request.offset == 0 &&
                   (request.command - kReadBase) / 16 == request.source;
        }
        if (!good) ++tally->bad;
        if (max_delay_us > 0) {
            state = SplitMix(state);
            std::this_thread::sleep_for(std::chrono::microseconds(state % (max_delay_us + 1)));
        }
    });
}

int32_t ExpectedResult(const Request& request) {
    switch (request.kind) {
        case Kind::kExchange:
        case Kind::kWrite:
        case Kind::kRecord:
            return static_cast<int32_t>(request.payload.size());
        case Kind::kRead:
            return static_cast<int32_t>(ReadReply(request.command).size());
    }
    return -1;
}

Outcome RunRequest(const Request& request) {
    std::vector<uint8_t> buffer(kRoom);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = Sentinel(i);
    std::copy(request.payload.begin(), request.payload.end(), buffer.begin());
    const std::vector<uint8_t> before = buffer;
    std::vector<uint8_t> expected = before;

    const auto length = static_cast<int32_t>(request.payload.size());
    Outcome outcome;
    switch (request.kind) {
        case Kind::kExchange:
            outcome.result = SettingsExchange(buffer.data(), length, request.command);
            for (size_t i = 0; i < request.payload.size(); ++i) {
                expected[i] =
                    Transform(request.payload[i], static_cast<int32_t>(request.origin.client),
                              request.command, i);
            }
            break;
        case Kind::kWrite:
            outcome.result = SettingsWrite(buffer.data(), length, request.command);
            break;
        case Kind::kRecord:
            outcome.result = SettingsRecordExchange(request.command, RecordKind(request.origin),
                                                    buffer.data(), length);
            for (size_t i = 0; i < request.payload.size(); ++i) {
                expected[i] =
                    Transform(request.payload[i], static_cast<int32_t>(request.origin.client),
                              request.command, i);
            }
            break;
        case Kind::kRead: {
            const std::vector<uint8_t> reply = ReadReply(request.command);
            outcome.result =
                SettingsRead(buffer.data(), static_cast<int32_t>(reply.size()), request.command);
            std::copy(reply.begin(), reply.end(), expected.begin());
            break;
        }
    }
    outcome.buffer_as_expected = buffer == expected;
    outcome.buffer_untouched = buffer == before;
    return outcome;
}

bool Answered(const Request& request, const Outcome& outcome) {
    return outcome.result == ExpectedResult(request) && outcome.buffer_as_expected;
}

ClientTally RunClient(uint32_t client, uint32_t thread, uint32_t count, uint64_t seed) {
    ClientTally tally;
    uint64_t state = SplitMix(seed ^ (static_cast<uint64_t>(client) << 40) ^ thread);
    for (uint32_t sequence = 0; sequence < count; ++sequence) {
        state = SplitMix(state);
        const Request request =
            MakeRequest(Origin{client, thread, sequence}, static_cast<uint32_t>(state));
        ++tally.requests;
        if (!Answered(request, RunRequest(request))) ++tally.mismatches;
    }
    return tally;
}

}  // namespace traffic
