// Walks a column through the library's chunk walk and records what it gave.
#pragma once

#include <variant>

#include "arrow/column_chunks.hpp"
#include "producer.hpp"

namespace veltrane::arrow::testing {

struct Walked {
    Rows rows;                          // strings, or numbers as text
    std::vector<std::int64_t> corrupt;  // each chunk's first corrupt row (its length if none)
    std::optional<Problem> problem;
};

inline void read_chunks(std::variant<ColumnChunks, Problem> opened, Walked& walked) {
    if (auto* problem = std::get_if<Problem>(&opened)) {
        walked.problem = *problem;
        return;
    }
    ColumnChunks& column = std::get<ColumnChunks>(opened);
    while (true) {
        auto next = column.next();
        if (auto* problem = std::get_if<Problem>(&next)) {
            walked.problem = *problem;
            return;
        }
        auto& chunk = std::get<std::optional<Chunk>>(next);
        if (!chunk) {
            return;
        }
        const std::int64_t clean = chunk->first_corrupt_row();
        walked.corrupt.push_back(clean);
        if (column.layout().kind == ColumnKind::Strings) {
            const StringChunkReader reader(chunk->view());
            std::string_view text;
            for (std::int64_t row = 0; row < clean; ++row) {
                walked.rows.push_back(reader.read(row, text) == Cell::Null ? std::nullopt
                                                                            : std::optional<std::string>(text));
            }
        } else {
            const NumberChunkReader reader(chunk->view());
            double value = 0;
            for (std::int64_t row = 0; row < clean; ++row) {
                walked.rows.push_back(reader.read(row, value) == Cell::Null
                                          ? std::nullopt
                                          : std::optional<std::string>(std::to_string(value)));
            }
        }
    }
}

inline Walked walk_array(ArrowSchema schema, ArrowArray array, ColumnKind kind = ColumnKind::Strings,
                         ChunkNames names = ChunkNames::Numbered) {
    Walked walked;
    read_chunks(ColumnChunks::of_array(&schema, &array, kind, names), walked);
    return walked;
}

inline Walked walk_stream(ArrowArrayStream stream, ColumnKind kind = ColumnKind::Strings,
                          ChunkNames names = ChunkNames::Numbered) {
    Walked walked;
    read_chunks(ColumnChunks::of_stream(&stream, kind, names), walked);
    return walked;
}

}  // namespace veltrane::arrow::testing
