// The argument conversions, their error reporting, and the result conversion.
#include <string>

#include "runtime/arguments.hpp"
#include "runtime/once_cell.hpp"

namespace veltrane::runtime {

static_assert(sizeof(long) == sizeof(std::int64_t), "PyLong_AsLong must be 64 bits wide");

PyErr type_mismatch_error(PyObject* object, PyTypeObject* expected_type) noexcept {
    return PyErr::type_mismatch(object, reinterpret_cast<PyObject*>(expected_type));
}

PyErr detail::pending_conversion_error() { return PyErr::fetch_pending(); }

// Every object but an exact str: str subclasses, and everything else.
PyResult<std::string_view> detail::extract_text_checked(PyObject* object) {
    if ((PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_UNICODE_SUBCLASS) == 0) {
        return type_mismatch_error(object, &PyUnicode_Type);
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) {
        return PyErr::fetch_pending();
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

PyResult<std::int64_t> extract_i64(PyObject* object) {
    const long value = PyLong_AsLong(object);
    if (value == -1) {
        // -1 is also a value; it is a failure only when an exception is pending.
        if (std::optional<PyErr> error = PyErr::take_pending()) {
            return std::move(*error);
        }
    }
    return static_cast<std::int64_t>(value);
}

PyResult<double> extract_f64(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0) {
        if (std::optional<PyErr> error = PyErr::take_pending()) {
            return std::move(*error);
        }
    }
    return value;
}

PyErr note_argument_error(std::string_view parameter, PyErr error) {
    return with_note(std::move(error), "while processing '" + std::string(parameter) + "'");
}

PyErr with_note(PyErr error, std::string_view text) {
    OwnedRef note(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!note) {
        null_result_fault();
    }
    PyObject* add_note = name_add_note();
    PyObject* arguments[] = {PyErr::instance(error), note.get()};
    OwnedRef result(PyObject_VectorcallMethod(add_note, arguments,
                                              2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!result) {
        // The note is a courtesy: the error goes on without it.
        (void)PyErr::take_pending();
    }
    return error;
}

PyResult<PyObject*> text_result(std::string_view text) {
    PyObject* result = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (result == nullptr) {
        null_result_fault();
    }
    return result;
}

}  // namespace veltrane::runtime
