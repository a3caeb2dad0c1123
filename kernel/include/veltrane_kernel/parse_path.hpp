// The parser's implementations, one per instruction set, and which one runs.
//
// `VrnView::parse` (and so every resource-name operation) runs one of them,
// and `VrnView::validate` the same one without making the record: the
// widest this processor supports, chosen once per process at first use.
// All of them give exactly the same result for every text; the scalar one is
// the reference the others are tested against.
//
// Tests, fuzzers and benchmarks can steer the choice: setting the environment
// variable VELTRANE_PARSE_PATH to a path's name before the first parse makes
// that path the one in use, when this processor has it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "veltrane_kernel/result.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {

enum class ParsePath : std::uint8_t {
    Scalar,  // word-at-a-time C++, every processor: the reference
    Sse2,    // x86-64, 16-byte vectors: every x86-64 processor
    Avx2,    // x86-64, 32-byte vectors
    Avx512,  // x86-64, 64-byte vectors with mask registers (AVX-512BW)
    Neon,    // 64-bit Arm, 16-byte vectors: every such processor
};

// "scalar", "sse2", "avx2", "avx512" or "neon".
[[nodiscard]] std::string_view parse_path_name(ParsePath path) noexcept;

// The paths this build can run on this processor, narrowest first; the
// scalar path is always the first.
[[nodiscard]] std::span<const ParsePath> available_parse_paths() noexcept;

// The path `VrnView::parse` uses: the last of `available_parse_paths()`,
// unless VELTRANE_PARSE_PATH names another available one.
[[nodiscard]] ParsePath active_parse_path() noexcept;

// `VrnView::parse` on the given path (the scalar one when `path` is not
// available here).
[[nodiscard]] Result<VrnView, VrnError> parse_with(ParsePath path, std::string_view text) noexcept;

// `VrnView::validate` on the given path (the scalar one when `path` is not
// available here). `VrnView::validate` runs the path `VrnView::parse` runs.
[[nodiscard]] Result<void, VrnError> validate_with(ParsePath path, std::string_view text) noexcept;

}  // namespace veltrane_kernel
