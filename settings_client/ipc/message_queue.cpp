// The settings queue: get-or-create (Msg_Init), removal (Msg_Kill) and the
// plain send and receive operations offered to users of the library. The
// request exchange does not use these; it has its own receive that survives
// signals (client/request_exchange.cpp).
#include <sys/ipc.h>
#include <sys/msg.h>

#include "ipc/diagnostics.h"
#include "settings_client/settings_client.h"

namespace {

// Text size for a record of `record_size` bytes, type word included; -1 when
// the record cannot even hold the type word.
long TextSize(const void* record, int32_t record_size) {
    if (record == nullptr || record_size < static_cast<int32_t>(sizeof(long))) return -1;
    return record_size - static_cast<long>(sizeof(long));
}

}  // namespace

extern "C" {

int32_t Msg_Init(int32_t key) {
    int queue_id = msgget(key, 0);
    if (queue_id < 0) {
        queue_id = msgget(key, IPC_CREAT | 0666);
        settings_client::WriteLine("Creat queue id:%d\n", queue_id);
    }
    settings_client::WriteLine("queue id:%d\n", queue_id);
    return queue_id;
}

int32_t Msg_Kill(int32_t queue_id) {
    msgctl(queue_id, IPC_RMID, nullptr);
    settings_client::WriteLine("Kill queue id:%d\n", queue_id);
    return 0;
}

int32_t Msg_Send(int32_t queue_id, void* record, int32_t record_size) {
    long text_size = TextSize(record, record_size);
    if (text_size < 0) return -1;
    return msgsnd(queue_id, record, static_cast<size_t>(text_size), 0);
}

int32_t Msg_Recv(int32_t queue_id, long type, void* record, int32_t record_size) {
    long text_size = TextSize(record, record_size);
    if (text_size < 0) return -1;
    return static_cast<int32_t>(msgrcv(queue_id, record, static_cast<size_t>(text_size), type, 0));
}

int32_t Msg_SendRecv(int32_t queue_id, long type, void* record, int32_t record_size) {
    int32_t sent = Msg_Send(queue_id, record, record_size);
    if (sent < 0) return sent;
    return Msg_Recv(queue_id, type, record, record_size);
}

}  // extern "C"
