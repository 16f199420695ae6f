// The settings-file reader against a table of file contents, written to a
// temporary file.
#include "ntp_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using ntpsyncd::NtpSettings;

class TempFile {
  public:
    TempFile() {
        char path[] = "/tmp/ntp-settings-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0) std::abort();
        close(fd);
        path_ = path;
    }
    ~TempFile() { unlink(path_.c_str()); }
    void Write(const std::string& content) const {
        FILE* file = std::fopen(path_.c_str(), "wb");
        if (file == nullptr) std::abort();
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};

struct Expected {
    int dhcp;
    int enable;
    int daylight;
    std::string timezone;
};

struct FileCase {
    const char* name;
    std::string content;
    Expected expected;
};

// Settings as left by an earlier read: every case must reset them first.
NtpSettings Stale() {
    NtpSettings settings{};
    settings.dhcp = 7;
    settings.enable = 7;
    settings.daylight = 7;
    std::snprintf(settings.timezone, sizeof settings.timezone, "stale");
    return settings;
}

std::string Repeat(char c, size_t count) { return std::string(count, c); }

TEST(NtpSettingsFile, ReadsTheTableOfContents) {
    const FileCase cases[] = {
        {"all keys", "DHCP 1\nenable 1\ndaylight 1\ntimezone CET-1CEST\n", {1, 1, 1, "CET-1CEST"}},
        {"keys in any case", "dhcp 1\nENABLE 1\nDayLight 1\nTIMEZONE UTC\n", {1, 1, 1, "UTC"}},
        {"empty file", "", {0, 0, 0, ""}},
        {"no enable line", "DHCP 1\ntimezone UTC\n", {1, 0, 0, "UTC"}},
        {"word as value", "enable yes\n", {0, 0, 0, ""}},
        {"signs and digits", "enable -1\nDHCP 2\ndaylight +7\n", {2, -1, 7, ""}},
        {"digits then letters", "enable 12abc\n", {0, 12, 0, ""}},
        {"hexadecimal reads as 0", "enable 0x10\n", {0, 0, 0, ""}},
        {"beyond int saturates",
         "enable 4294967296\nDHCP -4294967296\n",
         {INT_MIN, INT_MAX, 0, ""}},
        {"key without value keeps the earlier line", "enable 1\nenable\n", {0, 1, 0, ""}},
        {"key without value alone", "enable\ntimezone\n", {0, 0, 0, ""}},
        {"last line wins", "enable 1\nenable 0\nDHCP 0\nDHCP 3\n", {3, 0, 0, ""}},
        {"CRLF line ends", "enable 1\r\ntimezone UTC\r\nDHCP 1\r\n", {1, 1, 0, "UTC"}},
        {"separators before, tokens after",
         " \t enable\t\t 1 trailing words\r\n\n\n   \ntimezone   EST5EDT  x\n",
         {0, 1, 0, "EST5EDT"}},
        {"comment and unknown keys", "# enable 1\n#enable 1\nenabled 1\nntp 1\n", {0, 0, 0, ""}},
        {"no final line feed", "timezone UTC\nenable 1", {0, 1, 0, "UTC"}},
        // A 255-byte chunk ends inside the line; the rest is a line of its own.
        {"long line split after 255 bytes",
         "timezone " + Repeat('x', 246) + "enable 1\n",
         {0, 1, 0, Repeat('x', 246)}},
        {"long value cut at the chunk",
         "timezone " + Repeat('y', 400) + "\nDHCP 1\n",
         {1, 0, 0, Repeat('y', 246)}},
        {"line of exactly 255 bytes then a short one",
         "timezone " + Repeat('z', 245) + "\nenable 1\n",
         {0, 1, 0, Repeat('z', 245)}},
    };
    TempFile file;
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        file.Write(c.content);
        NtpSettings settings = Stale();
        ASSERT_EQ(ntpsyncd::ReadNtpSettingsFile(file.path(), &settings), 0);
        EXPECT_EQ(settings.dhcp, c.expected.dhcp);
        EXPECT_EQ(settings.enable, c.expected.enable);
        EXPECT_EQ(settings.daylight, c.expected.daylight);
        EXPECT_EQ(std::string(settings.timezone), c.expected.timezone);
    }
}

TEST(NtpSettingsFile, MissingFileKeepsTheValuesReadLast) {
    TempFile file;
    file.Write("DHCP 1\nenable 1\ndaylight 1\ntimezone UTC\n");
    NtpSettings settings{};
    ASSERT_EQ(ntpsyncd::ReadNtpSettingsFile(file.path(), &settings), 0);

    const std::string missing = std::string(file.path()) + ".missing";
    EXPECT_EQ(ntpsyncd::ReadNtpSettingsFile(missing.c_str(), &settings), -1);
    EXPECT_EQ(settings.dhcp, 1);
    EXPECT_EQ(settings.enable, 1);
    EXPECT_EQ(settings.daylight, 1);
    EXPECT_STREQ(settings.timezone, "UTC");
}

}  // namespace
