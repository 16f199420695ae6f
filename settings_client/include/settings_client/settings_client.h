/*
 * Public interface of the settings client: the library through which device
 * programs talk to the camera's settings server over one System V message
 * queue and one shared-memory segment under SETTINGS_KEY.
 *
 * Compilable as C99 and as C++; every symbol has C linkage. All operations
 * report failure through a negative result (as a rule -1) and never exit the
 * process. A process is one client: it calls SettingsClientInit once with its
 * client id, then makes requests (SettingsControl and the operations below),
 * and may end with SettingsClientExit.
 */
#ifndef SETTINGS_CLIENT_SETTINGS_CLIENT_H
#define SETTINGS_CLIENT_SETTINGS_CLIENT_H

#include <pthread.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* System V IPC key of both the settings queue and the shared segment. */
#define SETTINGS_KEY 0x36F9

/* The message on the settings queue: the platform's message-type word, then
 * a text of exactly 20 bytes (five 32-bit integers). 24 bytes on the device. */
typedef struct SettingsRequest {
    long mtype;
    int32_t command;
    int32_t source;
    int32_t reserved;
    int32_t length;
    int32_t offset;
} SettingsRequest;

/* The 136-byte record carried by SettingsRecordExchange. */
typedef struct SettingsRecord {
    int32_t kind;
    int32_t length;
    uint8_t data[128];
} SettingsRecord;

/* Client initialisation and teardown. */
int32_t SettingsClientInit(uint32_t client_id);
int32_t SettingsClientExit(void);

/* Shared segment. */
int32_t ShareMemInit(int32_t key);
int32_t ShareMemGet(int32_t key);
int32_t ShareMemWrite(int32_t offset, const void *source, int32_t length);
int32_t ShareMemRead(int32_t offset, void *destination, int32_t length);

/* Message queue. record_size counts the whole record, type word included;
 * the text size passed to the kernel is record_size - sizeof(long). */
int32_t Msg_Init(int32_t key);
int32_t Msg_Kill(int32_t queue_id);
int32_t Msg_Send(int32_t queue_id, void *record, int32_t record_size);
int32_t Msg_Recv(int32_t queue_id, long type, void *record, int32_t record_size);
int32_t Msg_SendRecv(int32_t queue_id, long type, void *record, int32_t record_size);

/* Client lock (a process-private mutex). */
pthread_mutex_t *CreateSem(void);
int32_t SemWait(pthread_mutex_t *lock);
int32_t SemRelease(pthread_mutex_t *lock);
int32_t DestroySem(pthread_mutex_t *lock);

/* Field dispatcher and its shared entries. */
int32_t SettingsControl(uint32_t field_id, void *data, int32_t length);
int32_t SettingsRead(void *data, int32_t length, int32_t command);
int32_t SettingsWrite(const void *data, int32_t length, int32_t command);
int32_t SettingsIndexedWrite(int32_t index, const void *data, int32_t length);
int32_t SettingsIndexedExchange(int32_t index, void *data, int32_t length);
int32_t SettingsMappedWrite(uint32_t index, const void *data, int32_t length);

/* Auxiliary operations. */
int32_t SettingsRecordExchange(int32_t command, int32_t kind, void *buffer, int32_t length);
int32_t SettingsExchange(void *data, int32_t length, int32_t command);
int32_t SettingsNotify(void);
uint32_t SettingsSetClientId(uint32_t id);
int32_t SettingsSetQueueId(int32_t queue_id);
int32_t SettingsWrite359(const void *data, int32_t length);
int32_t SettingsWrite360(const void *data, int32_t length);
int32_t SettingsWrite361(const void *data, int32_t length);
int32_t SettingsWrite371(const void *data, int32_t length);
int32_t SettingsWrite498(const void *data, int32_t length);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* SETTINGS_CLIENT_SETTINGS_CLIENT_H */
