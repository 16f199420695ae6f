// SettingsExchange: the Exchange request shape with a command chosen by the
// caller. The caller's `length` bytes of `data` go out through the payload
// slot, the reply's payload comes back into `data`, and the reply's length
// is returned; -1 when no reply came, with `data` untouched. Its arguments
// run in the order of SettingsRead and SettingsWrite: data, length, command.
#include "fields/request_shapes.h"
#include "settings_client/settings_client.h"

extern "C" int32_t SettingsExchange(void* data, int32_t length, int32_t command) {
    return settings_client::RunShape(settings_client::Shape::kExchange, command, data, length);
}
