// Standard-error capture through an unlinked temporary file that replaces
// descriptor 2 for the capture's lifetime.
#include "stderr_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace test_support {

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    char path[] = "/tmp/stderr-capture-XXXXXX";
    file_fd_ = mkstemp(path);
    if (file_fd_ < 0) std::abort();
    unlink(path);
    saved_fd_ = dup(2);
    dup2(file_fd_, 2);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    dup2(saved_fd_, 2);
    close(saved_fd_);
    close(file_fd_);
}

std::string StderrCapture::Take() {
    std::fflush(stderr);
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = pread(file_fd_, buffer, sizeof buffer, consumed_);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        consumed_ += n;
    }
    return text;
}

}  // namespace test_support
