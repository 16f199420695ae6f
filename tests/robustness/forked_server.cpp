// The forked stand-in server: the child serves until the test closes the
// control pipe, then reports its tally on the report pipe.
#include "forked_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "stand_in_server.h"

namespace robustness {
namespace {

struct Report {
    int32_t ready = 0;
    int32_t queue_id = -1;
};

bool WriteAll(int fd, const void* bytes, size_t size) {
    const auto* at = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = write(fd, at, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        at += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool ReadAll(int fd, void* bytes, size_t size) {
    auto* at = static_cast<char*>(bytes);
    while (size > 0) {
        const ssize_t got = read(fd, at, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

[[noreturn]] void Serve(int control_fd, int report_fd, uint32_t max_delay_us, uint64_t seed) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    traffic::ServerTally tally;
    Report report;
    {
        stand_in::StandInServer server;
        traffic::ServeTraffic(&server, &tally, max_delay_us, seed);
        report.ready = server.Start() ? 1 : 0;
        report.queue_id = server.queue_id();
        if (!WriteAll(report_fd, &report, sizeof report) || report.ready == 0) _exit(1);
        char byte;
        while (read(control_fd, &byte, 1) < 0 && errno == EINTR) {
        }
        server.Stop();
    }
    _exit(WriteAll(report_fd, &tally, sizeof tally) ? 0 : 1);
}

}  // namespace

ForkedServer::~ForkedServer() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (control_fd_ >= 0) close(control_fd_);
    if (report_fd_ >= 0) close(report_fd_);
}

bool ForkedServer::Start(uint32_t max_delay_us, uint64_t seed) {
    int control[2];
    int report[2];
    if (pipe2(control, O_CLOEXEC) != 0) return false;
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
        close(control[1]);
        close(report[0]);
        Serve(control[0], report[1], max_delay_us, seed);
    }
    close(control[0]);
    close(report[1]);
    control_fd_ = control[1];
    report_fd_ = report[0];
    if (pid_ < 0) return false;
    Report ready;
    if (!ReadAll(report_fd_, &ready, sizeof ready) || ready.ready != 1) return false;
    queue_id_ = ready.queue_id;
    return true;
}

bool ForkedServer::Stop(traffic::ServerTally* tally) {
    if (pid_ <= 0) return false;
    close(control_fd_);
    control_fd_ = -1;
    const bool reported = ReadAll(report_fd_, tally, sizeof *tally);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return reported && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace robustness
