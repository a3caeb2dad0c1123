#include "arrow/chunk_view.hpp"

#include <optional>

namespace veltrane::arrow {
namespace {

constexpr const char* kOverflow = "an array whose offset plus length passes 64 bits";
constexpr const char* kStringBuffers = "a string array whose buffer count is not 3";
constexpr const char* kViewBuffers = "a string_view array with fewer than 3 buffers";
constexpr const char* kNumberValues = "a numeric array without its values";
constexpr const char* kDictionary = "a dictionary-encoded array without its indices or dictionary";
constexpr const char* kTableColumn = "a table chunk without its one column";
constexpr const char* kNoChildren = "an array with children its type does not have";

// What one level of an array must look like.
struct Shape {
    std::int64_t buffers = 0;
    bool more_buffers = false;          // string_view: variadic buffers follow
    const char* buffers_problem = nullptr;
    std::int64_t element_bytes = 0;     // of the buffer indexed by offset + row, 0 when none
    bool offsets = false;               // that buffer has one element more (string offsets)
    std::int64_t children = 0;
    const char* children_problem = kNoChildren;
    bool dictionary = false;
};

std::optional<std::string> check_level(const ArrowArray& array, const Shape& shape) {
    if (array.length < 0 || array.offset < 0) {
        return std::string("a negative length or offset");
    }
    if (array.offset > INT64_MAX - array.length) {
        return std::string(kOverflow);
    }
    const std::int64_t end = array.offset + array.length;
    if (shape.element_bytes > 0 && end > INT64_MAX / shape.element_bytes - (shape.offsets ? 1 : 0)) {
        return std::string(kOverflow);  // the buffer's bytes would not fit in 64 bits
    }
    if (array.null_count < -1) {
        return std::string("an array with a negative null count");
    }
    if (array.null_count > array.length) {
        return std::string("an array with more nulls than rows");
    }
    if (shape.more_buffers ? array.n_buffers < shape.buffers : array.n_buffers != shape.buffers) {
        return std::string(shape.buffers_problem);
    }
    if (array.buffers == nullptr) {
        return std::string("an array without its buffers");
    }
    if (array.null_count > 0 && array.buffers[0] == nullptr) {
        return std::string("an array with nulls but no validity bitmap");
    }
    if (array.n_children != shape.children) {
        return std::string(shape.children_problem);
    }
    if (shape.children > 0) {
        if (array.children == nullptr) {
            return std::string(shape.children_problem);
        }
        for (std::int64_t i = 0; i < shape.children; ++i) {
            if (array.children[i] == nullptr) {
                return std::string(shape.children_problem);
            }
        }
    }
    if (shape.dictionary && array.dictionary == nullptr) {
        return std::string(kDictionary);
    }
    if (!shape.dictionary && array.dictionary != nullptr) {
        return std::string("an array with a dictionary its type does not have");
    }
    return std::nullopt;
}

// The validity bitmap to read: none when the array says it has no nulls (a
// null count of -1, not counted, reads the bitmap if there is one).
const void* validity_of(const ArrowArray& array) noexcept {
    return array.null_count == 0 ? nullptr : array.buffers[0];
}

Shape string_shape(StringEncoding encoding) {
    Shape shape;
    shape.buffers = 3;
    switch (encoding) {
        case StringEncoding::Utf8:
            shape.buffers_problem = kStringBuffers;
            shape.element_bytes = 4;
            shape.offsets = true;
            break;
        case StringEncoding::LargeUtf8:
            shape.buffers_problem = kStringBuffers;
            shape.element_bytes = 8;
            shape.offsets = true;
            break;
        case StringEncoding::View:
            shape.more_buffers = true;
            shape.buffers_problem = kViewBuffers;
            shape.element_bytes = 16;
            break;
    }
    return shape;
}

std::variant<StringValues, std::string> view_strings(StringEncoding encoding, const ArrowArray& array) {
    if (std::optional<std::string> problem = check_level(array, string_shape(encoding))) {
        return std::move(*problem);
    }
    StringValues strings;
    strings.encoding = encoding;
    strings.length = array.length;
    strings.offset = array.offset;
    strings.validity = validity_of(array);
    strings.offsets = array.buffers[1];
    if (encoding == StringEncoding::View) {
        // validity, views, the variadic data buffers, and their sizes last.
        strings.variadic_count = array.n_buffers - 3;
        strings.variadic = reinterpret_cast<const char* const*>(array.buffers + 2);
        strings.variadic_sizes = static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
        if ((strings.offsets == nullptr && array.length > 0) ||
            (strings.variadic_sizes == nullptr && strings.variadic_count > 0)) {
            return std::string("a string_view array without its views or buffer sizes");
        }
        return strings;
    }
    strings.data = static_cast<const char*>(array.buffers[2]);
    if (strings.offsets == nullptr && array.length > 0) {
        return std::string("a string array without offsets");
    }
    return strings;
}

// Whether entry `i` of `strings` is valid and cannot be read.
bool entry_corrupt(const StringValues& strings, std::int64_t i) noexcept {
    const std::int64_t at = strings.offset + i;
    if (!bit_is_set(strings.validity, at)) {
        return false;
    }
    std::int64_t start = 0;
    std::int64_t end = 0;
    switch (strings.encoding) {
        case StringEncoding::Utf8:
            start = load<std::int32_t>(strings.offsets, at);
            end = load<std::int32_t>(strings.offsets, at + 1);
            break;
        case StringEncoding::LargeUtf8:
            start = load<std::int64_t>(strings.offsets, at);
            end = load<std::int64_t>(strings.offsets, at + 1);
            break;
        case StringEncoding::View: {
            // A view: int32 length, then either the text itself (up to 12
            // bytes) or a 4-byte prefix, a buffer index and an offset in it.
            const char* view = static_cast<const char*>(strings.offsets) + static_cast<std::size_t>(at) * 16;
            std::int32_t length = 0;
            std::memcpy(&length, view, 4);
            if (length <= 12) {
                return length < 0;
            }
            std::int32_t buffer = 0;
            std::int32_t offset = 0;
            std::memcpy(&buffer, view + 8, 4);
            std::memcpy(&offset, view + 12, 4);
            return buffer < 0 || buffer >= strings.variadic_count || offset < 0 ||
                   static_cast<std::int64_t>(offset) + length > strings.variadic_sizes[buffer] ||
                   strings.variadic[buffer] == nullptr;
        }
    }
    return start < 0 || end < start || (end > start && strings.data == nullptr);
}

// Plain offsets with no null anywhere (the common case): the first entry
// from `from` whose text goes backwards or starts before the data, in one
// pass over the offsets alone.
template <class Offset>
std::int64_t first_bad_offsets(const StringValues& strings, std::int64_t from, std::int64_t to) noexcept {
    const auto* offsets = static_cast<const char*>(strings.offsets);
    Offset previous = load<Offset>(offsets, strings.offset + from);
    if (previous < 0) {
        return from;
    }
    for (std::int64_t i = from; i < to; ++i) {
        const Offset next = load<Offset>(offsets, strings.offset + i + 1);
        if (next < previous || (next > previous && strings.data == nullptr)) {
            return i;
        }
        previous = next;
    }
    return to;
}

}  // namespace

std::variant<ChunkView, std::string> view_chunk(const ColumnLayout& layout, const ArrowArray& array) {
    ChunkView view;
    view.layout = layout;
    const ArrowArray* column = &array;
    if (layout.table) {
        Shape table;
        table.buffers = 1;
        table.buffers_problem = "a table chunk whose buffer count is not 1";
        table.children = 1;
        table.children_problem = kTableColumn;
        if (std::optional<std::string> problem = check_level(array, table)) {
            return std::move(*problem);
        }
        column = array.children[0];
        view.table_validity = validity_of(array);
        view.table_offset = array.offset;
    }
    view.length = array.length;
    if (layout.kind == ColumnKind::Numbers || layout.index_bytes != 0) {
        Shape shape;
        shape.buffers = 2;
        if (layout.kind == ColumnKind::Numbers) {
            shape.buffers_problem = kNumberValues;
            shape.element_bytes = number_bytes(layout.number);
        } else {
            shape.buffers_problem = kDictionary;
            shape.element_bytes = layout.index_bytes;
            shape.dictionary = true;
        }
        if (std::optional<std::string> problem = check_level(*column, shape)) {
            return std::move(*problem);
        }
        if (column->buffers[1] == nullptr && column->length > 0) {
            return std::string(shape.buffers_problem);
        }
        view.column_offset = column->offset;
        view.column_validity = validity_of(*column);
        view.column_values = column->buffers[1];
    }
    if (layout.kind == ColumnKind::Strings) {
        auto strings = view_strings(layout.encoding, layout.index_bytes != 0 ? *column->dictionary : *column);
        if (auto* problem = std::get_if<std::string>(&strings)) {
            return std::move(*problem);
        }
        view.strings = std::get<StringValues>(strings);
    }
    if (layout.table && column->length < array.offset + array.length) {
        return std::string("a table chunk whose column is shorter than the table");
    }
    return view;
}

std::int64_t first_corrupt_row(const ChunkView& view, std::int64_t from) noexcept {
    if (view.layout.kind == ColumnKind::Numbers) {
        return view.length;  // every bit pattern is a number
    }
    const ColumnLayout& layout = view.layout;
    if (from >= view.length) {
        return view.length;
    }
    if (layout.index_bytes == 0 && view.table_validity == nullptr && view.strings.validity == nullptr &&
        view.strings.encoding != StringEncoding::View) {
        const std::int64_t first = view.table_offset + (from < 0 ? 0 : from);
        const std::int64_t end = view.table_offset + view.length;
        const std::int64_t bad = view.strings.encoding == StringEncoding::Utf8
                                     ? first_bad_offsets<std::int32_t>(view.strings, first, end)
                                     : first_bad_offsets<std::int64_t>(view.strings, first, end);
        return bad - view.table_offset;
    }
    for (std::int64_t r = from < 0 ? 0 : from; r < view.length; ++r) {
        const std::int64_t row = view.table_offset + r;
        if (!bit_is_set(view.table_validity, row)) {
            continue;
        }
        if (layout.index_bytes == 0) {
            if (entry_corrupt(view.strings, row)) {
                return r;
            }
            continue;
        }
        const std::int64_t at = view.column_offset + row;
        if (!bit_is_set(view.column_validity, at)) {
            continue;
        }
        const std::int64_t index = index_at(view.column_values, layout.index_bytes, layout.index_signed, at);
        if (index < 0 || index >= view.strings.length || entry_corrupt(view.strings, index)) {
            return r;
        }
    }
    return view.length;
}

}  // namespace veltrane::arrow
