#include "native/column_object.hpp"

#include <atomic>
#include <new>
#include <string>

#include "native/capsules.hpp"
#include "runtime/arguments.hpp"
#include "runtime/fault.hpp"
#include "runtime/frame.hpp"
#include "runtime/object_layout.hpp"
#include "runtime/once_cell.hpp"

namespace veltrane::native {
namespace {

using namespace veltrane::runtime;

// Made in place when the object is made, destroyed when it is freed.
struct ColumnObjectData {
    std::shared_ptr<const ColumnData> data;
    // The chunks joined into one, made by the first __arrow_c_array__ of a
    // result of several chunks and kept (the object is immutable). Two
    // threads may race to make it: the first to store it wins.
    std::atomic<ChunkPtr*> joined{nullptr};
};

using Layout = ObjectLayout<ColumnObjectData>;

ColumnObjectData* as_column(PyObject* self) { return Layout::data(self); }
const ColumnData& data_of(PyObject* self) { return *as_column(self)->data; }

constexpr std::string_view kRequestedSchema[] = {"requested_schema"};
constexpr CallSignature kArrayExport{"__arrow_c_array__", kRequestedSchema, 0, 0};
constexpr CallSignature kStreamExport{"__arrow_c_stream__", kRequestedSchema, 0, 0};
constexpr CallSignature kSchemaExport{"__arrow_c_schema__", {}, 0, 0};
constexpr CallSignature kToPylist{"to_pylist", {}, 0, 0};

PyResult<PyObject*> schema_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kSchemaExport, call, slots)) {
        return std::move(*error);
    }
    return schema_capsule(*data_of(self).chunks.front());
}

// One array: the only chunk, or all of them joined (a copy, made once).
PyResult<PyObject*> array_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[1] = {nullptr};
    if (std::optional<PyErr> error = bind_arguments(kArrayExport, call, slots)) {
        return std::move(*error);
    }
    const ColumnData& data = data_of(self);
    if (std::optional<PyErr> refused = check_requested_schema(slots[0], *data.chunks.front())) {
        return std::move(*refused);
    }
    std::atomic<ChunkPtr*>& kept = as_column(self)->joined;
    ChunkPtr* joined = kept.load(std::memory_order_acquire);
    if (joined == nullptr) {
        auto* fresh = new ChunkPtr(join_chunks(data.chunks));
        if (kept.compare_exchange_strong(joined, fresh, std::memory_order_acq_rel)) {
            joined = fresh;
        } else {
            delete fresh;  // another thread stored its own first
        }
    }
    OwnedRef schema(schema_capsule(**joined));
    OwnedRef array(array_capsule(*joined));
    PyObject* pair = made_or_fault(PyTuple_New(2));
    PyTuple_SetItem(pair, 0, schema.release_ownership());
    PyTuple_SetItem(pair, 1, array.release_ownership());
    return pair;
}

PyResult<PyObject*> stream_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[1] = {nullptr};
    if (std::optional<PyErr> error = bind_arguments(kStreamExport, call, slots)) {
        return std::move(*error);
    }
    if (std::optional<PyErr> refused = check_requested_schema(slots[0], *data_of(self).chunks.front())) {
        return std::move(*refused);
    }
    return stream_capsule(as_column(self)->data);
}

PyObject* row_object(const ArrayData& chunk, std::int64_t row) {
    if (chunk.is_null(row)) {
        Py_IncRef(Py_None);
        return Py_None;
    }
    switch (chunk.kind) {
        case Kind::Utf8:
        case Kind::LargeUtf8: {
            const std::string_view text = chunk.text(row);
            return made_or_fault(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
        }
        case Kind::Float64:
            return made_or_fault(PyFloat_FromDouble(chunk.numbers[static_cast<std::size_t>(row)]));
        case Kind::Struct: {
            OwnedRef fields(made_or_fault(PyDict_New()));
            for (std::size_t i = 0; i < chunk.children.size(); ++i) {
                OwnedRef value(row_object(*chunk.children[i], row));
                const std::string name(kFieldNames[i]);
                if (PyDict_SetItemString(fields.get(), name.c_str(), value.get()) != 0) {
                    null_result_fault();
                }
            }
            return fields.release_ownership();
        }
    }
    panic("a chunk of an unknown kind");
}

PyResult<PyObject*> to_pylist_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kToPylist, call, slots)) {
        return std::move(*error);
    }
    const ColumnData& data = data_of(self);
    OwnedRef list(made_or_fault(PyList_New(static_cast<Py_ssize_t>(data.length))));
    Py_ssize_t index = 0;
    for (const ChunkPtr& chunk : data.chunks) {
        for (std::int64_t row = 0; row < chunk->length; ++row) {
            PyList_SetItem(list.get(), index++, row_object(*chunk, row));  // steals the row
        }
    }
    return list.release_ownership();
}

Py_ssize_t column_length(PyObject* self) { return static_cast<Py_ssize_t>(data_of(self).length); }

PyObject* num_chunks_getter(PyObject* self, void* /*closure*/) {
    return PyLong_FromSize_t(data_of(self).chunks.size());
}

PyObject* column_repr(PyObject* self) {
    const ColumnData& data = data_of(self);
    const char* names[] = {"utf8", "large_utf8", "float64", "struct"};
    const std::string text = "<veltrane_vrn.columns.Column " +
                             std::string(names[static_cast<int>(data.kind())]) + ", " +
                             std::to_string(data.length) + " rows in " + std::to_string(data.chunks.size()) +
                             (data.chunks.size() == 1 ? " chunk>" : " chunks>");
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

void column_dealloc(PyObject* self) {
    ColumnObjectData* column = as_column(self);
    delete column->joined.load(std::memory_order_acquire);
    column->~ColumnObjectData();
    free_instance(self);
}

constexpr int kMethodFlags = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"__arrow_c_schema__", instance_method_of<schema_body>(), kMethodFlags,
     "__arrow_c_schema__($self, /)\n--\n\nThe column's Arrow type, as an \"arrow_schema\" capsule."},
    {"__arrow_c_array__", instance_method_of<array_body>(), kMethodFlags,
     "__arrow_c_array__($self, requested_schema=None)\n--\n\n"
     "The column as one Arrow array: (\"arrow_schema\" capsule, \"arrow_array\" capsule).\n"
     "A result of several chunks is joined into one array (a copy, made once per column)."},
    {"__arrow_c_stream__", instance_method_of<stream_body>(), kMethodFlags,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"
     "The column's chunks as an Arrow stream: an \"arrow_array_stream\" capsule (no copy)."},
    {"to_pylist", instance_method_of<to_pylist_body>(), kMethodFlags,
     "to_pylist($self, /)\n--\n\nThe rows as Python objects (str, dict or float; None for a null row)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kProperties[] = {
    {"num_chunks", &num_chunks_getter, nullptr, "How many chunks the column has (its stream's arrays).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("A column of results: an Arrow array or stream, zero-copy to any Arrow consumer.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&column_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&column_repr)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kProperties},
    {Py_sq_length, reinterpret_cast<void*>(&column_length)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "veltrane_vrn._native.Column",
    Layout::kBasicSize,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    kSlots,
};

HeapType g_column_type(kSpec);

}  // namespace

PyObject* column_type() { return g_column_type.get(); }

PyResult<PyObject*> new_column(std::shared_ptr<const ColumnData> data) {
    auto* type = reinterpret_cast<PyTypeObject*>(column_type());
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = made_or_fault(alloc(type, 0));
    new (as_column(object)) ColumnObjectData{std::move(data)};
    return object;
}

}  // namespace veltrane::native
