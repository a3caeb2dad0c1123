// Reading a numeric column (mint_uuid7's `unix_ms`) of an imported Arrow
// array as doubles, the conversion the per-call function applies to its
// argument: every integer type (a 64-bit value above 2**53 rounds to the
// nearest double, as float(int) does) and float16/32/64. The reader reads a
// checked view (chunk_view.hpp) and checks nothing per row.
#pragma once

#include <cstdint>

#include "arrow/chunk_view.hpp"
#include "arrow/string_reader.hpp"

namespace veltrane::arrow {

class NumberChunkReader {
public:
    NumberChunkReader() noexcept = default;
    // `view` must be of a number column.
    explicit NumberChunkReader(const ChunkView& view) noexcept;

    [[nodiscard]] std::int64_t length() const noexcept { return length_; }
    [[nodiscard]] Cell read(std::int64_t row, double& value) const noexcept;
    // The validity of rows `row` to `row + count - 1` (count 1 to 64), a word
    // at a time: bit i set when row `row + i` holds a number.
    [[nodiscard]] std::uint64_t valid_rows(std::int64_t row, int count) const noexcept {
        const std::int64_t in_column = table_offset_ + row;
        return bits_at(table_validity_, in_column, count) & bits_at(validity_, offset_ + in_column, count);
    }
    // Row `row`, whose bit valid_rows() set: always a value.
    [[nodiscard]] Cell read_valid(std::int64_t row, double& value) const noexcept;

private:
    NumberType type_ = NumberType::F64;
    std::int64_t length_ = 0;
    const void* table_validity_ = nullptr;
    std::int64_t table_offset_ = 0;
    std::int64_t offset_ = 0;
    const void* validity_ = nullptr;
    const void* values_ = nullptr;
};

// An IEEE 754 half-precision value as a double (exact).
[[nodiscard]] double half_to_double(std::uint16_t half) noexcept;

}  // namespace veltrane::arrow
