// The five shared entries of the field dispatcher. Each is one request of a
// fixed shape whose command is passed in or derived from an index; they are
// public so that device programs may call them directly as well.
#include "fields/shared_entries.h"

#include "fields/request_shapes.h"
#include "settings_client/settings_client.h"

using settings_client::IndexedCommand;
using settings_client::RunShape;
using settings_client::RunWriteShape;
using settings_client::Shape;

int32_t SettingsRead(void* data, int32_t length, int32_t command) {
    return RunShape(Shape::kReadExactKeepLength, command, data, length);
}

int32_t SettingsWrite(const void* data, int32_t length, int32_t command) {
    return RunWriteShape(command, data, length);
}

int32_t SettingsIndexedWrite(int32_t index, const void* data, int32_t length) {
    return RunWriteShape(IndexedCommand(index, settings_client::kIndexedWriteBase), data, length);
}

int32_t SettingsIndexedExchange(int32_t index, void* data, int32_t length) {
    return RunShape(Shape::kExchange, IndexedCommand(index, settings_client::kIndexedExchangeBase),
                    data, length);
}

int32_t SettingsMappedWrite(uint32_t index, const void* data, int32_t length) {
    return RunWriteShape(settings_client::MappedWriteCommand(index), data, length);
}
