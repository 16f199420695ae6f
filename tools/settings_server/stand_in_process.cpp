// Starts the settings-server program as a child process and waits for its
// "ready" line, so tests can talk to a server that lives in another process
// (as the real one does) and stop it again with SIGTERM. In a cross build the
// program runs through the build's emulator, as the tests themselves do.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "stand_in_server.h"

namespace stand_in {
namespace {

// The emulator that runs target programs in a cross build (empty natively).
std::vector<std::string> EmulatorWords() {
    std::vector<std::string> words;
    const std::string joined = STAND_IN_SERVER_EMULATOR;
    size_t start = 0;
    while (start < joined.size()) {
        size_t end = joined.find('|', start);
        if (end == std::string::npos) end = joined.size();
        if (end > start) words.push_back(joined.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

}  // namespace

StandInProcess::~StandInProcess() { Stop(); }

std::string StandInProcess::ProgramPath() { return STAND_IN_SERVER_PROGRAM; }

bool StandInProcess::Start(const std::vector<std::string>& arguments,
                           std::chrono::milliseconds timeout, const std::string& program) {
    if (pid_ > 0) return false;
    const std::string path = program.empty() ? ProgramPath() : program;
    // The program built with this library is a target program; one given by
    // the caller is run as it is.
    std::vector<std::string> words;
    if (program.empty()) words = EmulatorWords();
    words.push_back(path);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) return false;
    pid_t child = fork();
    if (child < 0) {
        close(output[0]);
        close(output[1]);
        return false;
    }
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(output[1]);
    pid_ = child;
    output_fd_ = output[0];

    // Read the child's output until its "ready" line, its end, or the timeout.
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (seen.find("ready\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd ready{output_fd_, POLLIN, 0};
        int polled = poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) break;
        char buffer[256];
        ssize_t got = read(output_fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        seen.append(buffer, static_cast<size_t>(got));
    }
    if (seen.find("ready\n") != std::string::npos) return true;
    Stop();
    return false;
}

int StandInProcess::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (output_fd_ >= 0) close(output_fd_);
    output_fd_ = -1;
    return status;
}

}  // namespace stand_in
