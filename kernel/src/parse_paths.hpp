// The parser's entry points, one per instruction set; the dispatch
// (parse_dispatch.cpp) picks one. Private to the kernel's sources.
#pragma once

#include <string_view>

#include "veltrane_kernel/result.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel::detail {

using ParseFunction = Result<VrnView, VrnError> (*)(std::string_view) noexcept;

// The reference: word-at-a-time, field by field (vrn_parse.cpp).
Result<VrnView, VrnError> parse_scalar(std::string_view text) noexcept;

// Whole-text classification in vector registers (simd/).
#if defined(__x86_64__)
Result<VrnView, VrnError> parse_sse2(std::string_view text) noexcept;
Result<VrnView, VrnError> parse_avx2(std::string_view text) noexcept;
Result<VrnView, VrnError> parse_avx512(std::string_view text) noexcept;
#elif defined(__aarch64__)
Result<VrnView, VrnError> parse_neon(std::string_view text) noexcept;
#endif

}  // namespace veltrane_kernel::detail
