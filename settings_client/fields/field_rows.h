// The field table as written down for reviewers: one row per run of field
// ids, with the number of fields, the command codes in ascending id order
// ("a-b" is the run a, a+1, ..., b), the request shape and the entry (with
// the indices the dispatcher passes, for the indexed and mapped entries).
// Next to it, the block summary and the entry totals that the rows must
// add up to. field_table.cpp expands and checks all of it at compile time;
// none of it is kept in the library as written here.
#pragma once

#include <cstdint>

#include "fields/field_table.h"

namespace settings_client::field_rows {

struct FieldRow {
    uint32_t first_id;
    uint32_t last_id;
    int32_t fields;
    const char* commands;
    Shape shape;
    Entry entry;
    const char* indices = nullptr;  // indexed and mapped entries only
};

using enum Shape;
using enum Entry;

inline constexpr FieldRow kFieldRows[] = {
    // Group 0
    {0x0000, 0x0001, 2, "0-1", kReadExact, kOwn},
    {0x0002, 0x0006, 5, "3, 5-8", kReadClamped, kOwn},
    {0x0007, 0x000A, 4, "9-12", kReadExact, kOwn},
    {0x000B, 0x000B, 1, "13", kReadClampedZero, kOwn},
    {0x000C, 0x000E, 3, "21-23", kReadClamped, kOwn},
    {0x000F, 0x0011, 3, "24-26", kReadExact, kOwn},
    {0x0012, 0x0012, 1, "27", kReadClampedZero, kOwn},
    {0x0013, 0x0014, 2, "28-29", kReadExact, kOwn},
    {0x0015, 0x001B, 7, "30-36", kReadClamped, kOwn},
    {0x001C, 0x001E, 3, "37-38, 72", kReadExact, kOwn},
    {0x001F, 0x0020, 2, "14-15", kReadClamped, kOwn},
    {0x0021, 0x0021, 1, "16", kWrite, kOwn},
    {0x0022, 0x0025, 4, "17-20", kReadClamped, kOwn},
    {0x0026, 0x0026, 1, "39", kReadExact, kOwn},
    {0x0027, 0x0027, 1, "497", kReadClamped, kOwn},
    {0x0028, 0x0037, 16, "135-146, 362-365", kExchange, kOwn},
    {0x0038, 0x0039, 2, "147-148", kReadExactKeepLength, kSettingsRead},
    {0x003A, 0x003B, 2, "40-41", kReadClamped, kOwn},
    {0x003C, 0x003C, 1, "42", kExchangeClamped, kOwn},
    {0x003D, 0x003E, 2, "43-44", kReadClamped, kOwn},
    {0x003F, 0x0041, 3, "45-47", kExchange, kOwn},

    // Group 1
    {0x1000, 0x106B, 108,
     "2, 4, 48-71, 73-78, 80-83, 79, 86, 90-93, 422, 114, 94, 102, 96-99, 106-113, 100, 105, "
     "103-104, 423, 115-118, 84-85, 119-134, 149-171",
     kWrite, kOwn},
    {0x106C, 0x106E, 3, "172-174", kWrite, kSettingsWrite},
    {0x106F, 0x10FA, 140, "175-314", kWrite, kOwn},
    {0x10FB, 0x1100, 6, "315-320", kExchange, kOwn},
    {0x1101, 0x1106, 6, "321-326", kWrite, kOwn},
    {0x1107, 0x110F, 9, "512-520", kReadClamped, kOwn},
    {0x1110, 0x1113, 4, "334-337", kWrite, kOwn},
    {0x1114, 0x1114, 1, "338", kWrite, kSettingsWrite},
    {0x1115, 0x111B, 7, "339-340, 342, 341, 343-345", kWrite, kOwn},
    {0x111C, 0x111D, 2, "346-347", kWrite, kSettingsWrite},
    {0x111E, 0x1120, 3, "348-350", kWrite, kOwn},
    {0x1121, 0x1125, 5, "351-355", kWrite, kSettingsWrite},
    {0x1126, 0x1126, 1, "356", kWrite, kOwn},
    {0x1127, 0x1127, 1, "357", kWrite, kSettingsWrite},
    {0x1128, 0x1128, 1, "358", kWrite, kOwn},
    {0x1129, 0x112D, 5, "359-361, 366-367", kWrite, kSettingsWrite},
    {0x112E, 0x112F, 2, "368-369", kWrite, kOwn},
    {0x1130, 0x1133, 4, "370-373", kWrite, kSettingsWrite},
    {0x1134, 0x1134, 1, "374", kWrite, kOwn},
    {0x1135, 0x1139, 5, "375-379", kWrite, kIndexedWrite, "0-4"},
    {0x113A, 0x113E, 5, "380-384", kExchange, kIndexedExchange, "0-4"},
    {0x113F, 0x114C, 14, "385-398", kWrite, kOwn},
    {0x114D, 0x114D, 1, "399", kWrite, kSettingsWrite},
    {0x114E, 0x114F, 2, "400, 402", kWrite, kOwn},
    {0x1150, 0x1150, 1, "401", kReadExactKeepLength, kSettingsRead},
    {0x1151, 0x1151, 1, "408", kReadExact, kOwn},
    {0x1152, 0x1153, 2, "409-410", kWrite, kSettingsWrite},
    {0x1154, 0x1154, 1, "411", kReadExactKeepLength, kSettingsRead},
    {0x1155, 0x115D, 9, "413, 412, 414-420", kWrite, kSettingsWrite},
    {0x115E, 0x1162, 5, "403-407", kWrite, kOwn},

    // Group 2
    {0x2000, 0x2000, 1, "95", kWrite, kOwn},
    {0x2001, 0x2001, 1, "424", kExchangeChecked, kOwn},
    {0x2002, 0x2002, 1, "425", kExchangeExact, kOwn},
    {0x2003, 0x2007, 5, "426-427, 434-435, 101", kWrite, kOwn},
    {0x2008, 0x200E, 7, "436-442", kWrite, kMappedWrite, "0-6"},
    {0x200F, 0x2024, 22, "443-464", kWrite, kMappedWrite, "20-41"},
    {0x2025, 0x203A, 22, "465-486", kWrite, kMappedWrite, "60-81"},
    {0x203B, 0x203D, 3, "490-492", kWrite, kMappedWrite, "7-9"},
    {0x203E, 0x2040, 3, "487-489", kReadExactKeepLength, kSettingsRead},
    {0x2041, 0x2044, 4, "493-496", kWrite, kOwn},
    {0x2045, 0x2045, 1, "421", kWrite, kSettingsWrite},
    {0x2046, 0x2048, 3, "499-501", kWrite, kOwn},
    {0x2049, 0x2049, 1, "502", kWrite, kSettingsWrite},
    {0x204A, 0x204E, 5, "503-505, 428-429", kWrite, kOwn},
    {0x204F, 0x2050, 2, "430-431", kReadExactKeepLength, kSettingsRead},
    {0x2051, 0x2051, 1, "506", kWrite, kOwn},
    {0x2052, 0x2052, 1, "507", kReadClamped, kOwn},
    {0x2053, 0x2054, 2, "432, 508", kWrite, kOwn},
    {0x2055, 0x2056, 2, "509, 521", kReadExact, kOwn},
    {0x2057, 0x2057, 1, "510", kWrite, kOwn},
    {0x2058, 0x2058, 1, "511", kReadClamped, kOwn},
    {0x2059, 0x2062, 10, "522-530, 327", kWrite, kOwn},
    {0x2063, 0x2063, 1, "330", kExchange, kOwn},
    {0x2064, 0x2064, 1, "328", kWrite, kOwn},
    {0x2065, 0x2065, 1, "331", kExchange, kOwn},
    {0x2066, 0x2066, 1, "329", kWrite, kOwn},
    {0x2067, 0x2067, 1, "332", kExchange, kOwn},
    {0x2068, 0x206A, 3, "333, 531-532", kWrite, kOwn},
    {0x206B, 0x2070, 6, "541-546", kWrite, kSettingsWrite},
    {0x2071, 0x2073, 3, "547-549", kReadExactKeepLength, kSettingsRead},
    {0x2074, 0x2076, 3, "550-552", kWrite, kSettingsWrite},
    {0x2077, 0x2079, 3, "553-555", kReadExactKeepLength, kSettingsRead},
    {0x207A, 0x20A0, 39, "556-594", kWrite, kSettingsWrite},
    {0x20A1, 0x20A1, 1, "595", kReadExact, kOwn},
};

// The three blocks of valid ids and how many fields of each shape each
// block holds.
struct ShapeCount {
    Shape shape;
    int32_t fields;
};

struct FieldBlock {
    uint32_t first_id;
    uint32_t last_id;
    int32_t fields;
    ShapeCount shapes[kShapeCount];  // unlisted shapes: none
};

// clang-format off
inline constexpr FieldBlock kFieldBlocks[] = {
    {0x0000, 0x0041, 66,
     {{kReadClamped, 26}, {kExchange, 19}, {kReadExact, 15}, {kReadClampedZero, 2},
      {kReadExactKeepLength, 2}, {kExchangeClamped, 1}, {kWrite, 1}}},
    {0x1000, 0x1162, 355,
     {{kWrite, 332}, {kExchange, 11}, {kReadClamped, 9}, {kReadExactKeepLength, 2},
      {kReadExact, 1}}},
    {0x2000, 0x20A1, 162,
     {{kWrite, 141}, {kReadExactKeepLength, 11}, {kReadExact, 3}, {kExchange, 3},
      {kReadClamped, 2}, {kExchangeChecked, 1}, {kExchangeExact, 1}}},
};
// clang-format on

// Fields per entry, and the ids the indexed and mapped entries serve.
struct EntryCount {
    Entry entry;
    int32_t fields;
    uint32_t first_id = 0;  // indexed and mapped entries: their one run of ids
    uint32_t last_id = 0;
};

inline constexpr EntryCount kEntryCounts[kEntryCount] = {
    {kOwn, 421},
    {kSettingsRead, 15},
    {kSettingsWrite, 83},
    {kIndexedWrite, 5, 0x1135, 0x1139},
    {kIndexedExchange, 5, 0x113A, 0x113E},
    {kMappedWrite, 54, 0x2008, 0x203D},
};

// Command codes that no field sends.
inline constexpr int32_t kHighestCommand = 595;
inline constexpr const char* kCommandsOfNoField = "87-89, 433, 498, 533-540";

}  // namespace settings_client::field_rows
