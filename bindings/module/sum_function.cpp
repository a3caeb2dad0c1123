// def sum_as_string(a: int, b: int) -> str:
//     return str(veltrane_kernel.sum(a, b))    # 64-bit two's-complement wrap
#include <charconv>
#include <cstdint>

#include "module/functions.hpp"
#include "runtime/arguments.hpp"
#include "veltrane_kernel/sum.hpp"

namespace veltrane::functions {
namespace {

using namespace veltrane::runtime;

constexpr std::string_view kParameters[] = {"a", "b"};
constexpr CallSignature kSignature{"sum_as_string", kParameters};

PyResult<PyObject*> sum_as_string_body(const CallArgs& call) {
    PyObject* slots[2];
    if (std::optional<PyErr> error = bind_arguments(kSignature, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> a = extract_i64(slots[0]);
    if (!a) {
        return note_argument_error("a", a.take_error());
    }
    PyResult<std::int64_t> b = extract_i64(slots[1]);
    if (!b) {
        return note_argument_error("b", b.take_error());
    }
    char digits[24];  // "-9223372036854775808" is the longest
    const auto rendered = std::to_chars(digits, digits + sizeof digits, veltrane_kernel::sum(*a, *b));
    return text_result(std::string_view(digits, static_cast<std::size_t>(rendered.ptr - digits)));
}

}  // namespace

PyMethodDef sum_as_string = {
    "sum_as_string", method_of<sum_as_string_body>(), kFunctionFlags,
    "sum_as_string(a, b)\n--\n\n"
    "Python-callable wrapper over [`veltrane_kernel::sum`], returning the result as a string\n"
    "(the canonical first-binding shape \xE2\x80\x94 a real value crossing the FFI boundary)."};

}  // namespace veltrane::functions
