#include "arrow/string_builder.hpp"

#include <algorithm>

namespace veltrane::arrow {
namespace {

// Read by builders on threads without the interpreter lock, hence atomic.
std::atomic<std::int64_t> g_utf8_byte_limit{kUtf8ByteLimit};

std::shared_ptr<ArrayData> empty_string_chunk() {
    auto chunk = std::make_shared<ArrayData>();
    chunk->kind = Kind::Utf8;
    chunk->offsets32.push_back(0);
    return chunk;
}

}  // namespace

std::int64_t utf8_byte_limit() noexcept { return g_utf8_byte_limit.load(std::memory_order_relaxed); }

std::int64_t set_utf8_byte_limit(std::int64_t limit) noexcept {
    return g_utf8_byte_limit.exchange(limit, std::memory_order_relaxed);
}

void append_validity(ArrayData& chunk, bool valid) {
    const auto row = static_cast<std::size_t>(chunk.length);
    if (valid && chunk.validity.empty()) {
        return;  // no null so far: no bitmap needed
    }
    if (chunk.validity.empty()) {
        // The first null: every earlier row was valid.
        chunk.validity.assign((row + 8) / 8, 0xFF);
    }
    if (chunk.validity.size() * 8 <= row) {
        chunk.validity.push_back(0xFF);
    }
    if (!valid) {
        chunk.validity[row / 8] = static_cast<std::uint8_t>(chunk.validity[row / 8] & ~(1U << (row % 8)));
        ++chunk.null_count;
    }
}

StringBuilder::StringBuilder() : chunk_(empty_string_chunk()), limit_(utf8_byte_limit()) {}

void StringBuilder::push_offset(std::size_t end) {
    if (chunk_->kind == Kind::Utf8 && static_cast<std::int64_t>(end) > limit_) {
        widen_to_large(*chunk_);
    }
    if (chunk_->kind == Kind::Utf8) {
        chunk_->offsets32.push_back(static_cast<std::int32_t>(end));
    } else {
        chunk_->offsets64.push_back(static_cast<std::int64_t>(end));
    }
}

namespace {

// Room for `more` elements after those in `v`. The capacity at least doubles
// when it grows: a chunk filled by many short runs is copied a bounded number
// of times, not once per run.
template <class Vector>
void reserve_more(Vector& v, std::size_t more) {
    const std::size_t wanted = v.size() + more;
    if (wanted > v.capacity()) {
        v.reserve(std::max(wanted, 2 * v.capacity()));
    }
}

}  // namespace

void StringBuilder::reserve(std::int64_t rows, std::size_t bytes_per_row) {
    const auto more = static_cast<std::size_t>(rows);
    if (chunk_->kind == Kind::Utf8) {
        reserve_more(chunk_->offsets32, more);
    } else {
        reserve_more(chunk_->offsets64, more);
    }
    reserve_more(chunk_->data, more * bytes_per_row);
}

StringRun::StringRun(ArrayData& chunk, std::int64_t rows, std::size_t max_bytes)
    : chunk_(&chunk), validity_(chunk, rows) {
    const std::size_t used = chunk.data.size();
    const auto first = static_cast<std::size_t>(chunk.length) + 1;
    chunk.data.resize(used + max_bytes);  // uninitialised: written before it is read
    chunk.offsets32.resize(first + static_cast<std::size_t>(rows));
    base_ = chunk.data.data();
    at_ = base_ + used;
    limit_ = at_ + max_bytes;
    first_offset_ = offset_ = chunk.offsets32.data() + first;
}

void StringRun::end() {
    const std::int64_t appended = rows();
    chunk_->data.resize(static_cast<std::size_t>(at_ - base_));
    chunk_->offsets32.resize(static_cast<std::size_t>(chunk_->length + 1 + appended));
    validity_.end(appended);
}

std::optional<StringRun> StringBuilder::run(std::int64_t rows, std::size_t max_bytes) {
    const auto used = static_cast<std::uint64_t>(chunk_->data.size());
    if (chunk_->kind != Kind::Utf8 || limit_ < 0 || max_bytes > static_cast<std::uint64_t>(limit_) ||
        used > static_cast<std::uint64_t>(limit_) - max_bytes) {
        return std::nullopt;
    }
    return StringRun(*chunk_, rows, max_bytes);
}

void StringBuilder::append_null() {
    append_validity(*chunk_, false);
    push_offset(chunk_->data.size());
    ++chunk_->length;
}

std::shared_ptr<ArrayData> StringBuilder::finish() {
    std::shared_ptr<ArrayData> done = std::move(chunk_);
    chunk_ = empty_string_chunk();
    limit_ = utf8_byte_limit();
    return done;
}

NumberBuilder::NumberBuilder() : chunk_(std::make_shared<ArrayData>()) { chunk_->kind = Kind::Float64; }

void NumberBuilder::append(double value) {
    append_validity(*chunk_, true);
    chunk_->numbers.push_back(value);
    ++chunk_->length;
}

void NumberBuilder::append_null() {
    append_validity(*chunk_, false);
    chunk_->numbers.push_back(0.0);
    ++chunk_->length;
}

std::shared_ptr<ArrayData> NumberBuilder::finish() {
    std::shared_ptr<ArrayData> done = std::move(chunk_);
    chunk_ = std::make_shared<ArrayData>();
    chunk_->kind = Kind::Float64;
    return done;
}

}  // namespace veltrane::arrow
