// How the kernel's parser makes a `VrnView`, whose constructor is private so
// that no other code can make a record that skipped the checks. Private to the
// kernel's sources.
#pragma once

#include <optional>
#include <string_view>

#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {

struct VrnViewAccess {
    // The fields of a text that passed every check, as views into it.
    [[nodiscard]] static VrnView checked(std::string_view text, std::string_view service, std::string_view region,
                                         std::optional<Uuid> org, std::string_view resource_type,
                                         Uuid resource_id) noexcept {
        return VrnView(text, service, region, org, resource_type, resource_id);
    }
};

}  // namespace veltrane_kernel
