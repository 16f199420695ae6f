// Running a program directly, without a shell, and waiting for it.
#pragma once

namespace ntpsyncd {

// Runs the program at `path` with the argument vector `argv` (argv[0] first,
// null-terminated), inheriting the daemon's environment and standard
// streams, and waits until it has ended. No shell is involved, so no argument
// is ever interpreted. Returns the wait status, or -1 when the program could
// not be started or waited for (a program that cannot be executed ends with
// status 127).
int RunProgram(const char* path, const char* const argv[]);

}  // namespace ntpsyncd
