// Arrow structures in and out of PyCapsules ("arrow_schema", "arrow_array",
// "arrow_array_stream").
//
// In: a parameter's capsule is consumed (its struct moved out, the capsule
// left with a released struct), and the moved struct is owned by an RAII
// holder that releases it exactly once, on every path, errors included,
// always with the interpreter lock held (a producer may need it).
//
// Out: every exported struct holds shared references to the result's native
// chunks and nothing else, so its release callback needs no interpreter and
// may run on any thread, at any time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "arrow/arrow_abi.hpp"
#include "arrow/column_chunks.hpp"
#include "arrow/column_data.hpp"
#include "arrow/owned.hpp"
#include "runtime/py_result.hpp"
#include "runtime/python.hpp"

namespace veltrane::native {

using namespace veltrane::arrow;  // the Arrow layer is this module's vocabulary

using runtime::PyErr;
using runtime::PyResult;

// Where a parameter's column comes from, opened and checked: the Python side
// of the chunk walk (arrow/column_chunks.hpp), its refusals raised as
// ValueError (malformed structs), TypeError (another type) and RuntimeError
// (a failing stream), each "<function>(): '<parameter>'..." as the walk
// words it.
class ChunkSource {
public:
    // Consumes `object`: an "arrow_array_stream" capsule, or a tuple of an
    // "arrow_schema" and an "arrow_array" capsule (what `__arrow_c_array__`
    // returns), and checks its schema is of a column of `kind`. The names
    // live as long as the source (they are the function's constants).
    [[nodiscard]] static PyResult<ChunkSource> open(PyObject* object, std::string_view function,
                                                    std::string_view parameter, ColumnKind kind,
                                                    ChunkNames names = ChunkNames::Numbered);

    [[nodiscard]] const ColumnLayout& layout() const noexcept { return chunks_.layout(); }

    // The next chunk, checked, or nothing at the end. Needs the interpreter lock.
    [[nodiscard]] PyResult<std::optional<Chunk>> next();

    // The ValueError of the column's corrupt row `row` (counted over all chunks).
    [[nodiscard]] PyErr corrupt_row(std::int64_t row) const;

    ChunkSource(ChunkSource&&) noexcept = default;
    ChunkSource& operator=(ChunkSource&&) noexcept = default;

private:
    ChunkSource(std::string prefix, ColumnChunks chunks) noexcept
        : prefix_(std::move(prefix)), chunks_(std::move(chunks)) {}

    std::string prefix_;  // "<function>(): '<parameter>'"
    ColumnChunks chunks_;
};

// Fills `out` with the schema of a result whose chunks look like `prototype`.
void export_schema(const ArrayData& prototype, ArrowSchema* out, std::string_view name = "");

// Fills `out` with an array over `chunk`; the chunk lives until it is released.
void export_array(const ChunkPtr& chunk, ArrowArray* out);

// Fills `out` with a stream of the result's chunks, in order.
void export_stream(std::shared_ptr<const ColumnData> column, ArrowArrayStream* out);

// New capsules owning freshly exported structs (released by the capsule's
// destructor if no consumer took them).
[[nodiscard]] PyObject* schema_capsule(const ArrayData& prototype);
[[nodiscard]] PyObject* array_capsule(const ChunkPtr& chunk);
[[nodiscard]] PyObject* stream_capsule(std::shared_ptr<const ColumnData> column);

// `requested_schema` of `__arrow_c_array__`/`__arrow_c_stream__`: None or a
// schema of the result's own type is accepted; anything else is refused.
[[nodiscard]] std::optional<PyErr> check_requested_schema(PyObject* requested, const ArrayData& prototype);

}  // namespace veltrane::native
