// An independent model of how the daemon reads its NTP settings file, used
// as the oracle by the settings-file fuzz target and by the daemon soak
// (which must know what each rewritten or garbage file makes the daemon do).
//
// It follows the file format step by step without sharing any code with the
// daemon: the file is taken in chunks of at most 255 bytes, each ending at a
// line feed; a chunk is text up to its first NUL; its first token (separators
// blank, tab, line feed, carriage return) is the key, the next one the value;
// keys match without regard to ASCII letter case; integers read as atoi reads
// them (leading white space, a sign, digits), saturated to the range of int;
// a key without a value and any other key change nothing; the last line wins.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace settings_file_model {

struct Settings {
    int dhcp = 0;
    int enable = 0;
    int daylight = 0;
    std::string timezone;
};

inline constexpr size_t kChunkBytes = 255;

inline bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameKey(std::string_view token, std::string_view key) {
    if (token.size() != key.size()) return false;
    for (size_t i = 0; i < token.size(); ++i) {
        if (LowerAscii(token[i]) != LowerAscii(key[i])) return false;
    }
    return true;
}

inline int ReadInteger(std::string_view text) {
    size_t at = 0;
    // atoi skips white space first; inside a token only these two can remain.
    while (at < text.size() && (text[at] == '\v' || text[at] == '\f')) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Next token of `line` starting at *at, or an empty view when none is left.
inline std::string_view NextToken(std::string_view line, size_t* at) {
    while (*at < line.size() && IsSeparator(line[*at])) ++*at;
    const size_t start = *at;
    while (*at < line.size() && !IsSeparator(line[*at])) ++*at;
    return line.substr(start, *at - start);
}

inline void ParseLine(std::string_view line, Settings* settings) {
    size_t at = 0;
    const std::string_view key = NextToken(line, &at);
    const std::string_view value = NextToken(line, &at);
    if (key.empty() || value.empty()) return;
    if (SameKey(key, "DHCP")) {
        settings->dhcp = ReadInteger(value);
    } else if (SameKey(key, "enable")) {
        settings->enable = ReadInteger(value);
    } else if (SameKey(key, "daylight")) {
        settings->daylight = ReadInteger(value);
    } else if (SameKey(key, "timezone")) {
        settings->timezone = std::string(value);
    }
}

// What reading a file with `content` leaves in the settings.
inline Settings Read(std::string_view content) {
    Settings settings;
    size_t at = 0;
    while (at < content.size()) {
        size_t length = 0;
        while (length < kChunkBytes && at + length < content.size()) {
            if (content[at + length++] == '\n') break;
        }
        std::string_view chunk = content.substr(at, length);
        chunk = chunk.substr(0, chunk.find('\0'));
        ParseLine(chunk, &settings);
        at += length;
    }
    return settings;
}

}  // namespace settings_file_model
