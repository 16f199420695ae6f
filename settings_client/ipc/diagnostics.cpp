// Standard-error lines of the settings client.
#include "ipc/diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace settings_client {

void WriteLine(const char* format, ...) {
    char line[128];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length <= 0) return;
    size_t size =
        static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length) : sizeof line - 1;
    const char* next = line;
    while (size > 0) {
        ssize_t written = write(STDERR_FILENO, next, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // nowhere to report a failed report
        next += written;
        size -= static_cast<size_t>(written);
    }
}

}  // namespace settings_client
