// Plain references for the scanner's fuzzers: UTF-8 read one byte at a time
// by the code points a character can still become, and JSON escaping one
// decoded code point at a time. Written for clarity, not speed, and apart
// from the scanner's own code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

inline constexpr std::size_t kNowhere = std::string_view::npos;

struct Utf8Verdict {
    std::size_t fails_at = kNowhere;  // the first byte that no valid UTF-8 can have there
    bool complete = true;             // failing nowhere: the text ends at the end of a character
    [[nodiscard]] bool valid() const noexcept { return fails_at == kNowhere && complete; }
};

// Whether a character of `length` bytes can hold some code point in
// [low, high]: the shortest form only, no surrogates, nothing past U+10FFFF.
inline bool can_hold(std::uint32_t low, std::uint32_t high, int length) noexcept {
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    const std::uint32_t most = length == 2 ? 0x7FF : length == 3 ? 0xFFFF : 0x10FFFF;
    if (low < least) low = least;
    if (high > most) high = most;
    if (low > high) return false;
    return !(low >= 0xD800 && high <= 0xDFFF);
}

inline Utf8Verdict utf8(std::string_view text) noexcept {
    int length = 0;  // of the character being read; 0 between characters
    int seen = 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (length == 0) {
            if (byte < 0x80) continue;
            if ((byte & 0xE0) == 0xC0) {
                length = 2;
                value = byte & 0x1Fu;
            } else if ((byte & 0xF0) == 0xE0) {
                length = 3;
                value = byte & 0x0Fu;
            } else if ((byte & 0xF8) == 0xF0) {
                length = 4;
                value = byte & 0x07u;
            } else {
                return {i, false};
            }
            seen = 1;
        } else {
            if ((byte & 0xC0) != 0x80) return {i, false};
            value = (value << 6) | (byte & 0x3Fu);
            ++seen;
        }
        // The code points the bytes still to come can make of it.
        const int rest_bits = 6 * (length - seen);
        const std::uint32_t low = value << rest_bits;
        const std::uint32_t high = low | ((1u << rest_bits) - 1);
        if (!can_hold(low, high, length)) return {i, false};
        if (seen == length) length = 0;
    }
    return {kNowhere, length == 0};
}

// The code points of valid UTF-8, and where each character starts.
struct Decoded {
    std::vector<std::uint32_t> points;
    std::vector<std::size_t> starts;
};

inline Decoded decode(std::string_view text) {
    Decoded out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t value = length == 1 ? lead : lead & (0xFFu >> (length + 1));
        for (int k = 1; k < length; ++k) {
            value = (value << 6) | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3Fu);
        }
        out.points.push_back(value);
        out.starts.push_back(i);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

inline void append_utf8(std::string& out, std::uint32_t point) {
    if (point < 0x80) {
        out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (point >> 6)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

// json.dumps of valid UTF-8 text, quotes included (ensure_ascii).
inline std::string json_string(std::string_view text) {
    std::string out = "\"";
    char escape[8];
    for (const std::uint32_t point : decode(text).points) {
        switch (point) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case '\b': out += "\\b"; continue;
            case '\f': out += "\\f"; continue;
            default: break;
        }
        if (point >= 0x20 && point <= 0x7E) {
            out.push_back(static_cast<char>(point));
        } else if (point < 0x10000) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(point));
            out += escape;
        } else {
            const std::uint32_t offset = point - 0x10000;
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(0xD800 + (offset >> 10)));
            out += escape;
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(0xDC00 + (offset & 0x3FF)));
            out += escape;
        }
    }
    out += "\"";
    return out;
}

// The start of valid UTF-8 text that an over-long name shows: its whole
// characters within the first `limit` bytes.
inline std::string_view whole_characters_within(std::string_view text, std::size_t limit) {
    std::size_t end = 0;
    const Decoded decoded = decode(text);
    for (std::size_t k = 0; k < decoded.starts.size(); ++k) {
        const std::size_t next = k + 1 < decoded.starts.size() ? decoded.starts[k + 1] : text.size();
        if (next > limit) break;
        end = next;
    }
    return text.substr(0, end);
}

}  // namespace reference
