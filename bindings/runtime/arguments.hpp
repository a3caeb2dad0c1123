// Argument binding and conversion: from a fast call's argument vector to
// native values, and from a native text back to a `str`.
//
// Every parameter of every function is positional-or-keyword and required,
// so binding is: positional arguments fill the first slots, keywords fill the
// slot of the parameter they name, and every slot must end up filled. Failures
// report, in this order: too many positional arguments, the first bad keyword,
// the missing parameters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "runtime/frame.hpp"
#include "runtime/py_err.hpp"
#include "runtime/py_result.hpp"
#include "runtime/python.hpp"

namespace veltrane::runtime {

// The most parameters any function has (`vrn_build`).
inline constexpr std::size_t kMaxParameters = 5;

// The static description of a function's parameters that binding reads.
struct CallSignature {
    std::string_view function_name;              // the Python name, e.g. "vrn_org"
    std::span<const std::string_view> parameters;  // in declaration order
    std::size_t positional_only = 0;             // none of ours has any
    std::size_t required = parameters.size();    // all of ours are required
};

namespace detail {
std::optional<PyErr> bind_with_keywords(const CallSignature& signature, const CallArgs& call,
                                        PyObject** slots);
PyResult<std::string_view> extract_text_checked(PyObject* object);
PyErr pending_conversion_error();
}  // namespace detail

// Fills `slots[0 .. parameters.size())` with borrowed references to the bound
// arguments, or returns the binding `TypeError`. Allocates nothing on success.
[[nodiscard]] inline std::optional<PyErr> bind_arguments(const CallSignature& signature,
                                                         const CallArgs& call, PyObject** slots) {
    // The common call, every argument by position, stays inline.
    const std::size_t parameter_count = signature.parameters.size();
    if (call.kwnames == nullptr && static_cast<std::size_t>(call.nargs) == parameter_count) {
        for (std::size_t i = 0; i < parameter_count; ++i) {
            slots[i] = call.args[i];
        }
        return std::nullopt;
    }
    return detail::bind_with_keywords(signature, call, slots);
}

// A read-only view of a `str`'s cached UTF-8 form, valid for the call. A `str`
// subclass gives its `str` value; its `__str__` is never called.
[[nodiscard]] inline PyResult<std::string_view> extract_text(PyObject* object) {
    if (Py_TYPE(object) != &PyUnicode_Type) {  // an exact str needs no flag lookup
        return detail::extract_text_checked(object);
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) {
        return detail::pending_conversion_error();
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

// The interpreter's integer conversion (int, bool, `__index__`).
[[nodiscard]] PyResult<std::int64_t> extract_i64(PyObject* object);

// The interpreter's float conversion (float, int, `__float__`, `__index__`).
[[nodiscard]] PyResult<double> extract_f64(PyObject* object);

// The same error, materialised, with one more note (in `__notes__`). If adding
// the note fails, the error goes on without it.
[[nodiscard]] PyErr with_note(PyErr error, std::string_view note);

// The same error, materialised, with the note "while processing '<parameter>'".
[[nodiscard]] PyErr note_argument_error(std::string_view parameter, PyErr error);

// A lazy `TypeError` "'<actual>' object is not an instance of '<expected>'".
[[nodiscard]] PyErr type_mismatch_error(PyObject* object, PyTypeObject* expected_type) noexcept;

// A new `str` from the body's UTF-8 text.
[[nodiscard]] PyResult<PyObject*> text_result(std::string_view text);

// Binds all `N` parameters and converts each, in order, to text: the whole
// argument handling of a function that takes only `str` parameters.
template <std::size_t N>
PyResult<std::array<std::string_view, N>> bind_texts(const CallSignature& signature,
                                                     const CallArgs& call) {
    PyObject* slots[N];
    if (std::optional<PyErr> error = bind_arguments(signature, call, slots)) {
        return std::move(*error);
    }
    std::array<std::string_view, N> texts;
    for (std::size_t i = 0; i < N; ++i) {
        PyResult<std::string_view> text = extract_text(slots[i]);
        if (!text) {
            return note_argument_error(signature.parameters[i], text.take_error());
        }
        texts[i] = *text;
    }
    return texts;
}

}  // namespace veltrane::runtime
