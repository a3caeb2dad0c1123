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
#include <optional>
#include <string_view>

#include "arrow/chunk_view.hpp"

namespace veltrane::arrow {

// What one cell of a column holds.
enum class Cell : std::uint8_t { Null, Value };

// A chunk whose rows are a plain run of text: utf8 or large_utf8 (alone or
// as a table's one column), no dictionary, no null anywhere, and a data
// buffer. Row r is data[offset(r), offset(r + 1)); the rows before the
// chunk's first corrupt row are read so, with nothing looked at but the
// offsets, one after the other.
struct OffsetRun {
    const char* data = nullptr;
    const void* offsets = nullptr;  // the chunk's row 0 start, then one end per row
    std::int64_t length = 0;
    bool large = false;  // 64-bit offsets

    template <class Offset>
    [[nodiscard]] Offset offset(std::int64_t row) const noexcept {
        return load<Offset>(offsets, row);
    }
    // The text bytes of rows `from` to `to - 1` (rows before the first corrupt one).
    [[nodiscard]] std::int64_t bytes(std::int64_t from, std::int64_t to) const noexcept {
        return large ? offset<std::int64_t>(to) - offset<std::int64_t>(from)
                     : std::int64_t{offset<std::int32_t>(to)} - offset<std::int32_t>(from);
    }
};

// The chunk as a run of offsets, if it is one (see OffsetRun); nothing for
// any other layout and for an empty chunk.
[[nodiscard]] std::optional<OffsetRun> offset_run(const ChunkView& view) noexcept;

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
        if (index_bytes_ != 0 && !bit_is_set(column_validity_, column_offset_ + in_column)) {
            return Cell::Null;
        }
        return read_valid(row, text);
    }

    // The validity of rows `row` to `row + count - 1` (count 1 to 64) as far
    // as the bitmaps of the table, the column and plain strings tell, a word
    // at a time: bit i set when row `row + i` may hold a value. A dictionary
    // entry can still be null: read_valid() tells.
    [[nodiscard]] std::uint64_t valid_rows(std::int64_t row, int count) const noexcept {
        const std::int64_t in_column = table_offset_ + row;
        const std::uint64_t table = bits_at(table_validity_, in_column, count);
        if (index_bytes_ != 0) {
            return table & bits_at(column_validity_, column_offset_ + in_column, count);
        }
        return table & bits_at(strings_.validity, strings_.offset + in_column, count);
    }

    // Row `row`, whose bit valid_rows() set.
    [[nodiscard]] Cell read_valid(std::int64_t row, std::string_view& text) const noexcept {
        const std::int64_t in_column = table_offset_ + row;
        if (index_bytes_ == 0) {
            return read_entry(in_column, text);
        }
        return read_entry(index_at(indices_, index_bytes_, index_signed_, column_offset_ + in_column), text);
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
