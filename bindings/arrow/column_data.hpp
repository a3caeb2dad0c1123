// The columns this module makes: plain native memory, no Python object inside.
//
// A result is a list of chunks, each an immutable `ArrayData` shared by
// `std::shared_ptr`: the `Column` object holds one reference, and every array
// exported to a consumer holds another, so a consumer may release what it
// took from any thread, with or without the interpreter lock, before or after
// the `Column` object is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace veltrane::arrow {

// The Arrow types a result can have.
enum class Kind : std::uint8_t {
    Utf8,       // "u": 32-bit offsets
    LargeUtf8,  // "U": 64-bit offsets
    Float64,    // "g": only for columns made from Python numbers
    Struct,     // "+s": the five fields of a VRN, each a string child
};

// The Arrow format string of a kind.
[[nodiscard]] const char* format_of(Kind kind) noexcept;

// One chunk. String kinds use `validity`, one pair of offsets vectors (the one
// their width names) and `data`; Float64 uses `validity` and `numbers`; Struct
// uses `validity` and `children`.
struct ArrayData {
    Kind kind = Kind::Utf8;
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    std::vector<std::uint8_t> validity;   // LSB-first bitmap; empty when no row is null
    std::vector<std::int32_t> offsets32;  // Utf8: length + 1 entries
    std::vector<std::int64_t> offsets64;  // LargeUtf8: length + 1 entries
    std::vector<char> data;
    std::vector<double> numbers;
    std::vector<std::shared_ptr<const ArrayData>> children;

    [[nodiscard]] bool is_null(std::int64_t row) const noexcept {
        const auto i = static_cast<std::size_t>(row);
        return !validity.empty() && ((validity[i / 8] >> (i % 8)) & 1U) == 0;
    }
    // The text of row `row` of a string chunk (empty for a null row).
    [[nodiscard]] std::string_view text(std::int64_t row) const noexcept;
};

using ChunkPtr = std::shared_ptr<const ArrayData>;

// The field names of a struct result, in order.
inline constexpr std::string_view kFieldNames[] = {"service", "region", "org", "resource_type",
                                                   "resource_id"};

// A whole result: its chunks, all of one type, never none (an empty result is
// one chunk of length 0).
struct ColumnData {
    std::vector<ChunkPtr> chunks;
    std::int64_t length = 0;

    [[nodiscard]] Kind kind() const noexcept { return chunks.front()->kind; }
};

// The same string chunk with 64-bit offsets (a copy of the offsets only).
void widen_to_large(ArrayData& chunk);

// Every chunk in one: rows in order, validity and offsets rebased.
[[nodiscard]] ChunkPtr join_chunks(const std::vector<ChunkPtr>& chunks);

}  // namespace veltrane::arrow
