// Reader of the NTP settings file: fgets in 256-byte chunks, strtok_r to split
// the key and the value, strcasecmp to match the key.
#include "ntp_settings.h"

#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ntpsyncd {

NtpSettings ntp_settings{};

namespace {

constexpr char kSeparators[] = " \t\n\r";
// One fgets takes at most 255 bytes of the file.
constexpr int kChunkBufferSize = 256;

// atoi's reading without its undefined overflow: values beyond int saturate,
// so a huge number still counts as non-zero on every platform.
int ParseInteger(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void ParseChunk(char* chunk, NtpSettings* settings) {
    char* position = nullptr;
    const char* key = strtok_r(chunk, kSeparators, &position);
    if (key == nullptr) return;
    const char* value = strtok_r(nullptr, kSeparators, &position);
    if (value == nullptr) return;  // a key without a value changes nothing

    if (strcasecmp(key, "DHCP") == 0) {
        settings->dhcp = ParseInteger(value);
    } else if (strcasecmp(key, "enable") == 0) {
        settings->enable = ParseInteger(value);
    } else if (strcasecmp(key, "daylight") == 0) {
        settings->daylight = ParseInteger(value);
    } else if (strcasecmp(key, "timezone") == 0) {
        // A token of a chunk is at most 254 bytes; the bound only guards.
        const size_t length = strnlen(value, kTimezoneSize - 1);
        std::memcpy(settings->timezone, value, length);
        settings->timezone[length] = '\0';
    }
}

}  // namespace

int ReadNtpSettingsFile(const char* path, NtpSettings* settings) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return -1;

    std::memset(settings, 0, sizeof *settings);
    char chunk[kChunkBufferSize];
    while (std::fgets(chunk, sizeof chunk, file) != nullptr) ParseChunk(chunk, settings);
    std::fclose(file);
    return 0;
}

int ReadNtpSettings() { return ReadNtpSettingsFile(kNtpSettingsPath, &ntp_settings); }

}  // namespace ntpsyncd
