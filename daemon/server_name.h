// The check a server name must pass before it goes into a command line.
//
// The name comes from the device settings, which a web page writes; the
// daemon hands it only to programs it runs itself, and only when it is a
// plain host name or an address literal.
#pragma once

namespace ntpsyncd {

// True for
// - a host name: dot-separated labels of 1 to 63 ASCII letters, digits and
//   hyphens, no label starting or ending with a hyphen, at most 253
//   characters, optionally followed by one final dot;
// - an IPv4 literal (dotted decimal);
// - an IPv6 literal (without brackets or zone).
// False for everything else, the empty name included.
bool IsValidServerName(const char* name);

}  // namespace ntpsyncd
