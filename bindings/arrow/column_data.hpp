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
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
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

// Room for `bytes` bytes of a result's buffers: large blocks on huge pages where the
// system gives them on request, since faulting in a large result page by
// page costs more than writing it. Freed with free_text_block().
[[nodiscard]] void* allocate_text_block(std::size_t bytes);
void free_text_block(void* block) noexcept;

// An allocator whose resize() leaves new elements uninitialised: a run of
// rows makes room for its offsets and its text bound at once and then writes
// them, and zeroing that room first would write the whole result twice.
// (Every element a chunk keeps is written before it is read: a run gives
// back what it did not use.)
template <class T>
struct UninitialisedAllocator {
    using value_type = T;
    using is_always_equal = std::true_type;
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() noexcept = default;
    template <class U>
    explicit UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(allocate_text_block(n * sizeof(T)));
    }
    void deallocate(T* at, std::size_t) noexcept { free_text_block(at); }
    friend bool operator==(UninitialisedAllocator, UninitialisedAllocator) noexcept { return true; }

    template <class U>
    void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

// The buffers of a string chunk.
template <class T>
using ResultBuffer = std::vector<T, UninitialisedAllocator<T>>;
using TextBuffer = ResultBuffer<char>;
using Offsets32 = ResultBuffer<std::int32_t>;
using Offsets64 = ResultBuffer<std::int64_t>;

// One chunk. String kinds use `validity`, one pair of offsets vectors (the one
// their width names) and `data`; Float64 uses `validity` and `numbers`; Struct
// uses `validity` and `children`.
struct ArrayData {
    Kind kind = Kind::Utf8;
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    std::vector<std::uint8_t> validity;   // LSB-first bitmap; empty when no row is null
    Offsets32 offsets32;  // Utf8: length + 1 entries
    Offsets64 offsets64;  // LargeUtf8: length + 1 entries
    TextBuffer data;
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
