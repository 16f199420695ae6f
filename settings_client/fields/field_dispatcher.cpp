// SettingsControl: the one entry through which callers reach every settings
// field. It looks the id up in the constant field table and performs the
// field's request with the caller's data and length unchanged, returning
// its result unchanged. An id outside the table returns -1 and touches
// nothing: no lock, no message, no copy, no output.
#include "fields/field_table.h"
#include "fields/request_shapes.h"
#include "settings_client/settings_client.h"

int32_t SettingsControl(uint32_t field_id, void* data, int32_t length) {
    using settings_client::Entry;
    settings_client::FieldRoute route{};
    if (!settings_client::LookUpField(field_id, &route)) return -1;

    switch (route.entry) {
        case Entry::kOwn:
            return settings_client::RunShape(route.shape, route.argument, data, length);
        case Entry::kSettingsRead:
            return SettingsRead(data, length, route.argument);
        case Entry::kSettingsWrite:
            return SettingsWrite(data, length, route.argument);
        case Entry::kIndexedWrite:
            return SettingsIndexedWrite(route.argument, data, length);
        case Entry::kIndexedExchange:
            return SettingsIndexedExchange(route.argument, data, length);
        case Entry::kMappedWrite:
            return SettingsMappedWrite(static_cast<uint32_t>(route.argument), data, length);
    }
    return -1;
}
