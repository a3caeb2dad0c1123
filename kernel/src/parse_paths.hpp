// The parser's entry points, one per instruction set, each in two forms: the
// parse, which makes the record, and the validation, which gives the verdict
// alone. The dispatch (parse_dispatch.cpp) picks one path. Private to the
// kernel's sources.
#pragma once

#include <string_view>
#include <type_traits>

#include "veltrane_kernel/result.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel::detail {

// What a path's checks end in when every one passes. Each path is written
// once over this choice: a `Verdict` makes every check the `Record` makes and
// leaves out only the record and the decoding of the UUIDs.
enum class Output : bool { Verdict, Record };

template <Output kOutput>
using Outcome = Result<std::conditional_t<kOutput == Output::Record, VrnView, void>, VrnError>;

using ParseFunction = Outcome<Output::Record> (*)(std::string_view) noexcept;
using ValidateFunction = Outcome<Output::Verdict> (*)(std::string_view) noexcept;

// The reference: word-at-a-time, field by field (vrn_parse.cpp).
Result<VrnView, VrnError> parse_scalar(std::string_view text) noexcept;
Result<void, VrnError> validate_scalar(std::string_view text) noexcept;

// Whole-text classification in vector registers (simd/).
#if defined(__x86_64__)
Result<VrnView, VrnError> parse_sse2(std::string_view text) noexcept;
Result<VrnView, VrnError> parse_avx2(std::string_view text) noexcept;
Result<VrnView, VrnError> parse_avx512(std::string_view text) noexcept;
Result<void, VrnError> validate_sse2(std::string_view text) noexcept;
Result<void, VrnError> validate_avx2(std::string_view text) noexcept;
Result<void, VrnError> validate_avx512(std::string_view text) noexcept;
#elif defined(__aarch64__)
Result<VrnView, VrnError> parse_neon(std::string_view text) noexcept;
Result<void, VrnError> validate_neon(std::string_view text) noexcept;
#endif

}  // namespace veltrane_kernel::detail
