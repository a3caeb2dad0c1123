// A deliberately plain second implementation of the resource-name checks, for
// the consistency fuzzers: split into vectors, test character sets by lookup in
// strings, decode digits by position. It shares no code with the kernel, so a
// disagreement points at a bug in one of the two.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veltrane_kernel/vrn.hpp"

namespace reference {

inline std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

inline bool in_set(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kLettersDigits = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kHex = "0123456789abcdef0123456789ABCDEF";

inline bool segments_ok(std::string_view text, std::string_view first_set) {
    for (std::string_view segment : split(text, '-')) {
        if (segment.empty() || !in_set(segment[0], first_set)) return false;
        for (char c : segment.substr(1)) {
            if (!in_set(c, kLettersDigits)) return false;
        }
    }
    return true;
}

inline bool identifier(std::string_view text) { return segments_ok(text, kLetters); }
inline bool region(std::string_view text) { return segments_ok(text, kLettersDigits); }

inline std::optional<std::array<std::uint8_t, 16>> uuid(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphen_place = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen_place) {
            if (text[i] != '-') return std::nullopt;
        } else {
            if (!in_set(text[i], kHex)) return std::nullopt;
            digits.push_back(text[i]);
        }
    }
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 16; ++i) {
        const auto high = static_cast<unsigned>(kHex.find(digits[2 * i]) % 16);
        const auto low = static_cast<unsigned>(kHex.find(digits[2 * i + 1]) % 16);
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return bytes;
}

struct Fields {
    std::string_view service, region;
    std::optional<std::array<std::uint8_t, 16>> org;
    std::string_view resource_type;
    std::array<std::uint8_t, 16> resource_id;
};

// The first failed check, or the fields of a valid text.
struct Outcome {
    std::optional<veltrane_kernel::VrnError::Kind> error;
    Fields fields{};
};

inline Outcome check(std::string_view text) {
    using K = veltrane_kernel::VrnError::Kind;
    if (text.empty()) return {K::Empty};
    if (text.size() > 512) return {K::TooLong};
    const std::vector<std::string_view> f = split(text, ':');
    if (f.size() != 6) return {K::WrongFieldCount};
    if (f[0] != "vrn") return {K::BadScheme};
    if (f[1] != "vlt") return {K::BadPartition};
    if (!identifier(f[2])) return {K::BadService};
    if (!f[3].empty() && !region(f[3])) return {K::BadRegion};
    Fields fields{f[2], f[3], std::nullopt, {}, {}};
    if (!f[4].empty()) {
        fields.org = uuid(f[4]);
        if (!fields.org) return {K::BadOrg};
    }
    const std::vector<std::string_view> path = split(f[5], '/');
    if (path.size() != 2) return {K::BadResourcePath};
    if (!identifier(path[0])) return {K::BadResourceType};
    const auto id = uuid(path[1]);
    if (!id) return {K::BadResourceId};
    fields.resource_type = path[0];
    fields.resource_id = *id;
    return {std::nullopt, fields};
}

}  // namespace reference
