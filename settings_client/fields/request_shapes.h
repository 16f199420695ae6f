// The nine request shapes of the settings client. A shape fixes what a
// request sends in `length` and `offset`, how the reply's length R is judged
// against the caller's length L, what is copied back into the caller's
// buffer and what is returned. Every shape runs one request exchange and
// returns -1 when that exchange produced no usable reply.
//
// Used by the field dispatcher, its shared entries and the auxiliary
// operations (the generic exchange and the dedicated writes).
#pragma once

#include <cstdint>

namespace settings_client {

enum class Shape : uint8_t {
    kReadExact,            // sends 0, 0; copies L bytes when R == L; 0 or -1
    kReadClamped,          // sends 0, 0; copies min(L, R) when above 0; min(L, R)
    kReadClampedZero,      // as kReadClamped, but returns 0
    kReadExactKeepLength,  // as kReadExact, but returns L
    kWrite,                // sends L bytes; copies nothing; R
    kExchange,             // sends L bytes; copies R bytes when R >= 0; R
    kExchangeClamped,      // sends L bytes; copies min(L, R) when above 0; R
    kExchangeExact,        // sends L bytes; copies L bytes when R == L; 0 or -1
    kExchangeChecked,      // sends L bytes; copies R bytes when R >= 0; 0 or -1
};

inline constexpr int kShapeCount = 9;

// Runs one request of `shape` with `command`. For the read shapes `data` has
// room for L bytes; for kWrite it is only read; for the exchange shapes it
// holds the L bytes to send and receives the reply's payload (room for R
// bytes for kExchange and kExchangeChecked).
int32_t RunShape(Shape shape, int32_t command, void* data, int32_t length);

// The kWrite shape for callers holding read-only bytes.
int32_t RunWriteShape(int32_t command, const void* data, int32_t length);

}  // namespace settings_client
