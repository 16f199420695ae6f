// The nine request shapes on top of the request exchange. Each shape is a
// pair of rules: how many reply bytes to copy back (run under the client
// lock, by the exchange) and what to return once the reply is in. All
// comparisons between the caller's length L and the reply's length R are
// signed; a copy count of 0 or less copies nothing, so a negative R never
// becomes a copy.
#include "fields/request_shapes.h"

#include "client/request_exchange.h"

namespace settings_client {
namespace {

// min(L, R), taken as R when L >= R and L otherwise.
constexpr int32_t Clamp(int32_t caller_length, int32_t reply_length) {
    return caller_length >= reply_length ? reply_length : caller_length;
}

// Copy rules handed to the exchange.
int32_t CopyWhenExact(int32_t caller_length, int32_t reply_length) {
    return reply_length == caller_length ? caller_length : 0;
}
int32_t CopyClamped(int32_t caller_length, int32_t reply_length) {
    return Clamp(caller_length, reply_length);
}
int32_t CopyReplyLength(int32_t /*caller_length*/, int32_t reply_length) { return reply_length; }

struct ShapeRule {
    bool has_payload;
    CopyRule copy_rule;
};

// Indexed by Shape.
constexpr ShapeRule kShapeRules[kShapeCount] = {
    {false, CopyWhenExact},   // kReadExact
    {false, CopyClamped},     // kReadClamped
    {false, CopyClamped},     // kReadClampedZero
    {false, CopyWhenExact},   // kReadExactKeepLength
    {true, nullptr},          // kWrite
    {true, CopyReplyLength},  // kExchange
    {true, CopyClamped},      // kExchangeClamped
    {true, CopyWhenExact},    // kExchangeExact
    {true, CopyReplyLength},  // kExchangeChecked
};

// The result of a shape once a reply has arrived.
constexpr int32_t ShapeResult(Shape shape, int32_t caller_length, int32_t reply_length) {
    switch (shape) {
        case Shape::kReadExact:
        case Shape::kExchangeExact:
        case Shape::kExchangeChecked:
            return reply_length == caller_length ? 0 : -1;
        case Shape::kReadClamped:
            return Clamp(caller_length, reply_length);
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

int32_t Run(Shape shape, int32_t command, const void* outgoing, void* incoming, int32_t length) {
    const auto index = static_cast<uint8_t>(shape);
    if (index >= kShapeCount) return -1;
    const ShapeRule& rule = kShapeRules[index];
    const ExchangeCall call{command, rule.has_payload, outgoing, length, incoming, rule.copy_rule};
    int32_t reply_length = 0;
    if (!RunExchange(call, &reply_length)) return -1;
    return ShapeResult(shape, length, reply_length);
}

}  // namespace

int32_t RunShape(Shape shape, int32_t command, void* data, int32_t length) {
    return Run(shape, command, data, data, length);
}

int32_t RunWriteShape(int32_t command, const void* data, int32_t length) {
    return Run(Shape::kWrite, command, data, nullptr, length);
}

}  // namespace settings_client
