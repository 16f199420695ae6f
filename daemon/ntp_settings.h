// The device's NTP settings file and its reader.
//
// The file is plain text, one "key value" pair a line, keys "DHCP", "enable",
// "daylight" and "timezone" in any letter case. It belongs to another program
// of the device; the daemon only reads it, afresh at every sync, into the
// process-wide `ntp_settings`.
#pragma once

#include <cstddef>

namespace ntpsyncd {

inline constexpr char kNtpSettingsPath[] = "/mnt/nand/onvif-ntp.conf";
inline constexpr size_t kTimezoneSize = 256;

struct NtpSettings {
    int dhcp;                      // non-zero: use the built-in pool server
    int enable;                    // zero: no sync at all
    int daylight;                  // read and kept; nothing uses it
    char timezone[kTimezoneSize];  // read and kept; nothing uses it
};

// The values read last; all zero until the file has been read once.
extern NtpSettings ntp_settings;

// Reads the settings file at `path` into `*settings`. On success every field
// is reset first, then set by the lines that name it (the last one wins), and
// the result is 0. When the file cannot be opened the result is -1 and
// `*settings` keeps its values.
//
// The file is taken in chunks of at most 255 bytes, each ending at a line
// feed or at the 255th byte; every chunk is parsed as a line of its own:
// its first token (separators " \t\n\r") is the key, the next one the value.
// Integers read as atoi reads them (sign, digits, stop at anything else; no
// digits reads as 0), saturated to the range of int.
int ReadNtpSettingsFile(const char* path, NtpSettings* settings);

// Reads the device's settings file into `ntp_settings`.
int ReadNtpSettings();

}  // namespace ntpsyncd
