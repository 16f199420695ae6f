// Setters of the client id and the queue id. Each stores its argument into
// the process-wide client state and returns it; nothing else changes (the
// lock, the segment and the other value stay as they are, and nothing is
// looked up). There is no range check: a request made afterwards refuses a
// client id that is no valid reply type or whose slot lies outside the
// segment. Callers must not use them while a request runs.
#include "client/client_state.h"
#include "settings_client/settings_client.h"

extern "C" {

uint32_t SettingsSetClientId(uint32_t id) {
    settings_client::client_state.client_id = id;
    return id;
}

int32_t SettingsSetQueueId(int32_t queue_id) {
    settings_client::client_state.queue_id = queue_id;
    return queue_id;
}

}  // extern "C"
