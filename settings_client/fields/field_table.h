// Lookup of a field id in the constant field table: which entry reaches the
// field's request, with which shape, and with which command or index.
#pragma once

#include <cstdint>

#include "fields/request_shapes.h"

namespace settings_client {

// How the dispatcher reaches a field's request.
enum class Entry : uint8_t {
    kOwn,              // the field's own request: its shape with its command
    kSettingsRead,     // SettingsRead(data, length, command)
    kSettingsWrite,    // SettingsWrite(data, length, command)
    kIndexedWrite,     // SettingsIndexedWrite(index, data, length)
    kIndexedExchange,  // SettingsIndexedExchange(index, data, length)
    kMappedWrite,      // SettingsMappedWrite(index, data, length)
};

inline constexpr int kEntryCount = 6;

struct FieldRoute {
    Entry entry;
    Shape shape;
    // The command for kOwn, kSettingsRead and kSettingsWrite; the index for
    // the indexed and mapped entries.
    int32_t argument;
};

// Matches the whole 32-bit id against the table. Returns false, leaving
// *route untouched, for an id outside it. Constant time, no lock, no heap.
bool LookUpField(uint32_t field_id, FieldRoute* route);

}  // namespace settings_client
