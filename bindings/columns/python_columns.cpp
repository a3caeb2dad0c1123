// Columns made from Python sequences (the convenience path of the column API,
// one object per row by nature), and the module's private test hooks.
//
//     def strings_column(values, name="values"):   # str or None per row
//         return Column(utf8, [None if v is None else str_utf8(v) for v in values])
//
//     def numbers_column(values, name="values"):   # float(v) or None per row,
//         return Column(float64, [...])            # the per-call conversion
#include <string>

#include "columns/column_object.hpp"
#include "columns/functions.hpp"
#include "columns/string_builder.hpp"
#include "columns/test_hooks.hpp"
#include "runtime/arguments.hpp"
#include "runtime/frame.hpp"

namespace veltrane::columns {
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

constexpr std::string_view kLimitParameters[] = {"limit"};
constexpr CallSignature kSetLimit{"_set_utf8_limit", kLimitParameters};

// _set_utf8_limit(limit) -> the old limit: text bytes a result keeps as utf8.
PyResult<PyObject*> set_utf8_limit_body(const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kSetLimit, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> limit = extract_i64(slots[0]);
    if (!limit) {
        return note_argument_error("limit", limit.take_error());
    }
    if (*limit < 0 || *limit > kUtf8ByteLimit) {
        return PyErr::with_message(PyExc_ValueError, std::string("limit must be in [0, 2**31 - 1]"));
    }
    PyObject* old = PyLong_FromLongLong(set_utf8_byte_limit(*limit));
    if (old == nullptr) {
        null_result_fault();
    }
    return old;
}

constexpr std::string_view kRendezvousParameters[] = {"parties", "timeout_ms"};
constexpr CallSignature kArm{"_arm_rendezvous", kRendezvousParameters};
constexpr CallSignature kMet{"_rendezvous_met", {}};

PyResult<PyObject*> arm_rendezvous_body(const CallArgs& call) {
    PyObject* slots[2];
    if (std::optional<PyErr> error = bind_arguments(kArm, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> parties = extract_i64(slots[0]);
    if (!parties) {
        return note_argument_error("parties", parties.take_error());
    }
    PyResult<std::int64_t> timeout = extract_i64(slots[1]);
    if (!timeout) {
        return note_argument_error("timeout_ms", timeout.take_error());
    }
    arm_rendezvous(static_cast<int>(*parties), *timeout);
    Py_IncRef(Py_None);
    return Py_None;
}

PyResult<PyObject*> rendezvous_met_body(const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kMet, call, slots)) {
        return std::move(*error);
    }
    PyObject* met = PyLong_FromLong(rendezvous_met());
    if (met == nullptr) {
        null_result_fault();
    }
    return met;
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
PyMethodDef set_utf8_limit = {
    "_set_utf8_limit", method_of<set_utf8_limit_body>(), kFunctionFlags,
    "_set_utf8_limit(limit)\n--\n\n"
    "For tests: the text bytes a result keeps as utf8 before it is large_utf8; returns the old limit."};
PyMethodDef arm_rendezvous = {
    "_arm_rendezvous", method_of<arm_rendezvous_body>(), kFunctionFlags,
    "_arm_rendezvous(parties, timeout_ms)\n--\n\n"
    "For tests: the next `parties` kernel runs over a chunk wait for each other, without the lock."};
PyMethodDef rendezvous_met = {
    "_rendezvous_met", method_of<rendezvous_met_body>(), kFunctionFlags,
    "_rendezvous_met()\n--\n\nFor tests: how many armed kernel runs met all the others in time."};

}  // namespace functions
}  // namespace veltrane::columns
