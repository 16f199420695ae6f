// The sync action run by the main loop whenever a sync is due.
#include "sync_action.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ntp_settings.h"
#include "program_runner.h"
#include "server_name.h"
#include "settings_client/settings_client.h"
#include "standard_error.h"

namespace ntpsyncd {
namespace {

constexpr char kSyncLineFormat[] = "[meridex] sync to NTP %s\n";

// Fetches the stored server name into `name` (room for the capacity and a
// NUL). False when the settings server gave no name.
bool FetchStoredServerName(char* name) {
    const int32_t count = SettingsControl(kServerNameField, name, kServerNameCapacity);
    if (count < 0 || count > kServerNameCapacity) return false;
    name[count] = '\0';
    return true;
}

void RunNtpClient(const char* server) {
    // The shell would drop an empty last word, so an empty name means no
    // argument after "-h".
    const char* const argv[] = {
        kNtpClientPath, "-s", "-i", "10", "-h", server[0] != '\0' ? server : nullptr, nullptr};
    RunProgram(kNtpClientPath, argv);
}

void WriteHardwareClock() {
    const int status = std::system(kHardwareClockCommand);
    static_cast<void>(status);
}

}  // namespace

int RunNtpSync() {
    ReadNtpSettings();
    if (ntp_settings.enable == 0) {
        WriteStandardErrorLine(kSyncDisabledLine);
        return 0;
    }

    char server[kServerNameCapacity + 1];
    if (ntp_settings.dhcp != 0) {
        static_assert(sizeof DEFAULT_NTP_SERVER <= sizeof server);
        std::memcpy(server, DEFAULT_NTP_SERVER, sizeof DEFAULT_NTP_SERVER);
    } else {
        if (!FetchStoredServerName(server)) return -1;
        if (server[0] != '\0' && !IsValidServerName(server)) {
            WriteStandardErrorLine(kRefusedNameLine);
            return -1;
        }
    }

    char line[sizeof kSyncLineFormat + kServerNameCapacity];
    const int length = std::snprintf(line, sizeof line, kSyncLineFormat, server);
    if (length > 0) WriteStandardError(line, static_cast<size_t>(length));

    RunNtpClient(server);
    WriteHardwareClock();
    return 0;
}

}  // namespace ntpsyncd
