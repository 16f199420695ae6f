// The server-name check: what may reach the NTP client's command line.
#include "server_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Label(char c, size_t length) { return std::string(length, c); }

// Dot-separated labels of 63 characters, cut to `length` characters.
std::string LongName(size_t length) {
    std::string name;
    while (name.size() < length) name += Label('a', 63) + ".";
    name.resize(length);
    if (name.back() == '.') name.back() = 'b';
    return name;
}

TEST(ServerName, AcceptsHostNamesAndAddressLiterals) {
    const std::string accepted[] = {
        "pool.ntp.org",
        "a",
        "ntp1",
        "time-a.example.com",
        "Time.Example.COM",
        "example.com.",  // fully qualified, with the final dot
        "3com.example",
        Label('a', 63) + ".example",
        LongName(253),
        LongName(253) + ".",
        "192.168.1.10",
        "0.0.0.0",
        "::1",
        "2001:db8::123",
        "fe80::1:2:3:4",
        "::ffff:192.0.2.1",
    };
    for (const std::string& name : accepted) {
        EXPECT_TRUE(ntpsyncd::IsValidServerName(name.c_str())) << name;
    }
}

TEST(ServerName, RefusesEverythingElse) {
    const std::string refused[] = {
        "",
        ".",
        "..",
        ".example.com",
        "a..b",
        "example.com..",
        "-h",
        "-example.com",
        "example-.com",
        "a.-b.c",
        "under_score.example",
        Label('a', 64) + ".example",
        LongName(254),
        "a b",
        "a\tb",
        "a\nb",
        "a;b",
        "a|b",
        "a&b",
        "$(reboot)",
        "`reboot`",
        "a'b",
        "a\"b",
        "a\\b",
        "a/b",
        "a*",
        "a?",
        "a>b",
        "~root",
        "[::1]",
        "fe80::1%eth0",
        "192.168.1.10;reboot",
        "caf\xc3\xa9.example",
        "\x7f",
    };
    for (const std::string& name : refused) {
        EXPECT_FALSE(ntpsyncd::IsValidServerName(name.c_str())) << name;
    }
}

}  // namespace
