// Python text as UTF-8, for messages and fault reports.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "runtime/python.hpp"

namespace veltrane::runtime {

// A message that is either a constant of the program or formatted at run time.
using Text = std::variant<std::string_view, std::string>;

[[nodiscard]] inline std::string_view view_of(const Text& text) noexcept {
    if (const auto* constant = std::get_if<std::string_view>(&text)) {
        return *constant;
    }
    return *std::get_if<std::string>(&text);
}

// The UTF-8 text of a `str`. A text without a UTF-8 form (it holds a lone
// surrogate) is encoded with "surrogatepass" and decoded back with every
// invalid sequence replaced by U+FFFD, so a lone surrogate shows as three
// replacement characters. Never fails; leaves no exception pending.
[[nodiscard]] std::string lenient_utf8(PyObject* text);

// `str(object)` as lenient UTF-8, or `fallback` when `str()` fails.
[[nodiscard]] std::string str_or(PyObject* object, std::string_view fallback);

// `repr(object)` as lenient UTF-8, or `fallback` when `repr()` fails.
[[nodiscard]] std::string repr_or(PyObject* object, std::string_view fallback);

// The qualified name of a type, or `fallback` when it cannot be read.
[[nodiscard]] std::string type_qualname_or(PyTypeObject* type, std::string_view fallback);

// Drops the interpreter's pending exception, if any, without looking at it.
void discard_pending_exception() noexcept;

}  // namespace veltrane::runtime
