// The sync action: pick the NTP server, set the system clock from it with the
// device's NTP client, then write the system time into the hardware clock.
#pragma once

#include <cstdint>

namespace ntpsyncd {

// The built-in public server, used when the settings file says that the
// address comes from DHCP.
inline constexpr char DEFAULT_NTP_SERVER[] = "pool.ntp.org";

inline constexpr char kNtpClientPath[] = "/opt/zarvik/ntpclient";
inline constexpr char kHardwareClockCommand[] = "hwclock -uw";

// Field 2 of the device settings holds the server name, up to 256 bytes.
inline constexpr uint32_t kServerNameField = 2;
inline constexpr int32_t kServerNameCapacity = 256;

// Lines written to standard error.
inline constexpr char kSyncDisabledLine[] = "ntp sync is disabled\n";
inline constexpr char kRefusedNameLine[] = "[meridex] refused NTP server name\n";

// One sync:
// 1. Read the settings file (the values read last stand when it is missing).
// 2. `enable` 0: write "ntp sync is disabled" and return 0.
// 3. The server is DEFAULT_NTP_SERVER when `dhcp` is non-zero, otherwise the
//    name stored in field 2 (the received bytes up to the first NUL). No
//    name obtained: return -1, nothing written, nothing run. A name that is
//    neither empty nor a valid host name or address literal: write the
//    refusal line and return -1, nothing run.
// 4. Write "[meridex] sync to NTP <name>", run the NTP client directly as
//    "/opt/zarvik/ntpclient -s -i 10 -h <name>" (with an empty name nothing
//    follows "-h"), then "hwclock -uw" through the shell, waiting for each.
//    Their results are not looked at. Return 0.
int RunNtpSync();

}  // namespace ntpsyncd
