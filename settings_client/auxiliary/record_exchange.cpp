// SettingsRecordExchange: carries one 136-byte SettingsRecord (kind, length,
// 128 data bytes) through the client's payload slot and hands the data of
// the settings server's answer back to the caller.
//
// The record lives in the call's own frame and is cleared first, so no stale
// stack bytes reach the shared segment. The request always sends the whole
// record (length 136); the answer's kind is dropped, and its length says how
// many of its data bytes form the answer.
//
// What is refused with -1, leaving `buffer` exactly as it was:
// - a caller length outside 0 to 128 or a null buffer (nothing is sent);
// - no reply (the exchange failed; see client/request_exchange.h);
// - a reply length below 0 or above 136 (nothing is copied into the record),
//   or from 1 to 7, which leaves the answer's length half written;
// - an answer length outside 0 to 128.
// A reply of length 0 carries no payload: the record stays as it was built,
// so the caller gets its own data back and its own length as the result.
#include <cstddef>
#include <cstring>

#include "client/request_exchange.h"
#include "settings_client/settings_client.h"

namespace settings_client {
namespace {

constexpr int32_t kRecordSize = sizeof(SettingsRecord);
constexpr int32_t kRecordHeaderSize = offsetof(SettingsRecord, data);
constexpr int32_t kRecordDataSize = sizeof(SettingsRecord::data);

static_assert(kRecordSize == 136 && kRecordHeaderSize == 8 && kRecordDataSize == 128,
              "the record travels as 136 bytes: kind, length, 128 data bytes");

// The reply's payload is copied back over the record only when it fits in
// the record; a reply of any other length copies nothing.
int32_t ReplyFittingTheRecord(int32_t /*caller_length*/, int32_t reply_length) {
    return reply_length >= 0 && reply_length <= kRecordSize ? reply_length : 0;
}

bool ValidDataLength(int32_t length) { return length >= 0 && length <= kRecordDataSize; }

}  // namespace
}  // namespace settings_client

extern "C" int32_t SettingsRecordExchange(int32_t command, int32_t kind, void* buffer,
                                          int32_t length) {
    using namespace settings_client;

    if (buffer == nullptr || !ValidDataLength(length)) return -1;

    SettingsRecord record{};
    record.kind = kind;
    record.length = length;
    std::memcpy(record.data, buffer, static_cast<size_t>(length));

    const ExchangeCall call{command, true, &record, kRecordSize, &record, ReplyFittingTheRecord};
    int32_t reply_length = 0;
    if (!RunExchange(call, &reply_length)) return -1;
    if (reply_length < 0 || reply_length > kRecordSize) return -1;
    if (reply_length > 0 && reply_length < kRecordHeaderSize) return -1;

    const int32_t answer_length = record.length;
    if (!ValidDataLength(answer_length)) return -1;
    std::memcpy(buffer, record.data, static_cast<size_t>(answer_length));
    return answer_length;
}
