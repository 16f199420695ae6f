// The client state and the client's initialisation and teardown.
//
// SettingsClientInit checks the id, opens or creates the segment, creates
// the client lock when none exists and opens or creates the queue; every
// failure writes its line, sets the client id to 1 and returns -1 without
// undoing the steps before it. SettingsClientExit sets the client id to 1 and
// destroys the lock; the queue and the segment belong to the device and are
// never removed here.
#include "client/client_state.h"

#include "client/protocol.h"
#include "ipc/diagnostics.h"
#include "settings_client/settings_client.h"

namespace settings_client {

ClientState client_state{};

namespace {

constexpr uint32_t kHighestClientId = 13;
// The id a failed or ended client is left with: requests refuse it.
constexpr uint32_t kNoClient = 1;

}  // namespace
}  // namespace settings_client

extern "C" {

int32_t SettingsClientInit(uint32_t client_id) {
    using settings_client::client_state;
    using settings_client::kNoClient;
    using settings_client::WriteLine;

    if (client_id - 1u > settings_client::kHighestClientId - 1u) {
        WriteLine("Error:Invalid Parameter\n");
        client_state.client_id = kNoClient;
        return -1;
    }
    client_state.client_id = client_id;

    if (ShareMemInit(SETTINGS_KEY) < 0) {
        WriteLine("Error:Share Memory init fail\n");
        client_state.client_id = kNoClient;
        return -1;
    }

    if (client_state.client_lock == nullptr) {
        client_state.client_lock = CreateSem();
        if (client_state.client_lock == nullptr) {
            WriteLine("Error:No more memory to create semaphore\n");
            client_state.client_id = kNoClient;
            return -1;
        }
    }

    client_state.queue_id = Msg_Init(SETTINGS_KEY);
    if (client_state.queue_id >= 0) return 0;

    DestroySem(client_state.client_lock);
    client_state.client_lock = nullptr;
    client_state.client_id = kNoClient;
    WriteLine("Error:Msg_Init fail\n");
    return -1;
}

int32_t SettingsClientExit(void) {
    using settings_client::client_state;
    pthread_mutex_t* lock = client_state.client_lock;
    client_state.client_id = settings_client::kNoClient;
    DestroySem(lock);
    client_state.client_lock = nullptr;
    return 0;
}

}  // extern "C"
