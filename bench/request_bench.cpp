// request-bench: what a settings request costs through the library, against
// the bare System V calls that the same request must make.
//
//   request-bench [--rounds N] [--batch N] [--server PATH]
//
// The program enters a private IPC namespace, starts the settings-server
// program there as a process of its own (lean serving mode, a 256-byte
// stored answer for command 3), initialises itself as client 7 and then, for
// each case, times batches of requests made
//   - through the library (SettingsControl / SettingsRecordExchange), and
//   - by a hand-written loop of the same calls and nothing else: msgsnd,
//     msgrcv, and shmat + memcpy + shmdt for each payload the request copies.
// Both loops send the same commands with the same lengths and offsets and
// get the same replies, so the server does the same work for both. Library
// and bare batches alternate (A B, then B A, ...) so that drift of the
// machine falls on both alike. It prints, per case, the median time per
// request of each and their ratio. Short batches alternating many times
// (the default: 2001 rounds of 20) keep a busy machine's preemptions from
// falling on one side more than on the other.
#include <sched.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "settings_client/settings_client.h"
#include "stand_in_server.h"

namespace {

constexpr uint32_t kClientId = 7;
constexpr int32_t kSlot = (kClientId - 2) * 12288;
constexpr int32_t kNameLength = 256;
constexpr int32_t kPayloadLength = 4096;
constexpr int32_t kRecordLength = sizeof(SettingsRecord);
constexpr size_t kTextSize = 20;
constexpr int kWarmUp = 500;

// Fields and commands of the cases.
constexpr uint32_t kNameField = 2;         // ReadClamped, command 3
constexpr int32_t kNameCommand = 3;        // answered with 256 stored bytes
constexpr uint32_t kWriteField = 0x1000;   // Write, command 2
constexpr int32_t kWriteCommand = 2;       // echoed: R = 4096
constexpr uint32_t kExchangeField = 0x28;  // Exchange, command 135
constexpr int32_t kExchangeCommand = 135;  // echoed: R = 4096, copied back
constexpr int32_t kRecordCommand = 501;    // echoed: R = 136, copied back

struct Message {
    long mtype;
    int32_t command, source, reserved, length, offset;
};

struct Ipc {
    int queue;
    int segment;
};

// Caller buffers shared by both loops.
unsigned char name_buffer[kNameLength];
unsigned char payload[kPayloadLength];
unsigned char record_data[128];

// The lengths the bare loops copy, set at run time. Like the library, which
// copies lengths it learns at run time, the bare loops then copy through the
// C library's memcpy: with a length known at compile time the compiler would
// inline a 4 KiB copy as a string instruction, which is measurably cheaper
// than the call (about 1 to 2 % of a request here) and is no part of the cost
// of the calls a request must make.
size_t payload_length;
size_t record_length;
size_t record_data_length;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "request-bench: %s (%s)\n", what, std::strerror(errno));
    std::exit(1);
}

// --- The bare calls ---------------------------------------------------------

void BareSend(const Ipc& ipc, int32_t command, int32_t length, int32_t offset) {
    const Message request{1, command, static_cast<int32_t>(kClientId), 0, length, offset};
    if (msgsnd(ipc.queue, &request, kTextSize, 0) != 0) Fail("msgsnd");
}

Message BareReceive(const Ipc& ipc) {
    Message reply;
    if (msgrcv(ipc.queue, &reply, kTextSize, kClientId, 0) != static_cast<ssize_t>(kTextSize)) {
        Fail("msgrcv");
    }
    return reply;
}

void BareCopyIn(const Ipc& ipc, int32_t offset, const void* source, size_t count) {
    void* base = shmat(ipc.segment, nullptr, 0);
    if (base == reinterpret_cast<void*>(-1)) Fail("shmat");
    std::memcpy(static_cast<char*>(base) + offset, source, count);
    shmdt(base);
}

void BareCopyOut(const Ipc& ipc, int32_t offset, void* destination, size_t count) {
    void* base = shmat(ipc.segment, nullptr, 0);
    if (base == reinterpret_cast<void*>(-1)) Fail("shmat");
    std::memcpy(destination, static_cast<const char*>(base) + offset, count);
    shmdt(base);
}

// --- The cases: one library request and its bare twin -----------------------

void LibraryRead() {
    if (SettingsControl(kNameField, name_buffer, kNameLength) != kNameLength) Fail("read");
}
void BareRead(const Ipc& ipc) {
    BareSend(ipc, kNameCommand, 0, 0);
    const Message reply = BareReceive(ipc);
    BareCopyOut(ipc, reply.offset, name_buffer, static_cast<size_t>(reply.length));
}

void LibraryWrite() {
    if (SettingsControl(kWriteField, payload, kPayloadLength) != kPayloadLength) Fail("write");
}
void BareWrite(const Ipc& ipc) {
    BareCopyIn(ipc, kSlot, payload, payload_length);
    BareSend(ipc, kWriteCommand, kPayloadLength, kSlot);
    BareReceive(ipc);
}

void LibraryExchange() {
    if (SettingsControl(kExchangeField, payload, kPayloadLength) != kPayloadLength) {
        Fail("exchange");
    }
}
void BareExchange(const Ipc& ipc) {
    BareCopyIn(ipc, kSlot, payload, payload_length);
    BareSend(ipc, kExchangeCommand, kPayloadLength, kSlot);
    const Message reply = BareReceive(ipc);
    BareCopyOut(ipc, reply.offset, payload, static_cast<size_t>(reply.length));
}

void LibraryRecord() {
    if (SettingsRecordExchange(kRecordCommand, 1, record_data, 128) != 128) Fail("record");
}
void BareRecord(const Ipc& ipc) {
    SettingsRecord record{};
    record.kind = 1;
    record.length = 128;
    std::memcpy(record.data, record_data, record_data_length);
    BareCopyIn(ipc, kSlot, &record, record_length);
    BareSend(ipc, kRecordCommand, kRecordLength, kSlot);
    const Message reply = BareReceive(ipc);
    BareCopyOut(ipc, reply.offset, &record, static_cast<size_t>(reply.length));
    std::memcpy(record_data, record.data, static_cast<size_t>(record.length));
}

struct Case {
    const char* name;
    void (*library)();
    void (*bare)(const Ipc&);
};

constexpr Case kCases[] = {
    {"field 2, read 256 B (ReadClamped)", LibraryRead, BareRead},
    {"field 0x1000, Write 4 KiB", LibraryWrite, BareWrite},
    {"field 0x0028, Exchange 4 KiB", LibraryExchange, BareExchange},
    {"SettingsRecordExchange, 136 B", LibraryRecord, BareRecord},
};

// --- Timing -----------------------------------------------------------------

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double LibraryBatch(const Case& c, int batch) {
    const int64_t start = NowNs();
    for (int i = 0; i < batch; ++i) c.library();
    return static_cast<double>(NowNs() - start) / batch;
}

double BareBatch(const Case& c, const Ipc& ipc, int batch) {
    const int64_t start = NowNs();
    for (int i = 0; i < batch; ++i) c.bare(ipc);
    return static_cast<double>(NowNs() - start) / batch;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string HexBytes(size_t count) {
    std::string text;
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[(i >> 4) & 15];
        text += kDigits[i & 15];
    }
    return text;
}

// The first line of `path` that starts with `key`, without its end of line.
std::string FirstLine(const char* path, const char* key) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return "?";
    char line[512];
    std::string found = "?";
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, key, std::strlen(key)) == 0) {
            found = line;
            found.erase(found.find_last_not_of('\n') + 1);
            break;
        }
    }
    std::fclose(file);
    return found;
}

void PrintMachine() {
    std::string model = FirstLine("/proc/cpuinfo", "model name");
    model.erase(0, model.find(':') == std::string::npos ? 0 : model.find(':') + 2);
    utsname system{};
    uname(&system);
    std::printf("machine: %ld CPUs, %s, %s, kernel %s, load average %s\n",
                sysconf(_SC_NPROCESSORS_ONLN), model.c_str(), system.machine, system.release,
                FirstLine("/proc/loadavg", "").substr(0, 14).c_str());
}

int ParseCount(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 10000000) {
        std::fprintf(stderr, "request-bench: bad count %s\n", text);
        std::exit(2);
    }
    return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 2001;
    int batch = 20;
    std::string server_program;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (i + 1 < argc && option == "--rounds") {
            rounds = ParseCount(argv[i + 1]);
        } else if (i + 1 < argc && option == "--batch") {
            batch = ParseCount(argv[i + 1]);
        } else if (i + 1 < argc && option == "--server") {
            server_program = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: request-bench [--rounds N] [--batch N] [--server PATH]\n");
            return 2;
        }
    }

    // Never against the machine's own settings queue and segment.
    if (unshare(CLONE_NEWIPC) != 0) Fail("cannot enter a private IPC namespace; run as root");

    stand_in::StandInProcess server;
    const std::string answer = std::to_string(kNameCommand) + "=" + HexBytes(kNameLength);
    if (!server.Start({"--mode", "lean", "--reply-hex", answer}, std::chrono::seconds(10),
                      server_program)) {
        Fail("the settings-server did not start");
    }
    if (SettingsClientInit(kClientId) != 0) Fail("SettingsClientInit");
    const Ipc ipc{msgget(SETTINGS_KEY, 0), shmget(SETTINGS_KEY, 0, 0)};
    if (ipc.queue < 0 || ipc.segment < 0) Fail("queue or segment missing");
    std::memset(payload, 0x5a, sizeof payload);
    payload_length = kPayloadLength;
    record_length = kRecordLength;
    record_data_length = sizeof record_data;

    PrintMachine();
    std::printf("%d rounds of %d requests per loop and case; settings-server pid %d (lean mode)\n",
                rounds, batch, static_cast<int>(server.pid()));
    std::printf("%-36s %12s %12s %14s\n", "case", "library ns", "bare ns", "library/bare");
    for (const Case& c : kCases) {
        // Warm both paths (page faults, caches) before timing.
        LibraryBatch(c, kWarmUp);
        BareBatch(c, ipc, kWarmUp);

        std::vector<double> library;
        std::vector<double> bare;
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                library.push_back(LibraryBatch(c, batch));
                bare.push_back(BareBatch(c, ipc, batch));
            } else {
                bare.push_back(BareBatch(c, ipc, batch));
                library.push_back(LibraryBatch(c, batch));
            }
        }
        const double library_ns = Median(library);
        const double bare_ns = Median(bare);
        std::printf("%-36s %12.0f %12.0f %14.3f\n", c.name, library_ns, bare_ns,
                    library_ns / bare_ns);
        std::fflush(stdout);
    }
    server.Stop();
    return 0;
}
