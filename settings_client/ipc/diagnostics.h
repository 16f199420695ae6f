// The settings client's fixed standard-error lines. Each line is formatted
// into a small stack buffer and written with one write(2), so lines from
// several processes never interleave and nothing is allocated.
#pragma once

namespace settings_client {

// printf-style; the result must fit in 128 bytes (every line of the client
// does).
void WriteLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace settings_client
