#include "arrow/column_chunks.hpp"

namespace veltrane::arrow {
namespace {

std::string last_error(ArrowArrayStream& stream, int code) {
    const char* message = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
    std::string text = message != nullptr ? std::string(message) : std::string("no message");
    return text + " (error code " + std::to_string(code) + ")";
}

Problem malformed(std::string problem) { return Problem{Refusal::Malformed, ": the Arrow data is " + problem}; }

}  // namespace

std::string corrupt_row_text(std::int64_t row) { return " holds invalid Arrow data at row " + std::to_string(row); }

std::optional<Problem> ColumnChunks::read_type(ColumnChunks& column, ColumnKind kind) {
    if (std::optional<std::string> problem = check_schema(column.schema_.raw)) {
        return malformed(std::move(*problem));
    }
    auto layout = column_layout(column.schema_.raw, kind);
    if (auto* found = std::get_if<std::string>(&layout)) {
        const char* wanted = kind == ColumnKind::Strings ? "a column of strings (utf8, large_utf8 or string_view)"
                                                         : "a column of integers or floats";
        return Problem{Refusal::WrongType, std::string(" must be ") + wanted + ", found Arrow format " + *found};
    }
    column.layout_ = std::get<ColumnLayout>(layout);
    return std::nullopt;
}

std::variant<ColumnChunks, Problem> ColumnChunks::of_array(ArrowSchema* schema, ArrowArray* array, ColumnKind kind,
                                                           ChunkNames names) {
    ColumnChunks column;
    column.names_ = names;
    column.schema_ = OwnedSchema::take(schema);
    column.single_ = OwnedArray::take(array);
    if (std::optional<Problem> problem = read_type(column, kind)) {
        return std::move(*problem);
    }
    return column;
}

std::variant<ColumnChunks, Problem> ColumnChunks::of_stream(ArrowArrayStream* stream, ColumnKind kind,
                                                            ChunkNames names) {
    ColumnChunks column;
    column.names_ = names;
    column.stream_ = OwnedStream::take(stream);
    ArrowArrayStream& owned = column.stream_.raw;
    if (owned.get_schema == nullptr || owned.get_next == nullptr) {
        return malformed("a stream without its get_schema or get_next callback");
    }
    ArrowSchema schema{};  // a producer that writes nothing leaves it released
    const int code = owned.get_schema(&owned, &schema);
    if (code != 0) {
        // Nothing was written on failure: whatever `schema` holds is not ours.
        return Problem{Refusal::StreamFailed,
                       ": reading the Arrow stream's schema failed: " + last_error(owned, code)};
    }
    if (schema.release == nullptr) {
        return Problem{Refusal::StreamFailed,
                       ": reading the Arrow stream's schema failed: it reported success but gave no schema"};
    }
    column.schema_ = OwnedSchema::take(&schema);
    if (std::optional<Problem> problem = read_type(column, kind)) {
        return std::move(*problem);
    }
    return column;
}

std::variant<std::optional<Chunk>, Problem> ColumnChunks::next() {
    if (ended_) {
        return std::optional<Chunk>();
    }
    OwnedArray array;
    if (stream_.owns()) {
        const int code = stream_.raw.get_next(&stream_.raw, &array.raw);
        if (code != 0) {
            array.raw.release = nullptr;  // nothing was written on failure
            std::string text = ": reading chunk " + std::to_string(chunks_read_) +
                               " of the Arrow stream failed: " + last_error(stream_.raw, code);
            ended_ = true;
            stream_.reset();  // a failed stream is released now, before the error is raised
            return Problem{Refusal::StreamFailed, std::move(text)};
        }
    } else {
        array = std::move(single_);
    }
    if (!array.owns()) {
        ended_ = true;  // the end of the stream (a released array), or the one array given out
        return std::optional<Chunk>();
    }
    auto view = view_chunk(layout_, array.raw);
    if (auto* problem = std::get_if<std::string>(&view)) {
        ended_ = true;
        std::string text = names_ == ChunkNames::Numbered
                               ? ": chunk " + std::to_string(chunks_read_) + " of the Arrow data is " + *problem
                               : ": the Arrow data is " + *problem;
        return Problem{Refusal::Malformed, std::move(text)};
    }
    ++chunks_read_;
    return std::optional<Chunk>(Chunk(std::move(array), std::get<ChunkView>(view)));
}

}  // namespace veltrane::arrow
