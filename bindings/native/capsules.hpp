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
#include <string_view>

#include "arrow/arrow_abi.hpp"
#include "arrow/column_data.hpp"
#include "runtime/py_result.hpp"
#include "runtime/python.hpp"

namespace veltrane::native {

using namespace veltrane::arrow;  // the Arrow layer is this module's vocabulary

using runtime::PyErr;
using runtime::PyResult;

// Owns an imported struct: releases it once, when it goes out of scope.
template <class Struct>
class Owned {
public:
    Owned() noexcept = default;
    Owned(Owned&& other) noexcept : raw(other.raw) { other.raw.release = nullptr; }
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            raw = other.raw;
            other.raw.release = nullptr;
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    // Takes over `*source` (which is left released).
    static Owned take(Struct* source) noexcept {
        Owned owned;
        owned.raw = *source;
        source->release = nullptr;
        return owned;
    }
    void reset() noexcept {
        if (raw.release != nullptr) {
            raw.release(&raw);
            raw.release = nullptr;
        }
    }

    Struct raw{};
};

using OwnedSchema = Owned<ArrowSchema>;
using OwnedArray = Owned<ArrowArray>;
using OwnedStream = Owned<ArrowArrayStream>;

// Where a parameter's column comes from: a stream of chunks, or one array.
class ChunkSource {
public:
    // Consumes `object`: an "arrow_array_stream" capsule, or a tuple of an
    // "arrow_schema" and an "arrow_array" capsule (what `__arrow_c_array__`
    // returns). The names are for messages: "<function>(): '<parameter>' ...".
    [[nodiscard]] static PyResult<ChunkSource> open(PyObject* object, std::string_view function,
                                                    std::string_view parameter);

    [[nodiscard]] const ArrowSchema& schema() const noexcept { return schema_.raw; }

    // The next chunk, or nothing at the end; a failing stream's error (its
    // get_last_error message) as a RuntimeError. Needs the interpreter lock.
    [[nodiscard]] PyResult<std::optional<OwnedArray>> next();

    ChunkSource(ChunkSource&&) noexcept = default;
    ChunkSource& operator=(ChunkSource&&) noexcept = default;

private:
    ChunkSource() = default;

    std::string_view function_;
    std::string_view parameter_;
    OwnedSchema schema_;
    OwnedStream stream_;   // released (null `release`) when the source is one array
    OwnedArray single_;    // the one array, until next() hands it out
    std::int64_t chunks_read_ = 0;
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
