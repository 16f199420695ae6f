// Isolation of test processes: every test process runs in an IPC namespace of
// its own, so tests never see this machine's real settings queue and segment
// under 0x36F9, and tests may run in parallel. A test that cannot get its
// namespace fails loudly; it never quietly runs against the real objects.
#pragma once

namespace test_support {

// Moves the calling process into a new IPC namespace. On failure writes a
// clear message to standard error and returns false.
bool EnterPrivateIpcNamespace();

}  // namespace test_support
