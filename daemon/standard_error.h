// Whole-line writes to standard error. The daemon's diagnostics are fixed
// lines that go out with write(2), so they never sit in a stdio buffer and
// the same call is safe inside the signal handler.
#pragma once

#include <cstddef>

namespace ntpsyncd {

// Writes `length` bytes of `text` to descriptor 2, continuing after short
// writes and interrupted calls. Async-signal-safe. A failed write is dropped:
// there is nowhere else to report it.
void WriteStandardError(const char* text, size_t length);

// The same for a NUL-terminated line.
void WriteStandardErrorLine(const char* line);

}  // namespace ntpsyncd
