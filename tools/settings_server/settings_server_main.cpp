// settings-server: the stand-in settings server as a program of its own, for
// the demo and for tests that need the server in another process.
//
//   settings-server [--key HEX] [--segment-size N] [--reply CMD=TEXT]...
//                   [--reply-hex CMD=HEXBYTES]... [--delay-ms N] [--fault N]
//                   [--log PATH] [--mode full|lean]
//
// It serves until SIGTERM or SIGINT, then exits with status 0, leaving the
// queue and the segment in place. Once serving it writes "ready" on standard
// output. With --log every request is appended to PATH as one line:
//   command=C source=S reserved=V length=L offset=O mtype=T text=N payload=HEX
// With --mode lean (for benchmarks) it serves the stored replies in the lean
// loop of lean_serving.h instead; --delay-ms, --fault and --log do not apply.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lean_serving.h"
#include "stand_in_server.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: settings-server [--key HEX] [--segment-size N] [--reply CMD=TEXT]...\n"
                 "                       [--reply-hex CMD=HEXBYTES]... [--delay-ms N] [--fault N]\n"
                 "                       [--log PATH] [--mode full|lean]\n");
}

bool ParseNumber(const char* text, int base, long long low, long long high, long long* value) {
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text, &end, base);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

// "CMD=VALUE": the command code and the text after '='.
bool SplitReply(const char* text, int32_t* command, std::string* value) {
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr) return false;
    long long parsed = 0;
    if (!ParseNumber(std::string(text, equals).c_str(), 10, INT32_MIN, INT32_MAX, &parsed)) {
        return false;
    }
    *command = static_cast<int32_t>(parsed);
    *value = equals + 1;
    return true;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        long long byte = 0;
        if (!ParseNumber(text.substr(i, 2).c_str(), 16, 0, 255, &byte)) return false;
        bytes->push_back(static_cast<uint8_t>(byte));
    }
    return true;
}

std::string DescribeRequest(const stand_in::RecordedRequest& request) {
    std::string line =
        "command=" + std::to_string(request.command) + " source=" + std::to_string(request.source) +
        " reserved=" + std::to_string(request.reserved) +
        " length=" + std::to_string(request.length) + " offset=" + std::to_string(request.offset) +
        " mtype=" + std::to_string(request.mtype) + " text=" + std::to_string(request.text_size) +
        " payload=";
    static const char kDigits[] = "0123456789abcdef";
    for (uint8_t byte : request.payload) {
        line += kDigits[byte >> 4];
        line += kDigits[byte & 15];
    }
    return line + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    long long key = stand_in::kDefaultKey;
    long long segment_size = stand_in::kDefaultSegmentSize;
    stand_in::ReplyPlan default_plan;
    bool has_default_plan = false;
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> replies;
    std::string log_path;
    bool lean = false;

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            Usage();
            return 2;
        }
        const char* value = argv[++i];
        long long number = 0;
        int32_t command = 0;
        std::string text;
        if (option == "--key" && ParseNumber(value, 16, 1, INT32_MAX, &number)) {
            key = number;
        } else if (option == "--segment-size" && ParseNumber(value, 10, 1, INT32_MAX, &number)) {
            segment_size = number;
        } else if (option == "--reply" && SplitReply(value, &command, &text)) {
            replies.emplace_back(command, std::vector<uint8_t>(text.begin(), text.end()));
        } else if (option == "--reply-hex" && SplitReply(value, &command, &text)) {
            std::vector<uint8_t> bytes;
            if (!ParseHex(text, &bytes)) {
                Usage();
                return 2;
            }
            replies.emplace_back(command, std::move(bytes));
        } else if (option == "--delay-ms" && ParseNumber(value, 10, 0, 3600000, &number)) {
            default_plan.delay = std::chrono::milliseconds(number);
            has_default_plan = true;
        } else if (option == "--fault" && ParseNumber(value, 10, 0, 5, &number)) {
            default_plan.fault = static_cast<stand_in::Fault>(number);
            has_default_plan = true;
        } else if (option == "--log") {
            log_path = value;
        } else if (option == "--mode" &&
                   (std::strcmp(value, "full") == 0 || std::strcmp(value, "lean") == 0)) {
            lean = std::strcmp(value, "lean") == 0;
        } else {
            Usage();
            return 2;
        }
    }

    if (lean) {
        if (has_default_plan || !log_path.empty()) {
            Usage();
            return 2;
        }
        return stand_in::ServeLean(static_cast<int>(key), static_cast<int32_t>(segment_size),
                                   replies);
    }

    int log_fd = -1;
    if (!log_path.empty()) {
        log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log_fd < 0) {
            std::fprintf(stderr, "settings-server: cannot open %s: %s\n", log_path.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    // SIGTERM and SIGINT are taken by sigwait below; the serving thread
    // inherits the blocked mask and never sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    stand_in::StandInServer server;
    for (auto& [command, bytes] : replies) server.SetReply(command, std::move(bytes));
    if (has_default_plan) server.SetDefaultPlan(default_plan);
    if (log_fd >= 0) {
        server.SetObserver([log_fd](const stand_in::RecordedRequest& request) {
            const std::string line = DescribeRequest(request);
            if (write(log_fd, line.data(), line.size()) < 0) {
                // A lost log line does not stop the server.
            }
        });
    }
    if (!server.Start(static_cast<int>(key), static_cast<int32_t>(segment_size))) {
        std::fprintf(stderr,
                     "settings-server: cannot open queue and segment under key 0x%llx: %s\n", key,
                     std::strerror(errno));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int received = 0;
    while (sigwait(&stop_signals, &received) != 0) {
    }
    server.Stop();
    if (log_fd >= 0) close(log_fd);
    return 0;
}
