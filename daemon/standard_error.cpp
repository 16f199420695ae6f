// Whole-line writes to standard error with write(2) only.
#include "standard_error.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ntpsyncd {

void WriteStandardError(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

void WriteStandardErrorLine(const char* line) { WriteStandardError(line, std::strlen(line)); }

}  // namespace ntpsyncd
