// Host-name and address-literal check for the NTP server name.
#include "server_name.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstring>

namespace ntpsyncd {
namespace {

constexpr size_t kMaxHostNameLength = 253;
constexpr size_t kMaxLabelLength = 63;

bool IsLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHostName(const char* name) {
    size_t length = std::strlen(name);
    if (length > 0 && name[length - 1] == '.') --length;  // fully qualified form
    if (length == 0 || length > kMaxHostNameLength) return false;

    size_t label_length = 0;
    char previous = '.';
    for (size_t i = 0; i < length; ++i) {
        const char c = name[i];
        if (c == '.') {
            if (label_length == 0 || previous == '-') return false;
            label_length = 0;
        } else if (IsLetterOrDigit(c) || c == '-') {
            if (c == '-' && label_length == 0) return false;
            if (++label_length > kMaxLabelLength) return false;
        } else {
            return false;
        }
        previous = c;
    }
    return label_length > 0 && previous != '-';
}

bool IsAddressLiteral(const char* name) {
    in_addr v4;
    in6_addr v6;
    return inet_pton(AF_INET, name, &v4) == 1 || inet_pton(AF_INET6, name, &v6) == 1;
}

}  // namespace

bool IsValidServerName(const char* name) { return IsHostName(name) || IsAddressLiteral(name); }

}  // namespace ntpsyncd
