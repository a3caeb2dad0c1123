// Reading a string column of an imported Arrow array, row by row, without the
// interpreter: utf8 ('u', 32-bit offsets), large_utf8 ('U', 64-bit offsets),
// string_view ('vu', 16-byte views into variadic buffers), each possibly
// dictionary-encoded and possibly the only column of a table; validity
// bitmaps and the array's `offset` (a slice) are honoured at every level.
//
// The reader reads a checked view (chunk_view.hpp) and checks nothing per
// row: a walk reads the rows before first_corrupt_row() of the view only.
#pragma once

#include <cstdint>
#include <string_view>

#include "arrow/chunk_view.hpp"

namespace veltrane::arrow {

// What one cell of a column holds.
enum class Cell : std::uint8_t { Null, Value };

class StringChunkReader {
public:
    StringChunkReader() noexcept = default;
    // `view` must be of a string column; the reader copies what it needs.
    explicit StringChunkReader(const ChunkView& view) noexcept;

    [[nodiscard]] std::int64_t length() const noexcept { return length_; }

    // Row `row` of the chunk (before any offset is added): a row before the
    // view's first corrupt row.
    [[nodiscard]] Cell read(std::int64_t row, std::string_view& text) const noexcept {
        const std::int64_t in_column = table_offset_ + row;
        if (!bit_is_set(table_validity_, in_column)) {
            return Cell::Null;
        }
        if (index_bytes_ == 0) {
            return read_entry(in_column, text);
        }
        const std::int64_t at = column_offset_ + in_column;
        if (!bit_is_set(column_validity_, at)) {
            return Cell::Null;
        }
        return read_entry(index_at(indices_, index_bytes_, index_signed_, at), text);
    }

private:
    [[nodiscard]] Cell read_entry(std::int64_t entry, std::string_view& text) const noexcept;

    std::int64_t length_ = 0;
    const void* table_validity_ = nullptr;
    std::int64_t table_offset_ = 0;
    // Dictionary-encoded: the indices, their width and their array's offset
    // and validity; `strings_` is then the dictionary.
    const void* indices_ = nullptr;
    std::int64_t column_offset_ = 0;
    const void* column_validity_ = nullptr;
    int index_bytes_ = 0;
    bool index_signed_ = true;
    StringValues strings_;
};

}  // namespace veltrane::arrow
