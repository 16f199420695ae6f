// device-sandbox: runs a command on a simulated device.
//
//   device-sandbox NAND_DIR ZARVIK_DIR COMMAND [ARGUMENT]...
//
// In a private mount namespace it mounts a fresh tmpfs over /mnt and over
// /opt, binds NAND_DIR to /mnt/nand and ZARVIK_DIR to /opt/zarvik, and execs
// COMMAND (looked up in PATH). The machine's own /mnt and /opt are never
// touched; everything disappears with the namespace. The IPC namespace is
// the caller's: run it inside a private one (tests do, in their shared main).
// Needs CAP_SYS_ADMIN, e.g. root or "unshare --user --map-root-user".
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int Fail(const char* what, const char* path) {
    std::fprintf(stderr, "device-sandbox: %s %s: %s\n", what, path, std::strerror(errno));
    return 126;
}

// Mounts a tmpfs over `top`, creates `inner` in it and binds `source` there.
int Overlay(const char* top, const char* inner, const char* source) {
    if (mount("tmpfs", top, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
        return Fail("cannot mount a tmpfs over", top);
    }
    if (mkdir(inner, 0755) != 0) return Fail("cannot create", inner);
    if (mount(source, inner, nullptr, MS_BIND, nullptr) != 0) return Fail("cannot bind", source);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: device-sandbox NAND_DIR ZARVIK_DIR COMMAND [ARGUMENT]...\n");
        return 2;
    }
    if (unshare(CLONE_NEWNS) != 0) return Fail("cannot enter a private mount namespace", "");
    // Nothing mounted here may reach the machine's own mount table.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Fail("cannot make private", "/");
    }
    if (int failed = Overlay("/mnt", "/mnt/nand", argv[1])) return failed;
    if (int failed = Overlay("/opt", "/opt/zarvik", argv[2])) return failed;

    execvp(argv[3], argv + 3);
    return Fail("cannot run", argv[3]);
}
