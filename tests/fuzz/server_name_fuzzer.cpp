// Fuzz target: the check every server name from the device settings must
// pass before it reaches a command line, with any bytes. The daemon takes the
// received bytes up to the first NUL as the name, and so does this target.
//
// Two things must hold for every input:
// - an accepted name is harmless on a command line: not empty, not an option
//   (no leading '-'), at most 254 bytes, made only of letters, digits, '.',
//   '-' and ':';
// - the verdict agrees with a second, independently written reading of the
//   rules (labels of 1 to 63 letters, digits and inner hyphens, at most 253
//   characters and one optional final dot; or an IPv4 / IPv6 literal).
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server_name.h"

namespace {

bool IsLabelCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool IsLabel(std::string_view label) {
    if (label.empty() || label.size() > 63) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
        if (!IsLabelCharacter(c)) return false;
    }
    return true;
}

bool IsHostName(std::string_view name) {
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    if (name.empty() || name.size() > 253) return false;
    for (;;) {
        const size_t dot = name.find('.');
        if (!IsLabel(name.substr(0, dot))) return false;
        if (dot == std::string_view::npos) return true;
        name.remove_prefix(dot + 1);
    }
}

bool IsAddressLiteral(const std::string& name) {
    unsigned char address[16];
    return inet_pton(AF_INET, name.c_str(), address) == 1 ||
           inet_pton(AF_INET6, name.c_str(), address) == 1;
}

bool IsHarmless(std::string_view name) {
    if (name.empty() || name.size() > 254 || name.front() == '-') return false;
    for (char c : name) {
        if (!IsLabelCharacter(c) && c != '.' && c != ':') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string name = bytes.substr(0, bytes.find('\0'));

    const bool accepted = ntpsyncd::IsValidServerName(name.c_str());
    if (accepted && !IsHarmless(name)) {
        std::fprintf(stderr, "accepted a name that is unsafe on a command line\n");
        std::abort();
    }
    if (accepted != (IsHostName(name) || IsAddressLiteral(name))) {
        std::fprintf(stderr, "verdict %d disagrees with the second reading of the rules\n",
                     accepted);
        std::abort();
    }
    return 0;
}
