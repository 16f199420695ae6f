// Captures what the code under test writes to file descriptor 2, so tests
// can compare the exact standard-error lines.
#pragma once

#include <string>

namespace test_support {

class StderrCapture {
  public:
    StderrCapture();   // starts capturing
    ~StderrCapture();  // restores the real standard error
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written since the capture started (or since the last Take).
    std::string Take();

  private:
    int saved_fd_ = -1;
    int file_fd_ = -1;
    long consumed_ = 0;
};

}  // namespace test_support
