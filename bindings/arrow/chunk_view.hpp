// A chunk of an imported column, checked once, whole, before any row of it
// is read: the view the readers then walk without a check per row.
//
// view_chunk() is the one place that decides whether the structs a producer
// handed over can be read at all. It reads the structs and nothing behind the
// buffer pointers; it checks, at every level the column's layout reads (the
// table, the column, a dictionary):
//   - length, offset and null count (-1: not counted) in range, and offset +
//     length, and the bytes of the buffers read up to it, within 64 bits;
//   - the buffer count of the layout, the buffers array present, every buffer
//     a row can reach present (a validity bitmap wherever nulls are counted);
//   - the children and dictionary the layout has, present, and none else;
//   - a table's column at least as long as the table.
// first_corrupt_row() then checks what lies in the buffers for the rows a
// walk reads: string offsets not negative and not going backwards, views
// inside their variadic buffer, dictionary indices inside the dictionary. A
// row hidden by a null is not read, so it is not checked either.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <variant>

#include "arrow/arrow_abi.hpp"
#include "arrow/arrow_read.hpp"

namespace veltrane::arrow {

// The strings of one array (a plain column or a dictionary): entry i is at
// `offset + i` in its buffers.
struct StringValues {
    StringEncoding encoding = StringEncoding::Utf8;
    std::int64_t length = 0;
    std::int64_t offset = 0;
    const void* validity = nullptr;         // null: no entry is null
    const void* offsets = nullptr;          // int32 or int64 offsets, or the 16-byte views
    const char* data = nullptr;             // utf8, large_utf8
    const char* const* variadic = nullptr;  // string_view: the data buffers
    const std::int64_t* variadic_sizes = nullptr;
    std::int64_t variadic_count = 0;
};

// One checked chunk. Row r of the chunk is, in a table, row table_offset + r
// of its column (hidden where the table's own bit is 0); the column's values
// (numbers, or a dictionary's indices) at `column.offset` + that row.
struct ChunkView {
    ColumnLayout layout;
    std::int64_t length = 0;
    const void* table_validity = nullptr;
    std::int64_t table_offset = 0;
    std::int64_t column_offset = 0;
    const void* column_validity = nullptr;
    const void* column_values = nullptr;  // numbers or dictionary indices
    StringValues strings;                 // strings: the column itself or its dictionary
};

// The checked view of `array` as a chunk of a column of `layout`, or what is
// wrong with it ("a negative length or offset", ...), to follow "... is ".
[[nodiscard]] std::variant<ChunkView, std::string> view_chunk(const ColumnLayout& layout, const ArrowArray& array);

// The first row from `from` on whose data is corrupt; the chunk's length when
// there is none. Rows before it read without a check.
[[nodiscard]] std::int64_t first_corrupt_row(const ChunkView& view, std::int64_t from) noexcept;

// ---- loads shared by the check and the readers ------------------------------

template <class T>
[[nodiscard]] inline T load(const void* base, std::int64_t index) noexcept {
    T value;
    std::memcpy(&value, static_cast<const char*>(base) + static_cast<std::size_t>(index) * sizeof(T), sizeof(T));
    return value;
}

// `count` (1 to 64) validity bits from bit `first` of an LSB-first bitmap, as
// the low bits of a word (bit i: row first + i); a missing bitmap is all
// valid. Reads only the bytes that hold those bits.
[[nodiscard]] inline std::uint64_t bits_at(const void* bitmap, std::int64_t first, int count) noexcept {
    const std::uint64_t wanted = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    if (bitmap == nullptr) {
        return wanted;
    }
    const auto bit = static_cast<std::uint64_t>(first);
    const auto* bytes = static_cast<const std::uint8_t*>(bitmap) + bit / 8;
    const unsigned shift = bit % 8;
    const unsigned used = (shift + static_cast<unsigned>(count) + 7) / 8;  // 1 to 9 bytes
    std::uint64_t word = 0;
    for (unsigned i = 0; i < used && i < 8; ++i) {
        word |= std::uint64_t{bytes[i]} << (8 * i);
    }
    word >>= shift;
    if (used == 9) {
        word |= std::uint64_t{bytes[8]} << (64 - shift);
    }
    return word & wanted;
}

// A dictionary index as a signed 64-bit value; -1 for an unsigned 64-bit
// index too large to be one (it is out of range of any dictionary anyway).
[[nodiscard]] inline std::int64_t index_at(const void* indices, int bytes, bool is_signed,
                                           std::int64_t at) noexcept {
    switch (bytes) {
        case 1:
            return is_signed ? load<std::int8_t>(indices, at) : load<std::uint8_t>(indices, at);
        case 2:
            return is_signed ? load<std::int16_t>(indices, at) : load<std::uint16_t>(indices, at);
        case 4:
            return is_signed ? load<std::int32_t>(indices, at) : load<std::uint32_t>(indices, at);
        default: {
            if (is_signed) {
                return load<std::int64_t>(indices, at);
            }
            const auto value = load<std::uint64_t>(indices, at);
            return value > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(value);
        }
    }
}

}  // namespace veltrane::arrow
