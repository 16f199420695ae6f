// SettingsNotify: puts one notification (command 433, source 0) on the
// settings queue and returns as soon as it is queued. It takes no lock,
// touches no payload slot and waits for no reply, so it may be sent while
// another thread of the process is inside a request, and it still works
// after SettingsClientExit: it needs only the queue id last used.
//
// The send blocks while the queue is full. A send cut short by a signal is
// not repeated: it returns -1 like any other failed send, and the caller
// decides whether to notify again. (A notification is not tied to a reply,
// so giving up leaves nothing behind on the queue.)
#include "client/client_state.h"
#include "client/protocol.h"
#include "ipc/kernel_calls.h"
#include "settings_client/settings_client.h"

namespace settings_client {
namespace {

constexpr int32_t kNotifyCommand = 433;

}  // namespace
}  // namespace settings_client

extern "C" int32_t SettingsNotify(void) {
    using namespace settings_client;

    WireRequest notification{};
    notification.mtype = kServerMessageType;
    notification.command = kNotifyCommand;
    // source, reserved, length and offset stay 0: the notification names no
    // client and carries no payload.
    return kernel::Send(client_state.queue_id, &notification, kRequestTextSize) == 0 ? 0 : -1;
}
