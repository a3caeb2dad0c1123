// Reading a string column of an imported Arrow array, row by row, without the
// interpreter: utf8 ('u', 32-bit offsets), large_utf8 ('U', 64-bit offsets),
// string_view ('vu', 16-byte views into variadic buffers), each possibly
// dictionary-encoded and possibly the only column of a table; validity
// bitmaps and the array's `offset` (a slice) are honoured at every level.
//
// The producer's buffers are trusted as far as the interface allows no check
// (a utf8 data buffer has no size), but everything that can be checked
// cheaply is: offsets that go backwards, views that point past their buffer,
// dictionary indices out of range give a `Corrupt` cell, never a read out of
// bounds of what the producer described.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "arrow/arrow_abi.hpp"
#include "arrow/arrow_read.hpp"

namespace veltrane::arrow {

enum class StringEncoding : std::uint8_t { Utf8, LargeUtf8, View };

// What one cell of a column holds.
enum class Cell : std::uint8_t { Null, Value, Corrupt };

// The shape of a string column, read once from its schema.
struct StringLayout {
    bool table = false;             // a one-column table: read the struct's child
    StringEncoding encoding = StringEncoding::Utf8;  // of the values
    int index_bytes = 0;            // dictionary-encoded: the width of an index; 0 when plain
    bool index_signed = true;
};

// The layout of a string column, or, for anything else, the TypeError text
// describing what was found.
[[nodiscard]] std::variant<StringLayout, std::string> string_layout(const ArrowSchema& schema);

// Strings of one plain (not dictionary-encoded) array.
class PlainStrings {
public:
    // Checks the array's buffers against the encoding; an error text if they
    // do not fit (too few buffers, a missing one).
    [[nodiscard]] static std::variant<PlainStrings, std::string> open(StringEncoding encoding,
                                                                      const ArrowArray& array);
    [[nodiscard]] std::int64_t length() const noexcept { return length_; }
    // Row `row` (0-based, before the array's offset is added).
    [[nodiscard]] Cell read(std::int64_t row, std::string_view& text) const noexcept;

private:
    StringEncoding encoding_ = StringEncoding::Utf8;
    std::int64_t length_ = 0;
    std::int64_t offset_ = 0;
    const void* validity_ = nullptr;
    const void* offsets_ = nullptr;  // int32 or int64 offsets, or the 16-byte views
    const char* data_ = nullptr;
    const char* const* variadic_ = nullptr;  // string_view: the data buffers
    const std::int64_t* variadic_sizes_ = nullptr;
    std::int64_t variadic_count_ = 0;
};

// A string column of one chunk, whatever its layout.
class StringChunkReader {
public:
    [[nodiscard]] static std::variant<StringChunkReader, std::string> open(const StringLayout& layout,
                                                                           const ArrowArray& array);
    [[nodiscard]] std::int64_t length() const noexcept { return length_; }
    [[nodiscard]] Cell read(std::int64_t row, std::string_view& text) const noexcept;

private:
    std::int64_t length_ = 0;
    TableRows rows_;
    // Dictionary-encoded: the indices, their width, the array's offset and
    // validity; `values_` is then the dictionary.
    const void* indices_ = nullptr;
    std::int64_t index_offset_ = 0;
    const void* index_validity_ = nullptr;
    int index_bytes_ = 0;
    bool index_signed_ = true;
    PlainStrings values_;
};

}  // namespace veltrane::arrow
