#include "arrow/string_reader.hpp"

namespace veltrane::arrow {

StringChunkReader::StringChunkReader(const ChunkView& view) noexcept
    : length_(view.length),
      table_validity_(view.table_validity),
      table_offset_(view.table_offset),
      indices_(view.column_values),
      column_offset_(view.column_offset),
      column_validity_(view.column_validity),
      index_bytes_(view.layout.index_bytes),
      index_signed_(view.layout.index_signed),
      strings_(view.strings) {}

std::optional<OffsetRun> offset_run(const ChunkView& view) noexcept {
    const StringValues& strings = view.strings;
    if (view.layout.kind != ColumnKind::Strings || view.layout.index_bytes != 0 || view.length == 0 ||
        view.table_validity != nullptr || strings.validity != nullptr || strings.data == nullptr ||
        strings.encoding == StringEncoding::View) {
        return std::nullopt;
    }
    const bool large = strings.encoding == StringEncoding::LargeUtf8;
    const auto first = static_cast<std::size_t>(strings.offset + view.table_offset);
    return OffsetRun{strings.data, static_cast<const char*>(strings.offsets) + first * (large ? 8 : 4),
                     view.length, large};
}

Cell StringChunkReader::read_entry(std::int64_t entry, std::string_view& text) const noexcept {
    const std::int64_t at = strings_.offset + entry;
    if (!bit_is_set(strings_.validity, at)) {
        return Cell::Null;
    }
    std::int64_t start = 0;
    std::int64_t end = 0;
    switch (strings_.encoding) {
        case StringEncoding::Utf8:
            start = load<std::int32_t>(strings_.offsets, at);
            end = load<std::int32_t>(strings_.offsets, at + 1);
            break;
        case StringEncoding::LargeUtf8:
            start = load<std::int64_t>(strings_.offsets, at);
            end = load<std::int64_t>(strings_.offsets, at + 1);
            break;
        case StringEncoding::View: {
            const char* view = static_cast<const char*>(strings_.offsets) + static_cast<std::size_t>(at) * 16;
            std::int32_t length = 0;
            std::memcpy(&length, view, 4);
            if (length <= 12) {
                text = std::string_view(view + 4, static_cast<std::size_t>(length));
                return Cell::Value;
            }
            std::int32_t buffer = 0;
            std::int32_t offset = 0;
            std::memcpy(&buffer, view + 8, 4);
            std::memcpy(&offset, view + 12, 4);
            text = std::string_view(strings_.variadic[buffer] + offset, static_cast<std::size_t>(length));
            return Cell::Value;
        }
    }
    text = std::string_view(end == start ? "" : strings_.data + start, static_cast<std::size_t>(end - start));
    return Cell::Value;
}

}  // namespace veltrane::arrow
