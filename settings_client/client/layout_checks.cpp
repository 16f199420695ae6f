// Build-time checks of the layouts that the settings server's protocol and
// the device fix. Nothing here runs: a wrong layout fails the build, on the
// build machine and on the 32-bit ARM target alike.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <type_traits>

#include "client/protocol.h"
#include "settings_client/settings_client.h"

namespace settings_client {
namespace {

// The request: the platform's type word, then five 32-bit integers in this
// order, 20 text bytes in all, with no padding between them.
static_assert(offsetof(SettingsRequest, command) == sizeof(long));
static_assert(offsetof(SettingsRequest, source) == offsetof(SettingsRequest, command) + 4);
static_assert(offsetof(SettingsRequest, reserved) == offsetof(SettingsRequest, command) + 8);
static_assert(offsetof(SettingsRequest, length) == offsetof(SettingsRequest, command) + 12);
static_assert(offsetof(SettingsRequest, offset) == offsetof(SettingsRequest, command) + 16);
static_assert(offsetof(SettingsRequest, offset) + sizeof(int32_t) -
                  offsetof(SettingsRequest, command) ==
              static_cast<size_t>(kRequestTextSize));

// Where long is 4 bytes (the device), the whole request is 24 bytes.
static_assert(sizeof(long) != 4 || sizeof(SettingsRequest) == 24);

// The record used internally on the queue matches the public one field by
// field, so either can be handed to the kernel.
static_assert(sizeof(WireRequest) == sizeof(SettingsRequest));
static_assert(offsetof(WireRequest, command) == offsetof(SettingsRequest, command));
static_assert(offsetof(WireRequest, offset) == offsetof(SettingsRequest, offset));

// The record exchange's record: kind, length, 128 data bytes.
static_assert(sizeof(SettingsRecord) == 136);
static_assert(offsetof(SettingsRecord, length) == 4);
static_assert(offsetof(SettingsRecord, data) == 8);

// Time values are signed and 64 bits wide, also on the 32-bit target, so the
// daemon's clock arithmetic does not break in 2038.
static_assert(sizeof(std::time_t) == 8);
static_assert(std::is_signed_v<std::time_t>);

}  // namespace
}  // namespace settings_client
