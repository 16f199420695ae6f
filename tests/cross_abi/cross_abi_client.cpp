// Client half of the cross-ABI exchange (see run_cross_abi.sh): makes a fixed
// sequence of requests through the public interface, as client 7, against a
// settings-server started by the script, and checks what comes back. The
// script checks what the server saw. Prints one line per failed check and
// exits non-zero if there was any.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "settings_client/settings_client.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::printf("cross_abi_client: FAILED: %s\n", what);
    ++failures;
}

}  // namespace

int main() {
    std::printf("cross_abi_client: sizeof(long)=%zu sizeof(SettingsRequest)=%zu\n", sizeof(long),
                sizeof(SettingsRequest));
    if (SettingsClientInit(7) != 0) {
        std::printf("cross_abi_client: FAILED: SettingsClientInit(7)\n");
        return 1;
    }

    // Field 2: the server's stored name for command 3, read from our slot.
    char name[256];
    std::memset(name, 0, sizeof name);
    Check(SettingsControl(2, name, sizeof name) == 21, "field 2 returns the name's length");
    Check(std::strcmp(name, "ntp.cross-abi.example") == 0, "field 2 returns the name's bytes");

    // Exchange with a stored answer: our 40 bytes go out, the server's 16
    // bytes come back over the start of the buffer.
    uint8_t buffer[64];
    for (int i = 0; i < 40; ++i) buffer[i] = static_cast<uint8_t>(i * 5 + 1);
    Check(SettingsExchange(buffer, 40, 501) == 16, "exchange 501 returns the answer's length");
    bool answer_ok = true;
    for (int i = 0; i < 16; ++i) answer_ok = answer_ok && buffer[i] == 0xA0 + i;
    for (int i = 16; i < 40; ++i) answer_ok = answer_ok && buffer[i] == i * 5 + 1;
    Check(answer_ok, "exchange 501 copies exactly the answer's bytes");

    // Exchange without a stored answer: the server acknowledges with our own
    // length and offset, so our bytes come back unchanged.
    for (int i = 0; i < 40; ++i) buffer[i] = static_cast<uint8_t>(0xFF - i);
    Check(SettingsExchange(buffer, 40, 502) == 40, "exchange 502 returns our length");
    bool echo_ok = true;
    for (int i = 0; i < 40; ++i) echo_ok = echo_ok && buffer[i] == 0xFF - i;
    Check(echo_ok, "exchange 502 gives our bytes back");

    // Record exchange: the server answers with a record of its own layout.
    uint8_t data[128];
    std::memset(data, '.', sizeof data);
    std::memcpy(data, "abc", 3);
    Check(SettingsRecordExchange(503, 0x01020304, data, 3) == 5,
          "record exchange returns the answer's length");
    Check(std::memcmp(data, "hello...", 8) == 0, "record exchange copies the answer's data");

    // The raw queue calls with the platform's own record size.
    const int32_t queue = Msg_Init(SETTINGS_KEY);
    Check(queue >= 0, "Msg_Init finds the server's queue");
    SettingsRequest request = {1, 505, 7, 0, 0, 0};
    Check(Msg_Send(queue, &request, sizeof request) >= 0, "Msg_Send of a whole record");
    SettingsRequest reply;
    std::memset(&reply, 0x55, sizeof reply);
    Check(Msg_Recv(queue, 7, &reply, sizeof reply) >= 0, "Msg_Recv of the reply");
    Check(reply.mtype == 7 && reply.length == 0 && reply.offset == 0,
          "the reply is addressed to us and carries our length and offset");

    Check(SettingsNotify() == 0, "notification queued");

    std::printf("cross_abi_client: %s\n", failures == 0 ? "all checks passed" : "checks failed");
    return failures == 0 ? 0 : 1;
}
