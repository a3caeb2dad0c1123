// Columns made from Python sequences (the convenience path of the column API,
// one object per row by nature).
//
//     def strings_column(values, name="values"):   # str or None per row
//         return Column(utf8, [None if v is None else str_utf8(v) for v in values])
//
//     def numbers_column(values, name="values"):   # float(v) or None per row,
//         return Column(float64, [...])            # the per-call conversion
#include <string>

#include "native/column_object.hpp"
#include "native/functions.hpp"
#include "arrow/string_builder.hpp"
#include "runtime/arguments.hpp"
#include "runtime/frame.hpp"

namespace veltrane::native {
namespace {

using namespace veltrane::runtime;

constexpr std::string_view kValuesParameters[] = {"values", "name"};
constexpr CallSignature kStrings{"strings_column", kValuesParameters, 0, 1};
constexpr CallSignature kNumbers{"numbers_column", kValuesParameters, 0, 1};

std::string row_note(std::int64_t row, std::string_view name) {
    return "while processing row " + std::to_string(row) + " of '" + std::string(name) + "'";
}

// Calls `append(item, row)` for every item of the iterable `values`.
template <class Append>
std::optional<PyErr> for_each_item(PyObject* values, std::string_view function, Append append) {
    const unsigned long flags = PyType_GetFlags(Py_TYPE(values));
    if ((flags & (Py_TPFLAGS_UNICODE_SUBCLASS | Py_TPFLAGS_BYTES_SUBCLASS)) != 0) {
        return PyErr::with_message(PyExc_TypeError, std::string(function) +
                                                        "(): a str or bytes is not a sequence of rows");
    }
    OwnedRef iterator(PyObject_GetIter(values));
    if (!iterator) {
        return PyErr::fetch_pending();
    }
    std::int64_t row = 0;
    while (true) {
        OwnedRef item(PyIter_Next(iterator.get()));
        if (!item) {
            if (std::optional<PyErr> error = PyErr::take_pending()) {
                return error;
            }
            return std::nullopt;
        }
        if (std::optional<PyErr> error = append(item.get(), row)) {
            return error;
        }
        ++row;
    }
}

std::string_view name_of(PyObject* slot, std::string_view fallback) {
    if (slot == nullptr) {
        return fallback;
    }
    PyResult<std::string_view> text = extract_text(slot);
    return text ? *text : fallback;
}

std::shared_ptr<const ColumnData> one_chunk(std::shared_ptr<ArrayData> chunk) {
    if ((chunk->kind == Kind::Utf8) && static_cast<std::int64_t>(chunk->data.size()) > utf8_byte_limit()) {
        widen_to_large(*chunk);
    }
    auto column = std::make_shared<ColumnData>();
    column->length = chunk->length;
    column->chunks.push_back(std::move(chunk));
    return column;
}

PyResult<PyObject*> strings_column_body(const CallArgs& call) {
    PyObject* slots[2] = {};
    if (std::optional<PyErr> error = bind_arguments(kStrings, call, slots)) {
        return std::move(*error);
    }
    const std::string_view name = name_of(slots[1], "values");
    StringBuilder builder;
    std::optional<PyErr> failed =
        for_each_item(slots[0], "strings_column", [&](PyObject* item, std::int64_t row) -> std::optional<PyErr> {
            if (item == Py_None) {
                builder.append_null();
                return std::nullopt;
            }
            PyResult<std::string_view> text = extract_text(item);
            if (!text) {
                return with_note(text.take_error(), row_note(row, name));
            }
            builder.append(*text);
            return std::nullopt;
        });
    if (failed) {
        return std::move(*failed);
    }
    return new_column(one_chunk(builder.finish()));
}

PyResult<PyObject*> numbers_column_body(const CallArgs& call) {
    PyObject* slots[2] = {};
    if (std::optional<PyErr> error = bind_arguments(kNumbers, call, slots)) {
        return std::move(*error);
    }
    const std::string_view name = name_of(slots[1], "values");
    NumberBuilder builder;
    std::optional<PyErr> failed =
        for_each_item(slots[0], "numbers_column", [&](PyObject* item, std::int64_t row) -> std::optional<PyErr> {
            if (item == Py_None) {
                builder.append_null();
                return std::nullopt;
            }
            PyResult<double> number = extract_f64(item);
            if (!number) {
                return with_note(number.take_error(), row_note(row, name));
            }
            builder.append(*number);
            return std::nullopt;
        });
    if (failed) {
        return std::move(*failed);
    }
    return new_column(one_chunk(builder.finish()));
}

}  // namespace

namespace functions {

PyMethodDef strings_column = {
    "strings_column", method_of<strings_column_body>(), kFunctionFlags,
    "strings_column(values, name='values')\n--\n\n"
    "A utf8 Column from an iterable of str or None (None is a null row)."};
PyMethodDef numbers_column = {
    "numbers_column", method_of<numbers_column_body>(), kFunctionFlags,
    "numbers_column(values, name='values')\n--\n\n"
    "A float64 Column from an iterable of numbers or None, each converted as float() converts it."};
}  // namespace functions
}  // namespace veltrane::native
