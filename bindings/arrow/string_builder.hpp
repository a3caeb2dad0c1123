// Building a string chunk row by row: utf8 with 32-bit offsets while the text
// fits, 64-bit offsets (large_utf8) from the row that would pass the limit on.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "arrow/column_data.hpp"

namespace veltrane::arrow {

// The most text bytes a chunk or a whole result keeps in utf8 form: the
// greatest 32-bit offset. Tests lower it (through the module's private
// `_set_utf8_limit`) to see the switch to large_utf8 without gigabytes.
inline constexpr std::int64_t kUtf8ByteLimit = INT32_MAX;
[[nodiscard]] std::int64_t utf8_byte_limit() noexcept;
std::int64_t set_utf8_byte_limit(std::int64_t limit) noexcept;  // returns the old one

// Appends one validity bit to `chunk` (bitmap made on the first null).
void append_validity(ArrayData& chunk, bool valid);

class StringBuilder {
public:
    StringBuilder();

    // Inline: the kernel loop over a chunk calls it once per row.
    void append(std::string_view text) {
        if (!chunk_->validity.empty()) {
            append_validity(*chunk_, true);
        }
        chunk_->data.insert(chunk_->data.end(), text.begin(), text.end());
        const std::size_t end = chunk_->data.size();
        if (chunk_->kind == Kind::Utf8 && static_cast<std::int64_t>(end) <= limit_) {
            chunk_->offsets32.push_back(static_cast<std::int32_t>(end));
        } else {
            push_offset(end);
        }
        ++chunk_->length;
    }
    void append_null();

    [[nodiscard]] std::int64_t length() const noexcept { return chunk_->length; }

    // Room for `rows` more rows of about `bytes_per_row` bytes each, so that a
    // run over a chunk does not grow (and copy, and fault in) its buffers
    // again and again.
    void reserve(std::int64_t rows, std::size_t bytes_per_row);

    // The mean text bytes of the rows so far (a hint for the next reserve).
    [[nodiscard]] std::size_t mean_row_bytes() const noexcept {
        return chunk_->length == 0 ? 0 : chunk_->data.size() / static_cast<std::size_t>(chunk_->length);
    }

    // The chunk built so far; the builder starts a new, empty one.
    [[nodiscard]] std::shared_ptr<ArrayData> finish();

private:
    void mark_valid_until_now();
    void push_offset(std::size_t end);

    std::shared_ptr<ArrayData> chunk_;
    std::int64_t limit_;
};

// Builds a Float64 chunk (a column made from Python numbers).
class NumberBuilder {
public:
    NumberBuilder();
    void append(double value);
    void append_null();
    [[nodiscard]] std::shared_ptr<ArrayData> finish();

private:
    std::shared_ptr<ArrayData> chunk_;
};


}  // namespace veltrane::arrow
