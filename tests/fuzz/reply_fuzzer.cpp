// Fuzz target: one request through the settings client's real request code
// (request shapes, field dispatcher, record exchange, request exchange,
// bounded segment copies), with the kernel replaced by the scripted
// in-memory calls of in_memory_kernel.h. One input fixes everything the
// client does not control, and what the caller passes:
//
//   client id, lock present or not, segment size,
//   entry (one of the nine shapes, a field id, or the record exchange),
//   command or field id, caller length L, record kind,
//   signals during the send / the receive, a failing send, failing attaches,
//   up to four messages waiting in the queue (type, text size, R, O),
//   and the byte patterns of the caller's buffer and of the segment.
//
// The outcome is predicted by a model written from the rules of the shapes
// and of the exchange, and compared byte for byte: the result, the message
// sent, every byte of the segment and every byte of the caller's buffer.
// The caller's buffer is a heap block of exactly the room the caller owns,
// and the segment one of exactly its size, so AddressSanitizer reports any
// copy that leaves either.
#include <pthread.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "client/client_state.h"
#include "fields/field_table.h"
#include "fields/request_shapes.h"
#include "in_memory_kernel.h"
#include "settings_client/settings_client.h"

namespace {

using settings_client::Shape;

constexpr int kQueueId = 11;
constexpr int kSegmentId = 22;
constexpr int64_t kFullSegment = 110592;
constexpr int64_t kSlot = 12288;
constexpr int32_t kRecordSize = 136;
constexpr int32_t kRecordData = 128;
// No legitimate copy is longer than the segment, so a caller's room is
// capped just above it: a copy past the cap is a fault.
constexpr int64_t kRoomCap = kFullSegment + 1;

constexpr uint32_t kClientIds[] = {0, 1,  2,  3,  4,  5,  6,          7,           8,
                                   9, 10, 11, 12, 13, 14, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
constexpr int32_t kBoundaryLengths[] = {
    0, 1, 8, 20, 128, 136, 256, 12287, 12288, 12289, 110592, -1, INT32_MAX, INT32_MIN, 110593};
constexpr uint32_t kFieldBlocks[][2] = {{0x0000, 0x42}, {0x1000, 0x163}, {0x2000, 0xA2}};

pthread_mutex_t client_lock = PTHREAD_MUTEX_INITIALIZER;

// Reads the input front to back; an exhausted input reads as zeros.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    int32_t I32() { return static_cast<int32_t>(U32()); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

enum class EntryKind { kShape, kField, kRecord };

struct Case {
    uint32_t client_id;
    bool has_lock;
    int64_t segment_size;
    EntryKind entry;
    Shape shape;        // kShape, and kField when the id is in the table
    bool field_known;   // kField
    uint32_t field_id;  // kField
    int32_t command;    // kShape, kRecord
    int32_t length;     // L
    int32_t kind;       // kRecord
    int send_interruptions;
    bool send_fails;
    int receive_interruptions;
    uint32_t attach_failures;
    std::vector<in_memory_kernel::Message> queue;
    uint8_t data_seed;
    uint8_t segment_seed;
};

bool RegionInside(int64_t offset, int64_t count, int64_t size) {
    return offset >= 0 && count >= 0 && offset <= size && count <= size - offset;
}

bool HasPayload(Shape shape) { return static_cast<int>(shape) >= static_cast<int>(Shape::kWrite); }

// Bytes copied back for the reply length R, as each shape's rule says.
int32_t CopyCount(Shape shape, int32_t caller_length, int32_t reply_length) {
    const int32_t clamped = caller_length >= reply_length ? reply_length : caller_length;
    switch (shape) {
        case Shape::kReadExact:
        case Shape::kReadExactKeepLength:
        case Shape::kExchangeExact:
            return reply_length == caller_length ? caller_length : 0;
        case Shape::kReadClamped:
        case Shape::kReadClampedZero:
        case Shape::kExchangeClamped:
            return clamped;
        case Shape::kExchange:
        case Shape::kExchangeChecked:
            return reply_length;
        case Shape::kWrite:
            return 0;
    }
    return 0;
}

int32_t ShapeResult(Shape shape, int32_t caller_length, int32_t reply_length) {
    switch (shape) {
        case Shape::kReadExact:
        case Shape::kExchangeExact:
        case Shape::kExchangeChecked:
            return reply_length == caller_length ? 0 : -1;
        case Shape::kReadClamped:
            return caller_length >= reply_length ? reply_length : caller_length;
        case Shape::kReadClampedZero:
            return 0;
        case Shape::kReadExactKeepLength:
            return caller_length;
        case Shape::kWrite:
        case Shape::kExchange:
        case Shape::kExchangeClamped:
            return reply_length;
    }
    return -1;
}

int32_t PickLength(Reader& in) {
    const uint8_t mode = in.U8();
    const uint16_t small = in.U16();
    const int32_t raw = in.I32();
    switch (mode % 4) {
        case 0:
            return static_cast<int32_t>(small % 320) - 8;
        case 1:
            return static_cast<int32_t>(small % 13000);
        case 2:
            return raw;
        default:
            return kBoundaryLengths[small % std::size(kBoundaryLengths)];
    }
}

Case ReadCase(const uint8_t* data, size_t size) {
    Reader in(data, size);
    Case c{};
    c.client_id = kClientIds[in.U8() % std::size(kClientIds)];
    const uint8_t flags = in.U8();
    const uint32_t segment_raw = in.U32();
    c.has_lock = (flags & 1) == 0;
    switch ((flags >> 1) & 3) {
        case 1:
            c.segment_size = 1 + segment_raw % kFullSegment;
            break;
        case 2:
            c.segment_size = 0;  // no segment known
            break;
        default:
            c.segment_size = kFullSegment;
    }

    const uint8_t entry = in.U8() % 11;
    const uint32_t selector = in.U32();
    if (entry < 9) {
        c.entry = EntryKind::kShape;
        c.shape = static_cast<Shape>(entry);
        c.command = static_cast<int32_t>(selector);
    } else if (entry == 9) {
        c.entry = EntryKind::kField;
        if ((flags & 8) != 0) {
            const auto& block = kFieldBlocks[selector % 3];
            c.field_id = block[0] + (selector >> 2) % block[1];
        } else {
            c.field_id = selector;
        }
        settings_client::FieldRoute route{};
        c.field_known = settings_client::LookUpField(c.field_id, &route);
        c.shape = route.shape;
    } else {
        c.entry = EntryKind::kRecord;
        c.command = static_cast<int32_t>(selector);
    }
    c.length = PickLength(in);
    c.kind = in.I32();

    const uint8_t send = in.U8();
    c.send_interruptions = send & 3;
    c.send_fails = (send & 12) == 12;
    c.receive_interruptions = in.U8() % 4;
    const uint8_t attach = in.U8();
    c.attach_failures = (attach >> 6) == 3 ? attach & 3u : 0u;

    const int messages = in.U8() % 5;
    for (int i = 0; i < messages; ++i) {
        const uint8_t type_mode = in.U8();
        const uint8_t other = in.U8();
        const uint8_t size_mode = in.U8();
        const uint8_t value_mode = in.U8();
        const int32_t raw_length = in.I32();
        const uint32_t raw_offset = in.U32();
        in_memory_kernel::Message message;
        switch (type_mode % 4) {
            case 2:
                message.type = static_cast<long>(kClientIds[other % std::size(kClientIds)]);
                break;
            case 3:
                message.type = static_cast<int8_t>(other);
                break;
            default:
                message.type = static_cast<long>(c.client_id);
        }
        const int32_t reply_length =
            (value_mode & 1) != 0 ? static_cast<int16_t>(raw_length) : raw_length;
        const int32_t reply_offset =
            (value_mode & 2) != 0
                ? static_cast<int32_t>(raw_offset % static_cast<uint32_t>(c.segment_size + 32)) - 16
                : static_cast<int32_t>(raw_offset);
        const int32_t text[6] = {
            0x434D4400, static_cast<int32_t>(c.client_id), 0, reply_length, reply_offset,
            0x53504152};
        const size_t text_size = size_mode < 224 ? 20 : size_mode % 25;
        const auto* text_bytes = reinterpret_cast<const uint8_t*>(text);
        message.text.assign(text_bytes, text_bytes + text_size);
        c.queue.push_back(std::move(message));
    }
    c.data_seed = in.U8();
    c.segment_seed = in.U8();
    return c;
}

// What the request must do, worked out from the rules alone.
struct Prediction {
    bool sends = false;            // a request reaches the queue
    bool writes_outgoing = false;  // the outgoing payload lands in the slot
    int64_t slot = 0;
    int32_t outgoing_length = 0;
    bool reply_ok = false;  // a 20-byte reply of the client's type arrives
    int32_t reply_length = 0;
    int32_t reply_offset = 0;
    int32_t copy_count = 0;  // bytes copied from the reply offset
    bool copied = false;
    int32_t result = -1;
};

const in_memory_kernel::Message* ReplyFor(const Case& c) {
    for (const auto& message : c.queue) {
        if (message.type == static_cast<long>(c.client_id)) return &message;
    }
    return nullptr;
}

Prediction Predict(const Case& c) {
    Prediction p;
    const bool ready = c.has_lock && c.client_id >= 2 && c.client_id <= 0x7FFFFFFF;
    Shape shape = c.shape;
    bool payload = false;
    int32_t outgoing = 0;
    switch (c.entry) {
        case EntryKind::kShape:
        case EntryKind::kField:
            if (c.entry == EntryKind::kField && !c.field_known) return p;
            payload = HasPayload(shape);
            outgoing = c.length;
            break;
        case EntryKind::kRecord:
            if (c.length < 0 || c.length > kRecordData) return p;
            payload = true;
            outgoing = kRecordSize;
            break;
    }
    if (!ready) return p;
    p.slot = (static_cast<int64_t>(c.client_id) - 2) * kSlot;
    if (payload) {
        if (outgoing < 0 || outgoing > kSlot || !RegionInside(p.slot, outgoing, c.segment_size) ||
            p.slot >= c.segment_size) {
            return p;
        }
    }
    int attach = 0;
    if (payload) {
        if ((c.attach_failures & (1u << attach++)) != 0) return p;
        p.writes_outgoing = true;
        p.outgoing_length = outgoing;
    }
    if (c.send_fails) return p;
    p.sends = true;

    const in_memory_kernel::Message* reply = ReplyFor(c);
    if (reply == nullptr || reply->text.size() != 20) return p;
    std::memcpy(&p.reply_length, reply->text.data() + 12, 4);
    std::memcpy(&p.reply_offset, reply->text.data() + 16, 4);
    p.reply_ok = true;

    const int32_t r = p.reply_length;
    const int32_t count = c.entry == EntryKind::kRecord ? (r >= 0 && r <= kRecordSize ? r : 0)
                                                        : CopyCount(shape, c.length, r);
    if (count > 0) {
        if (!RegionInside(p.reply_offset, count, c.segment_size)) return p;
        if ((c.attach_failures & (1u << attach)) != 0) return p;
        p.copy_count = count;
        p.copied = true;
    }
    if (c.entry != EntryKind::kRecord) p.result = ShapeResult(shape, c.length, r);
    return p;
}

[[noreturn]] void Fail(const Case& c, const char* what) {
    std::fprintf(stderr,
                 "reply handling fault: %s (client %u, entry %d, shape %d, field 0x%x, L %d)\n",
                 what, c.client_id, static_cast<int>(c.entry), static_cast<int>(c.shape),
                 c.field_id, c.length);
    std::abort();
}

void Check(const Case& c, bool condition, const char* what) {
    if (!condition) Fail(c, what);
}

// Byte patterns in which every position of the segment and of the caller's
// buffer is told apart from its neighbours; a seed shifts them. Built once,
// since filling and comparing 110,592 bytes byte by byte would dominate
// every run.
struct Patterns {
    std::vector<uint8_t> segment;
    std::vector<uint8_t> data;
    Patterns() : segment(kFullSegment + 256), data(kRoomCap + 256) {
        for (size_t i = 0; i < segment.size(); ++i) {
            segment[i] = static_cast<uint8_t>(i * 151 + (i >> 8) * 7);
        }
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 29 + 3);
    }
};

const Patterns& BytePatterns() {
    static const Patterns patterns;
    return patterns;
}
const uint8_t* SegmentPattern(uint8_t seed) { return BytePatterns().segment.data() + seed; }
const uint8_t* DataPattern(uint8_t seed) { return BytePatterns().data.data() + seed; }

bool SameBytes(const uint8_t* a, const uint8_t* b, int64_t count) {
    return count <= 0 || std::memcmp(a, b, static_cast<size_t>(count)) == 0;
}

int32_t ReadInt(const uint8_t* bytes) {
    int32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Case c = ReadCase(data, size);
    const Prediction p = Predict(c);

    // The caller's room: L bytes (the record exchange: its 128 data bytes);
    // the Exchange and ExchangeChecked shapes promise room for the reply.
    int64_t room = std::max<int64_t>(c.length, 0);
    if (c.entry == EntryKind::kRecord) {
        room = kRecordData;
    } else if ((c.shape == Shape::kExchange || c.shape == Shape::kExchangeChecked) && p.reply_ok) {
        room = std::max<int64_t>(room, p.reply_length);
    }
    room = std::min(room, kRoomCap);

    const uint8_t* const segment_before = SegmentPattern(c.segment_seed);
    auto segment = std::make_unique<uint8_t[]>(static_cast<size_t>(c.segment_size));
    if (c.segment_size > 0) {
        std::memcpy(segment.get(), segment_before, static_cast<size_t>(c.segment_size));
    }
    auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(room));
    const std::vector<uint8_t> caller_before(DataPattern(c.data_seed),
                                             DataPattern(c.data_seed) + room);
    if (room > 0) std::memcpy(buffer.get(), caller_before.data(), static_cast<size_t>(room));

    in_memory_kernel::Script script;
    script.queue_id = kQueueId;
    script.segment_id = kSegmentId;
    script.segment = segment.get();
    script.send_interruptions = c.send_interruptions;
    script.send_fails = c.send_fails;
    script.receive_interruptions = c.receive_interruptions;
    script.attach_failures = c.attach_failures;
    script.queue.assign(c.queue.begin(), c.queue.end());
    in_memory_kernel::Begin(std::move(script), static_cast<long>(c.client_id));

    auto& state = settings_client::client_state;
    state.client_id = c.client_id;
    state.queue_id = kQueueId;
    state.client_lock = c.has_lock ? &client_lock : nullptr;
    state.segment_id = kSegmentId;
    state.segment_size = c.segment_size;

    int32_t result = 0;
    switch (c.entry) {
        case EntryKind::kShape:
            result = settings_client::RunShape(c.shape, c.command, buffer.get(), c.length);
            break;
        case EntryKind::kField:
            result = SettingsControl(c.field_id, buffer.get(), c.length);
            break;
        case EntryKind::kRecord:
            result = SettingsRecordExchange(c.command, c.kind, buffer.get(), c.length);
            break;
    }

    const in_memory_kernel::Trace& trace = in_memory_kernel::CurrentTrace();
    Check(c, !trace.wrong_queue && !trace.wrong_segment, "used another queue or segment");
    Check(c, !trace.wrong_text_size, "sent a text that is not 20 bytes");
    Check(c, !trace.bad_receive_type, "received a message type other than its client id");
    Check(c, !trace.bad_detach && trace.attached_now == 0, "left the segment attached");
    Check(c, pthread_mutex_trylock(&client_lock) == 0, "kept the client lock");
    pthread_mutex_unlock(&client_lock);

    // The request on the queue.
    Check(c, trace.sent.size() == (p.sends ? 1u : 0u), "number of requests sent");
    if (!p.sends) Check(c, trace.receive_calls == 0, "waited for a reply to nothing");
    if (p.sends) {
        const auto& sent = trace.sent[0];
        Check(c, sent.type == 1 && sent.text.size() == 20, "request type and size");
        const uint8_t* text = sent.text.data();
        if (c.entry != EntryKind::kField) Check(c, ReadInt(text) == c.command, "command");
        Check(c, ReadInt(text + 4) == static_cast<int32_t>(c.client_id), "source");
        Check(c, ReadInt(text + 8) == 0, "reserved");
        Check(c, ReadInt(text + 12) == p.outgoing_length, "request length");
        Check(c, ReadInt(text + 16) == (p.writes_outgoing ? p.slot : 0), "request offset");
    }

    // The segment: only the slot may change, and only to the outgoing bytes.
    std::vector<uint8_t> outgoing;
    if (p.writes_outgoing && c.entry == EntryKind::kRecord) {
        SettingsRecord record{};
        record.kind = c.kind;
        record.length = c.length;
        std::memcpy(record.data, caller_before.data(), static_cast<size_t>(c.length));
        const auto* raw = reinterpret_cast<const uint8_t*>(&record);
        outgoing.assign(raw, raw + sizeof record);
    } else if (p.writes_outgoing) {
        outgoing.assign(caller_before.begin(), caller_before.begin() + p.outgoing_length);
    }
    const auto written = static_cast<int64_t>(outgoing.size());
    const int64_t slot_start = written > 0 ? p.slot : c.segment_size;
    const int64_t slot_end = written > 0 ? p.slot + written : c.segment_size;
    Check(c,
          SameBytes(segment.get(), segment_before, slot_start) &&
              SameBytes(segment.get() + slot_end, segment_before + slot_end,
                        c.segment_size - slot_end),
          "segment bytes outside the outgoing payload changed");
    Check(c, SameBytes(segment.get() + slot_start, outgoing.data(), written),
          "outgoing payload in the slot");

    // The caller's buffer and the result.
    std::vector<uint8_t> expected_buffer = caller_before;
    int32_t expected_result = p.result;
    if (c.entry == EntryKind::kRecord) {
        expected_result = -1;
        const int32_t r = p.reply_length;
        const bool usable =
            p.reply_ok && r >= 0 && r <= kRecordSize && (r == 0 || r >= 8) && (r == 0 || p.copied);
        if (usable) {
            std::vector<uint8_t> record = outgoing;
            std::copy_n(segment.get() + p.reply_offset, p.copy_count, record.begin());
            const int32_t answer = ReadInt(record.data() + 4);
            if (answer >= 0 && answer <= kRecordData) {
                std::copy_n(record.begin() + 8, answer, expected_buffer.begin());
                expected_result = answer;
            }
        }
    } else if (p.copied) {
        std::copy_n(segment.get() + p.reply_offset, p.copy_count, expected_buffer.begin());
    }
    Check(c, result == expected_result, "result");
    Check(c, std::equal(expected_buffer.begin(), expected_buffer.end(), buffer.get()),
          "caller's buffer");
    return 0;
}
