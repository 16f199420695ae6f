// Moves a test process into a private IPC namespace with unshare(2).
#include "private_namespace.h"

#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace test_support {

bool EnterPrivateIpcNamespace() {
    if (unshare(CLONE_NEWIPC) == 0) return true;
    std::fprintf(stderr,
                 "FATAL: cannot enter a private IPC namespace (unshare(CLONE_NEWIPC): %s).\n"
                 "These tests create System V queues and segments under the device key and must\n"
                 "never run against this machine's real ones. Run them as root, or inside\n"
                 "'unshare --user --map-root-user'.\n",
                 std::strerror(errno));
    return false;
}

}  // namespace test_support
