// Fuzz target: the daemon's settings-file reader with arbitrary file
// contents. Each input is written to an in-memory file and read through its
// /proc/self/fd path, exactly as the daemon reads its file; the values read
// must match the independent model of the file format, and the reader must
// never touch memory outside its buffers (AddressSanitizer).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ntp_settings.h"
#include "settings_file_model.h"

namespace {

int SettingsFile() {
    static const int fd = memfd_create("onvif-ntp.conf", 0);
    if (fd < 0) std::abort();
    return fd;
}

void Expect(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "settings-file reader disagrees with the model: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = SettingsFile();
    if (ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    // Values of an earlier read: the reader must reset every one of them.
    ntpsyncd::NtpSettings settings;
    std::memset(&settings, 0x5A, sizeof settings);
    Expect(ntpsyncd::ReadNtpSettingsFile(path, &settings) == 0, "result");

    const settings_file_model::Settings expected =
        settings_file_model::Read(std::string_view(reinterpret_cast<const char*>(data), size));
    Expect(settings.dhcp == expected.dhcp, "DHCP");
    Expect(settings.enable == expected.enable, "enable");
    Expect(settings.daylight == expected.daylight, "daylight");
    Expect(std::memchr(settings.timezone, '\0', sizeof settings.timezone) != nullptr,
           "timezone is terminated");
    Expect(expected.timezone == settings.timezone, "timezone");
    return 0;
}
