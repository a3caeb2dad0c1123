// Building blocks for resource-name test cases.
#pragma once

#include <string>
#include <string_view>

namespace veltrane_kernel::testing {

inline constexpr std::string_view kOrg = "01234567-89ab-cdef-0123-456789abcdef";
inline constexpr std::string_view kOrgUpper = "01234567-89AB-CDEF-0123-456789ABCDEF";
inline constexpr std::string_view kId = "00000000-0000-7123-8567-89abcdef0123";
inline constexpr std::string_view kIdUpper = "00000000-0000-7123-8567-89ABCDEF0123";
inline constexpr std::string_view kZero = "00000000-0000-0000-0000-000000000000";

// "vrn:vlt:" + service ':' region ':' org ':' path, with nothing checked.
inline std::string vrn(std::string_view service, std::string_view region, std::string_view org,
                       std::string_view path) {
    std::string text = "vrn:vlt:";
    text.append(service).append(":").append(region).append(":").append(org).append(":").append(path);
    return text;
}

inline std::string path(std::string_view type, std::string_view id = kId) {
    return std::string(type) + "/" + std::string(id);
}

}  // namespace veltrane_kernel::testing
