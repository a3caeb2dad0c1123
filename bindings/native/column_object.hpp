// `Column`: what every column function returns.
//
//     class Column:                    # immutable; made only by this module
//         def __len__(self) -> int
//         num_chunks: int
//         def __arrow_c_schema__(self) -> capsule
//         def __arrow_c_array__(self, requested_schema=None) -> (capsule, capsule)
//         def __arrow_c_stream__(self, requested_schema=None) -> capsule
//         def to_pylist(self) -> list
//
// It holds its chunks by shared reference; the exported structs hold their own
// references, so they outlive the object if the consumer keeps them.
#pragma once

#include <memory>

#include "arrow/column_data.hpp"
#include "runtime/py_result.hpp"
#include "runtime/python.hpp"

namespace veltrane::native {

using namespace veltrane::arrow;  // the Arrow layer is this module's vocabulary

// The type (a borrowed reference kept for the life of the process).
[[nodiscard]] PyObject* column_type();

// A new `Column` over `data`.
[[nodiscard]] runtime::PyResult<PyObject*> new_column(std::shared_ptr<const ColumnData> data);

}  // namespace veltrane::native
