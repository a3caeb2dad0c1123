// Small helpers for reading imported Arrow arrays: validity bits and the
// description of a format for error messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "arrow/arrow_abi.hpp"

namespace veltrane::arrow {

// Bit `index` of an LSB-first validity bitmap; a missing bitmap means valid.
[[nodiscard]] inline bool bit_is_set(const void* bitmap, std::int64_t index) noexcept {
    if (bitmap == nullptr) {
        return true;
    }
    const auto i = static_cast<std::uint64_t>(index);
    return ((static_cast<const std::uint8_t*>(bitmap)[i / 8] >> (i % 8)) & 1U) != 0;
}

// The validity bitmap to use for `array`: none when it says it has no nulls.
[[nodiscard]] inline const void* validity_of(const ArrowArray& array) noexcept {
    return array.null_count == 0 || array.n_buffers < 1 ? nullptr : array.buffers[0];
}

// "'l' (int64)", "a dictionary of 'u' (utf8) with 'i' (int32) indices": what
// a TypeError says it found.
[[nodiscard]] std::string describe_format(const ArrowSchema& schema);

// A table of one column (a stream of record batches, as from a DataFrame or
// a query result) is read as that column: the struct's only child.
[[nodiscard]] inline bool is_one_column_table(const ArrowSchema& schema) noexcept {
    return std::string_view(schema.format) == "+s" && schema.n_children == 1 &&
           schema.children != nullptr && schema.children[0] != nullptr;
}

// The rows of a chunk as its column's rows. A plain chunk is its own column;
// a chunk of a one-column table is a struct whose rows are its one child's,
// moved by the struct's offset and hidden where the struct itself is null.
class TableRows {
public:
    // The column of `array` (the array itself unless `table`), or what is
    // wrong with the table chunk.
    [[nodiscard]] static std::variant<TableRows, std::string> open(bool table, const ArrowArray& array);

    [[nodiscard]] const ArrowArray& column() const noexcept { return *column_; }

    // False for a row the table holds null; otherwise `row` becomes the
    // column's row.
    [[nodiscard]] bool to_column_row(std::int64_t& row) const noexcept {
        if (!table_) {
            return true;
        }
        if (!bit_is_set(validity_, offset_ + row)) {
            return false;
        }
        row += offset_;
        return true;
    }

private:
    const ArrowArray* column_ = nullptr;
    bool table_ = false;
    const void* validity_ = nullptr;  // the struct's own nulls
    std::int64_t offset_ = 0;         // the struct's offset, added to the child's rows
};

}  // namespace veltrane::arrow
