// The five fields of a build, cut from a fuzzer's input at its first four
// '\n': service, region, org, resource type, resource id (the last takes the
// rest, line feeds included).
#pragma once

#include <array>
#include <string>
#include <string_view>

inline std::array<std::string_view, 5> build_fields(std::string_view input) {
    std::array<std::string_view, 5> fields;
    std::string_view rest = input;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t cut = rest.find('\n');
        fields[i] = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    fields[4] = rest;
    return fields;
}

// The text the five fields make, joined plainly: "vrn:vlt:" then the fields
// separated by ':', ':', ':' and '/'.
inline std::string joined_fields(const std::array<std::string_view, 5>& fields) {
    return "vrn:vlt:" + std::string(fields[0]) + ":" + std::string(fields[1]) + ":" + std::string(fields[2]) +
           ":" + std::string(fields[3]) + "/" + std::string(fields[4]);
}
