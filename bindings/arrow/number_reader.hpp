// Reading a numeric column (mint_uuid7's `unix_ms`) of an imported Arrow
// array as doubles, the conversion the per-call function applies to its
// argument: every integer type (a 64-bit value above 2**53 rounds to the
// nearest double, as float(int) does) and float16/32/64.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "arrow/arrow_abi.hpp"
#include "arrow/arrow_read.hpp"
#include "arrow/string_reader.hpp"

namespace veltrane::arrow {

enum class NumberType : std::uint8_t { I8, U8, I16, U16, I32, U32, I64, U64, F16, F32, F64 };

struct NumberLayout {
    bool table = false;
    NumberType type = NumberType::F64;
};

// The layout of a numeric column, or the TypeError text for anything else.
[[nodiscard]] std::variant<NumberLayout, std::string> number_layout(const ArrowSchema& schema);

class NumberChunkReader {
public:
    [[nodiscard]] static std::variant<NumberChunkReader, std::string> open(const NumberLayout& layout,
                                                                           const ArrowArray& array);
    [[nodiscard]] std::int64_t length() const noexcept { return length_; }
    [[nodiscard]] Cell read(std::int64_t row, double& value) const noexcept;

private:
    NumberType type_ = NumberType::F64;
    std::int64_t length_ = 0;
    TableRows rows_;
    std::int64_t offset_ = 0;
    const void* validity_ = nullptr;
    const void* values_ = nullptr;
};

// An IEEE 754 half-precision value as a double (exact).
[[nodiscard]] double half_to_double(std::uint16_t half) noexcept;

}  // namespace veltrane::arrow
