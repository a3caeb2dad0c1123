// Building a string chunk row by row: utf8 with 32-bit offsets while the text
// fits, 64-bit offsets (large_utf8) from the row that would pass the limit on.
#pragma once

#include <atomic>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
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

// The validity of rows appended to a chunk as one run: no work while no row
// is null; the first null makes the bitmap for the whole run at once (every
// row valid), and each null then clears its own bit.
class ValidityRun {
public:
    ValidityRun(ArrayData& chunk, std::int64_t rows) noexcept : chunk_(&chunk), first_(chunk.length), rows_(rows) {}

    // Row `row` of the run (counted from its first) is null.
    void set_null(std::int64_t row) {
        std::vector<std::uint8_t>& bits = chunk_->validity;
        if (bits.size() < bytes_for(first_ + rows_)) {
            bits.resize(bytes_for(first_ + rows_), 0xFF);
        }
        const auto at = static_cast<std::size_t>(first_ + row);
        bits[at / 8] = static_cast<std::uint8_t>(bits[at / 8] & ~(1U << (at % 8)));
        ++nulls_;
    }
    // The run's first `rows` rows are the chunk's: its length, null count and
    // (when it has one) bitmap cover them.
    void end(std::int64_t rows) {
        if (!chunk_->validity.empty()) {
            chunk_->validity.resize(bytes_for(first_ + rows), 0xFF);
        }
        chunk_->length += rows;
        chunk_->null_count += nulls_;
    }

private:
    static std::size_t bytes_for(std::int64_t rows) noexcept { return (static_cast<std::size_t>(rows) + 7) / 8; }

    ArrayData* chunk_;
    std::int64_t first_;
    std::int64_t rows_;
    std::int64_t nulls_ = 0;
};

// Copies the `n` bytes at `from` to `to`, the regions apart. Answers are
// mostly short (a service, a region, a type), and a call to memcpy costs more
// than moving them: up to 32 bytes are moved inline as two fixed-size pieces
// that may overlap in the middle, reading and writing no byte outside either
// region.
inline void copy_text(char* to, const char* from, std::size_t n) noexcept {
    const auto move_pair = [to, from, n]<std::size_t kPiece>() {
        unsigned char head[kPiece];
        unsigned char tail[kPiece];
        std::memcpy(head, from, kPiece);
        std::memcpy(tail, from + n - kPiece, kPiece);
        std::memcpy(to, head, kPiece);
        std::memcpy(to + n - kPiece, tail, kPiece);
    };
    if (n >= 16) {
        if (n > 32) {
            std::memcpy(to, from, n);
        } else {
            move_pair.template operator()<16>();
        }
    } else if (n >= 8) {
        move_pair.template operator()<8>();
    } else if (n >= 4) {
        move_pair.template operator()<4>();
    } else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

class StringBuilder;

// Rows appended to a string builder as one run: room made once for their
// offsets and for `max_bytes` of text (a bound the caller knows from its
// input), each row then written with no check, the validity made on the
// first null. The builder is not used again until end().
class StringRun {
public:
    // Appends `text`: written at room() already (then nothing is copied),
    // or anywhere else.
    void append(std::string_view text) noexcept {
        assert(text.size() <= static_cast<std::size_t>(limit_ - at_));
        if (text.data() != at_) {
            copy_text(at_, text.data(), text.size());
        }
        at_ += text.size();
        *offset_++ = static_cast<std::int32_t>(at_ - base_);
    }
    // Where the next row's text goes: room for at least the run's bound of
    // one row, so an answer can be written there in place.
    [[nodiscard]] char* room() const noexcept { return at_; }
    void append_null() {
        validity_.set_null(rows());
        *offset_++ = static_cast<std::int32_t>(at_ - base_);
    }
    // Rows appended so far.
    [[nodiscard]] std::int64_t rows() const noexcept { return offset_ - first_offset_; }
    // The rows appended are the chunk's; the room left is given back.
    void end();

private:
    friend class StringBuilder;
    StringRun(ArrayData& chunk, std::int64_t rows, std::size_t max_bytes);

    ArrayData* chunk_;
    char* base_;
    char* at_;
    char* limit_;
    std::int32_t* first_offset_;
    std::int32_t* offset_;
    ValidityRun validity_;
};

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

    // A run of `rows` rows of at most `max_bytes` text in all; nothing when
    // the chunk has 64-bit offsets or the run could take it past the utf8
    // limit (the caller then appends row by row, which switches).
    [[nodiscard]] std::optional<StringRun> run(std::int64_t rows, std::size_t max_bytes);

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
