// The dedicated write requests: the Write request shape with one fixed
// command each. They send exactly what SettingsWrite sends with the same
// command; 359, 360, 361 and 371 are also what the field dispatcher sends
// for fields 0x1129, 0x112A, 0x112B and 0x1131, while SettingsWrite498 is
// the only way to send command 498.
#include "fields/request_shapes.h"
#include "settings_client/settings_client.h"

extern "C" {

int32_t SettingsWrite359(const void* data, int32_t length) {
    return settings_client::RunWriteShape(359, data, length);
}

int32_t SettingsWrite360(const void* data, int32_t length) {
    return settings_client::RunWriteShape(360, data, length);
}

int32_t SettingsWrite361(const void* data, int32_t length) {
    return settings_client::RunWriteShape(361, data, length);
}

int32_t SettingsWrite371(const void* data, int32_t length) {
    return settings_client::RunWriteShape(371, data, length);
}

int32_t SettingsWrite498(const void* data, int32_t length) {
    return settings_client::RunWriteShape(498, data, length);
}

}  // extern "C"
