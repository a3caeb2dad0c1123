#include "arrow/string_reader.hpp"

#include <cstring>

namespace veltrane::arrow {
namespace {

std::optional<StringEncoding> encoding_of(const char* format) {
    const std::string_view text(format);
    if (text == "u") {
        return StringEncoding::Utf8;
    }
    if (text == "U") {
        return StringEncoding::LargeUtf8;
    }
    if (text == "vu") {
        return StringEncoding::View;
    }
    return std::nullopt;
}

// Dictionary indices: any integer type; the width and signedness of each.
struct IndexType {
    std::string_view format;
    int bytes;
    bool is_signed;
};
constexpr IndexType kIndexTypes[] = {
    {"c", 1, true}, {"C", 1, false}, {"s", 2, true}, {"S", 2, false},
    {"i", 4, true}, {"I", 4, false}, {"l", 8, true}, {"L", 8, false},
};

template <class T>
T load(const void* base, std::int64_t index) noexcept {
    T value;
    std::memcpy(&value, static_cast<const char*>(base) + static_cast<std::size_t>(index) * sizeof(T), sizeof(T));
    return value;
}

// The index at `row` as a signed 64-bit value; -1 for an unsigned 64-bit index
// too large to be one (it is out of range of any dictionary anyway).
std::int64_t index_at(const void* indices, int bytes, bool is_signed, std::int64_t row) noexcept {
    switch (bytes) {
        case 1:
            return is_signed ? load<std::int8_t>(indices, row) : load<std::uint8_t>(indices, row);
        case 2:
            return is_signed ? load<std::int16_t>(indices, row) : load<std::uint16_t>(indices, row);
        case 4:
            return is_signed ? load<std::int32_t>(indices, row) : load<std::uint32_t>(indices, row);
        default: {
            if (is_signed) {
                return load<std::int64_t>(indices, row);
            }
            const std::uint64_t value = load<std::uint64_t>(indices, row);
            return value > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(value);
        }
    }
}

}  // namespace

std::variant<StringLayout, std::string> string_layout(const ArrowSchema& schema) {
    StringLayout layout;
    const ArrowSchema* column = &schema;
    if (is_one_column_table(schema)) {
        layout.table = true;
        column = schema.children[0];
    }
    if (column->dictionary != nullptr) {
        const std::string_view index_format(column->format);
        bool known = false;
        for (const IndexType& type : kIndexTypes) {
            if (type.format == index_format) {
                layout.index_bytes = type.bytes;
                layout.index_signed = type.is_signed;
                known = true;
            }
        }
        const std::optional<StringEncoding> values = encoding_of(column->dictionary->format);
        if (!known || !values || column->dictionary->dictionary != nullptr) {
            return describe_format(*column);
        }
        layout.encoding = *values;
        return layout;
    }
    const std::optional<StringEncoding> encoding = encoding_of(column->format);
    if (!encoding) {
        return describe_format(*column);
    }
    layout.encoding = *encoding;
    return layout;
}

std::variant<PlainStrings, std::string> PlainStrings::open(StringEncoding encoding, const ArrowArray& array) {
    PlainStrings strings;
    strings.encoding_ = encoding;
    strings.length_ = array.length;
    strings.offset_ = array.offset;
    if (array.length < 0 || array.offset < 0) {
        return std::string("a negative length or offset");
    }
    if (encoding == StringEncoding::View) {
        // validity, views, the variadic data buffers, and their sizes last.
        if (array.n_buffers < 3 || array.buffers == nullptr) {
            return std::string("a string_view array with fewer than 3 buffers");
        }
        strings.validity_ = validity_of(array);
        strings.offsets_ = array.buffers[1];
        strings.variadic_count_ = array.n_buffers - 3;
        strings.variadic_ = reinterpret_cast<const char* const*>(array.buffers + 2);
        strings.variadic_sizes_ = static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
        if ((strings.offsets_ == nullptr && array.length > 0) ||
            (strings.variadic_sizes_ == nullptr && strings.variadic_count_ > 0)) {
            return std::string("a string_view array without its views or buffer sizes");
        }
        return strings;
    }
    if (array.n_buffers != 3 || array.buffers == nullptr) {
        return std::string("a string array whose buffer count is not 3");
    }
    strings.validity_ = validity_of(array);
    strings.offsets_ = array.buffers[1];
    strings.data_ = static_cast<const char*>(array.buffers[2]);
    if (strings.offsets_ == nullptr && array.length > 0) {
        return std::string("a string array without offsets");
    }
    return strings;
}

Cell PlainStrings::read(std::int64_t row, std::string_view& text) const noexcept {
    const std::int64_t at = offset_ + row;
    if (!bit_is_set(validity_, at)) {
        return Cell::Null;
    }
    std::int64_t start = 0;
    std::int64_t end = 0;
    switch (encoding_) {
        case StringEncoding::Utf8:
            start = load<std::int32_t>(offsets_, at);
            end = load<std::int32_t>(offsets_, at + 1);
            break;
        case StringEncoding::LargeUtf8:
            start = load<std::int64_t>(offsets_, at);
            end = load<std::int64_t>(offsets_, at + 1);
            break;
        case StringEncoding::View: {
            // A view: int32 length, then either the text itself (up to 12
            // bytes) or a 4-byte prefix, a buffer index and an offset in it.
            const char* view = static_cast<const char*>(offsets_) + static_cast<std::size_t>(at) * 16;
            std::int32_t length = 0;
            std::memcpy(&length, view, 4);
            if (length < 0) {
                return Cell::Corrupt;
            }
            if (length <= 12) {
                text = std::string_view(view + 4, static_cast<std::size_t>(length));
                return Cell::Value;
            }
            std::int32_t buffer = 0;
            std::int32_t offset = 0;
            std::memcpy(&buffer, view + 8, 4);
            std::memcpy(&offset, view + 12, 4);
            if (buffer < 0 || buffer >= variadic_count_ || offset < 0 ||
                static_cast<std::int64_t>(offset) + length > variadic_sizes_[buffer] ||
                variadic_[buffer] == nullptr) {
                return Cell::Corrupt;
            }
            text = std::string_view(variadic_[buffer] + offset, static_cast<std::size_t>(length));
            return Cell::Value;
        }
    }
    if (start < 0 || end < start || (end > start && data_ == nullptr)) {
        return Cell::Corrupt;
    }
    text = std::string_view(data_ == nullptr ? "" : data_ + start, static_cast<std::size_t>(end - start));
    return Cell::Value;
}

std::variant<StringChunkReader, std::string> StringChunkReader::open(const StringLayout& layout,
                                                                     const ArrowArray& array) {
    StringChunkReader reader;
    reader.length_ = array.length;
    std::variant<TableRows, std::string> rows = TableRows::open(layout.table, array);
    if (auto* error = std::get_if<std::string>(&rows)) {
        return std::move(*error);
    }
    reader.rows_ = std::get<TableRows>(rows);
    const ArrowArray* column = &reader.rows_.column();
    const ArrowArray* values = column;
    if (layout.index_bytes != 0) {
        if (column->dictionary == nullptr || column->n_buffers != 2 || column->buffers == nullptr ||
            (column->buffers[1] == nullptr && column->length > 0) || column->offset < 0) {
            return std::string("a dictionary-encoded array without its indices or dictionary");
        }
        reader.indices_ = column->buffers[1];
        reader.index_offset_ = column->offset;
        reader.index_validity_ = validity_of(*column);
        reader.index_bytes_ = layout.index_bytes;
        reader.index_signed_ = layout.index_signed;
        values = column->dictionary;
    }
    std::variant<PlainStrings, std::string> plain = PlainStrings::open(layout.encoding, *values);
    if (auto* error = std::get_if<std::string>(&plain)) {
        return std::move(*error);
    }
    reader.values_ = std::get<PlainStrings>(plain);
    if (!layout.table && layout.index_bytes == 0 && reader.values_.length() != array.length) {
        return std::string("an array whose length does not match");
    }
    return reader;
}

Cell StringChunkReader::read(std::int64_t row, std::string_view& text) const noexcept {
    if (!rows_.to_column_row(row)) {
        return Cell::Null;
    }
    if (index_bytes_ == 0) {
        return values_.read(row, text);
    }
    const std::int64_t at = index_offset_ + row;
    if (!bit_is_set(index_validity_, at)) {
        return Cell::Null;
    }
    const std::int64_t index = index_at(indices_, index_bytes_, index_signed_, at);
    if (index < 0 || index >= values_.length()) {
        return Cell::Corrupt;
    }
    return values_.read(index, text);
}

}  // namespace veltrane::arrow
