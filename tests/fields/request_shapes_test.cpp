// The nine request shapes, each reached through a field of that shape: what
// goes out in length, offset and payload, which bytes of the caller's buffer
// the reply overwrites (the rest must keep their sentinel), and the result,
// for replies equal to, shorter and longer than the caller's length, empty,
// negative, and for no usable reply.
#include <optional>

#include "fields_fixture.h"

namespace fields_test {
namespace {

struct ShapeField {
    const char* shape;
    uint32_t field_id;
    int32_t command;
    bool sends_payload;
};

constexpr ShapeField kReadExact{"ReadExact", 0x0000, 0, false};
constexpr ShapeField kReadClamped{"ReadClamped", 0x0002, 3, false};
constexpr ShapeField kReadClampedZero{"ReadClampedZero", 0x000B, 13, false};
constexpr ShapeField kReadExactKeepLength{"ReadExactKeepLength", 0x0038, 147, false};
constexpr ShapeField kWrite{"Write", 0x0021, 16, true};
constexpr ShapeField kExchange{"Exchange", 0x003F, 45, true};
constexpr ShapeField kExchangeClamped{"ExchangeClamped", 0x003C, 42, true};
constexpr ShapeField kExchangeExact{"ExchangeExact", 0x2002, 425, true};
constexpr ShapeField kExchangeChecked{"ExchangeChecked", 0x2001, 424, true};

constexpr std::optional<int32_t> kNoReply = std::nullopt;

struct ShapeCase {
    ShapeField field;
    int32_t caller_length;
    std::optional<int32_t> reply_length;
    int32_t copied;  // leading bytes of data replaced by the reply's payload
    int32_t result;
};

// clang-format off
const ShapeCase kShapeCases[] = {
    // field                 L   R         copied result
    {kReadExact,             8,  8,        8,     0},
    {kReadExact,             8,  4,        0,     -1},
    {kReadExact,             8,  12,       0,     -1},
    {kReadExact,             8,  0,        0,     -1},
    {kReadExact,             8,  -3,       0,     -1},
    {kReadExact,             8,  kNoReply, 0,     -1},
    {kReadExact,             0,  0,        0,     0},
    {kReadExact,             -3, -3,       0,     0},

    {kReadClamped,           8,  8,        8,     8},
    {kReadClamped,           8,  4,        4,     4},
    {kReadClamped,           8,  12,       8,     8},
    {kReadClamped,           8,  0,        0,     0},
    {kReadClamped,           8,  -3,       0,     -3},
    {kReadClamped,           8,  kNoReply, 0,     -1},
    {kReadClamped,           0,  5,        0,     0},
    {kReadClamped,           0,  -4,       0,     -4},
    {kReadClamped,           -2, 5,        0,     -2},

    {kReadClampedZero,       8,  8,        8,     0},
    {kReadClampedZero,       16, 4,        4,     0},
    {kReadClampedZero,       8,  12,       8,     0},
    {kReadClampedZero,       8,  0,        0,     0},
    {kReadClampedZero,       8,  -5,       0,     0},
    {kReadClampedZero,       8,  kNoReply, 0,     -1},

    {kReadExactKeepLength,   16, 16,       16,    16},
    {kReadExactKeepLength,   16, 8,        0,     16},
    {kReadExactKeepLength,   16, 20,       0,     16},
    {kReadExactKeepLength,   16, 0,        0,     16},
    {kReadExactKeepLength,   16, -1,       0,     16},
    {kReadExactKeepLength,   16, kNoReply, 0,     -1},

    {kWrite,                 8,  8,        0,     8},
    {kWrite,                 8,  4,        0,     4},
    {kWrite,                 8,  12,       0,     12},
    {kWrite,                 8,  0,        0,     0},
    {kWrite,                 8,  -3,       0,     -3},
    {kWrite,                 8,  kNoReply, 0,     -1},
    {kWrite,                 0,  3,        0,     3},

    {kExchange,              8,  8,        8,     8},
    {kExchange,              8,  4,        4,     4},
    {kExchange,              8,  12,       12,    12},
    {kExchange,              8,  0,        0,     0},
    {kExchange,              8,  -3,       0,     -3},
    {kExchange,              8,  kNoReply, 0,     -1},

    {kExchangeClamped,       8,  8,        8,     8},
    {kExchangeClamped,       8,  4,        4,     4},
    {kExchangeClamped,       8,  20,       8,     20},
    {kExchangeClamped,       8,  0,        0,     0},
    {kExchangeClamped,       8,  -2,       0,     -2},
    {kExchangeClamped,       8,  kNoReply, 0,     -1},

    {kExchangeExact,         8,  8,        8,     0},
    {kExchangeExact,         8,  6,        0,     -1},
    {kExchangeExact,         8,  12,       0,     -1},
    {kExchangeExact,         8,  0,        0,     -1},
    {kExchangeExact,         8,  -3,       0,     -1},
    {kExchangeExact,         8,  kNoReply, 0,     -1},

    {kExchangeChecked,       8,  8,        8,     0},
    {kExchangeChecked,       8,  6,        6,     -1},
    {kExchangeChecked,       8,  12,       12,    -1},
    {kExchangeChecked,       8,  0,        0,     -1},
    {kExchangeChecked,       8,  -3,       0,     -1},
    {kExchangeChecked,       8,  kNoReply, 0,     -1},
};
// clang-format on

using RequestShapesTest = FieldsTest;

TEST_F(RequestShapesTest, SendCopyBackAndReturnAsTheShapeSays) {
    constexpr size_t kBufferSize = 32;
    const std::vector<uint8_t> reply_payload = Pattern(kBufferSize, 0xA0);

    for (const ShapeCase& c : kShapeCases) {
        SCOPED_TRACE(testing::Message()
                     << c.field.shape << " L=" << c.caller_length
                     << " R=" << (c.reply_length ? std::to_string(*c.reply_length) : "no reply"));
        // Payload shapes send the caller's first L bytes; the rest of the
        // buffer, and all of it for the read shapes, holds the sentinel.
        std::vector<uint8_t> data = Sentinel(kBufferSize);
        if (c.field.sends_payload && c.caller_length > 0) {
            const auto outgoing = Pattern(static_cast<size_t>(c.caller_length), 0x10);
            std::copy(outgoing.begin(), outgoing.end(), data.begin());
        }
        const std::vector<uint8_t> before = data;

        if (c.reply_length) {
            ReplyWith(*c.reply_length, reply_payload);
        } else {
            ReplyWithNothingUsable();
        }
        const size_t requests_before = RequestCount();
        EXPECT_EQ(SettingsControl(c.field.field_id, data.data(), c.caller_length), c.result);

        std::vector<uint8_t> expected = before;
        std::copy_n(reply_payload.begin(), c.copied, expected.begin());
        EXPECT_EQ(data, expected);

        ASSERT_EQ(RequestCount(), requests_before + 1);
        const stand_in::RecordedRequest request = LastRequest();
        EXPECT_EQ(request.mtype, 1);
        EXPECT_EQ(request.command, c.field.command);
        EXPECT_EQ(request.source, static_cast<int32_t>(kClientId));
        EXPECT_EQ(request.reserved, 0);
        if (c.field.sends_payload) {
            EXPECT_EQ(request.length, c.caller_length);
            EXPECT_EQ(request.offset, kClientSlot);
            EXPECT_EQ(request.payload,
                      std::vector<uint8_t>(before.begin(), before.begin() + c.caller_length));
        } else {
            EXPECT_EQ(request.length, 0);
            EXPECT_EQ(request.offset, 0);
        }
    }
}

// An outgoing length outside 0 to the slot size is refused before anything
// is sent or copied; the slot size itself is allowed.
TEST_F(RequestShapesTest, PayloadShapesRefuseLengthsOutsideTheSlot) {
    constexpr int32_t kSlotSize = 12288;
    const ShapeField payload_fields[] = {kWrite, kExchange, kExchangeClamped, kExchangeExact,
                                         kExchangeChecked};
    for (const ShapeField& field : payload_fields) {
        SCOPED_TRACE(field.shape);
        for (const int32_t length : {-1, kSlotSize + 1, INT32_MIN}) {
            SCOPED_TRACE(length);
            std::vector<uint8_t> data = Sentinel(kSlotSize + 64);
            const size_t requests_before = RequestCount();
            EXPECT_EQ(SettingsControl(field.field_id, data.data(), length), -1);
            EXPECT_EQ(RequestCount(), requests_before);
            EXPECT_EQ(data, Sentinel(kSlotSize + 64));
        }

        const std::vector<uint8_t> full = Pattern(kSlotSize, 0x33);
        std::vector<uint8_t> data = full;
        ReplyWith(0, {});
        SettingsControl(field.field_id, data.data(), kSlotSize);
        const stand_in::RecordedRequest request = LastRequest();
        EXPECT_EQ(request.command, field.command);
        EXPECT_EQ(request.length, kSlotSize);
        EXPECT_EQ(request.payload, full);
    }
}

// A reply whose payload would lie partly outside the segment is taken as no
// reply: nothing is copied and every copying shape fails.
TEST_F(RequestShapesTest, ReplyPayloadOutsideTheSegmentCopiesNothing) {
    const ShapeField copying_fields[] = {kReadExact, kReadClamped, kExchange, kExchangeChecked};
    for (const ShapeField& field : copying_fields) {
        SCOPED_TRACE(field.shape);
        std::vector<uint8_t> data = Sentinel(32);
        stand_in::ReplyPlan plan;
        plan.length = 8;
        plan.offset = stand_in::kDefaultSegmentSize - 4;
        server_.PushPlan(plan);
        EXPECT_EQ(SettingsControl(field.field_id, data.data(), 8), -1);
        EXPECT_EQ(data, Sentinel(32));
    }
}

}  // namespace
}  // namespace fields_test
