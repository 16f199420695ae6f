// request-overhead: the library's own work per request, without the kernel.
//
//   request-overhead [--requests N]
//
// The library is linked against in-memory stand-ins for its four System V
// calls (the link seam of ipc/kernel_calls.h): a send that keeps the
// request, a receive that answers it at once as the stand-in settings server
// would (the 256-byte answer of command 3 in the client's slot, any other
// command its own length and offset), an attach that hands out a static
// segment and a detach that does nothing. Each case of request-bench is then
// timed through the library and as the payload copies alone (the same
// memcpy calls as the bare loop); the difference is what the library itself
// adds to a request: checks, the lock, the record, the dispatch.
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "client/protocol.h"
#include "ipc/kernel_calls.h"
#include "settings_client/settings_client.h"

namespace {

constexpr uint32_t kClientId = 7;
constexpr int32_t kSlot = (kClientId - 2) * settings_client::kSlotSize;
constexpr int32_t kAnswerCommand = 3;
constexpr int32_t kAnswerLength = 256;

unsigned char segment[settings_client::kSegmentSize];
settings_client::WireRequest last_request;

unsigned char name_buffer[256];
unsigned char payload[4096];
unsigned char record_data[128];
// Copy lengths set at run time, as in request-bench.
size_t payload_length;
size_t record_length;
size_t name_length;

}  // namespace

namespace settings_client::kernel {

int Send(int /*queue_id*/, const void* message, size_t /*text_size*/) {
    std::memcpy(&last_request, message, sizeof last_request);
    return 0;
}

ssize_t Receive(int /*queue_id*/, void* message, size_t /*text_size*/, long type, int /*flags*/) {
    WireRequest reply = last_request;
    reply.mtype = type;
    if (reply.command == kAnswerCommand) {
        reply.length = kAnswerLength;
        reply.offset = kSlot;
    }
    std::memcpy(message, &reply, sizeof reply);
    return kRequestTextSize;
}

void* Attach(int /*segment_id*/) { return segment; }

int Detach(const void* /*address*/) { return 0; }

}  // namespace settings_client::kernel

namespace {

void CopiesOfRead() { std::memcpy(name_buffer, segment + kSlot, name_length); }
void CopiesOfWrite() { std::memcpy(segment + kSlot, payload, payload_length); }
void CopiesOfExchange() {
    std::memcpy(segment + kSlot, payload, payload_length);
    std::memcpy(payload, segment + kSlot, payload_length);
}
void CopiesOfRecord() {
    SettingsRecord record{};
    std::memcpy(record.data, record_data, sizeof record_data);
    std::memcpy(segment + kSlot, &record, record_length);
    std::memcpy(&record, segment + kSlot, record_length);
    std::memcpy(record_data, record.data, sizeof record_data);
}

struct Case {
    const char* name;
    int32_t (*library)();
    void (*copies)();
};

const Case kCases[] = {
    {"field 2, read 256 B (ReadClamped)", [] { return SettingsControl(2, name_buffer, 256); },
     CopiesOfRead},
    {"field 0x1000, Write 4 KiB", [] { return SettingsControl(0x1000, payload, 4096); },
     CopiesOfWrite},
    {"field 0x0028, Exchange 4 KiB", [] { return SettingsControl(0x0028, payload, 4096); },
     CopiesOfExchange},
    {"SettingsRecordExchange, 136 B",
     [] { return SettingsRecordExchange(501, 1, record_data, 128); }, CopiesOfRecord},
};

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Best of several runs of `count` calls: the least disturbed one.
template <typename Call>
double NsPerCall(Call call, int count) {
    double best = 1e18;
    for (int run = 0; run < 7; ++run) {
        const int64_t start = NowNs();
        for (int i = 0; i < count; ++i) call();
        best = std::min(best, static_cast<double>(NowNs() - start) / count);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int requests = 200000;
    if (argc == 3 && std::strcmp(argv[1], "--requests") == 0) {
        requests = std::atoi(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: request-overhead [--requests N]\n");
        return 2;
    }
    if (requests < 1) requests = 1;
    // Initialisation still opens the real queue and segment: never the
    // machine's own.
    if (unshare(CLONE_NEWIPC) != 0) {
        std::fprintf(stderr, "request-overhead: cannot enter a private IPC namespace (%s)\n",
                     std::strerror(errno));
        return 1;
    }
    if (SettingsClientInit(kClientId) != 0) return 1;
    payload_length = sizeof payload;
    record_length = sizeof(SettingsRecord);
    name_length = sizeof name_buffer;

    std::printf("%-36s %12s %12s %12s\n", "case (no kernel)", "library ns", "copies ns",
                "library adds");
    for (const Case& c : kCases) {
        int64_t results = 0;
        const double library = NsPerCall([&] { results += c.library(); }, requests);
        const double copies = NsPerCall(c.copies, requests);
        if (results == 0) return 1;  // every case returns a positive count
        std::printf("%-36s %12.1f %12.1f %12.1f\n", c.name, library, copies, library - copies);
    }
    return 0;
}
