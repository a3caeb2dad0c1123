// An imported column, opened, checked and walked chunk by chunk: the one walk
// every reader of Arrow input uses, and the texts of everything that can be
// wrong with such input.
//
// A column is a schema and one array (`__arrow_c_array__`) or a stream
// (`__arrow_c_stream__`). Opening it takes over the structs, reads the schema
// (a stream's through get_schema), checks its structure and its type; each
// next() takes the next array, checks it whole (chunk_view.hpp) and hands it
// out as a Chunk, which releases it when it goes. Every struct taken over is
// released exactly once, on every path, refusals included. A stream's
// callbacks are called on the caller's thread (the one holding whatever lock
// the producer may need).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "arrow/arrow_abi.hpp"
#include "arrow/arrow_read.hpp"
#include "arrow/chunk_view.hpp"
#include "arrow/number_reader.hpp"
#include "arrow/owned.hpp"
#include "arrow/string_reader.hpp"

namespace veltrane::arrow {

// Why a column was refused; the caller raises ValueError, TypeError and
// RuntimeError for them.
enum class Refusal : std::uint8_t {
    Malformed,     // structs that do not describe any readable array
    WrongType,     // a well formed column of another type
    StreamFailed,  // the producer's stream reported an error
};

// A refusal and its text, which follows "<function>(): '<parameter>'".
struct Problem {
    Refusal refusal = Refusal::Malformed;
    std::string text;
};

// How the error of a malformed chunk names it: ": chunk 3 of the Arrow data
// is ..." (the column functions), or ": the Arrow data is ..." (the scanner).
enum class ChunkNames : std::uint8_t { Numbered, Unnumbered };

// " holds invalid Arrow data at row <row>": the text for a chunk's first
// corrupt row, counted over the whole column.
[[nodiscard]] std::string corrupt_row_text(std::int64_t row);

// One checked chunk; owns its array.
class Chunk {
public:
    Chunk(OwnedArray array, const ChunkView& view) noexcept : array_(std::move(array)), view_(view) {}

    [[nodiscard]] const ChunkView& view() const noexcept { return view_; }
    [[nodiscard]] std::int64_t length() const noexcept { return view_.length; }
    // The first row from `from` on that cannot be read (length() if none).
    [[nodiscard]] std::int64_t first_corrupt_row(std::int64_t from = 0) const noexcept {
        return arrow::first_corrupt_row(view_, from);
    }

private:
    OwnedArray array_;  // the view points into what it owns, never into the struct itself
    ChunkView view_;
};

class ColumnChunks {
public:
    // Take over `*schema` and `*array` (both left released): one chunk.
    [[nodiscard]] static std::variant<ColumnChunks, Problem> of_array(ArrowSchema* schema, ArrowArray* array,
                                                                      ColumnKind kind, ChunkNames names);
    // Takes over `*stream` (left released).
    [[nodiscard]] static std::variant<ColumnChunks, Problem> of_stream(ArrowArrayStream* stream, ColumnKind kind,
                                                                       ChunkNames names);

    [[nodiscard]] const ColumnLayout& layout() const noexcept { return layout_; }

    // The next chunk, checked; nothing after the last. A stream that fails is
    // released at once; after a refusal or the end, there is nothing more.
    [[nodiscard]] std::variant<std::optional<Chunk>, Problem> next();

    ColumnChunks(ColumnChunks&&) noexcept = default;
    ColumnChunks& operator=(ColumnChunks&&) noexcept = default;
    ColumnChunks(const ColumnChunks&) = delete;
    ColumnChunks& operator=(const ColumnChunks&) = delete;
    ~ColumnChunks() = default;

private:
    ColumnChunks() = default;
    [[nodiscard]] static std::optional<Problem> read_type(ColumnChunks& column, ColumnKind kind);

    OwnedSchema schema_;
    OwnedStream stream_;  // released (null `release`) when the column is one array
    OwnedArray single_;   // the one array, until next() hands it out
    ColumnLayout layout_;
    ChunkNames names_ = ChunkNames::Numbered;
    std::int64_t chunks_read_ = 0;
    bool ended_ = false;
};

}  // namespace veltrane::arrow
