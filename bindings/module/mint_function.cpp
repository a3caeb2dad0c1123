// def mint_uuid7(unix_ms: float, rand_hex: str) -> str:
//     return str(Uuid.mint_v7(float(unix_ms), rand_hex))
//     # ValueError("bad-rand-hex") before ValueError("bad-unix-ms")
#include "answers/answers.hpp"
#include "module/functions.hpp"
#include "runtime/arguments.hpp"

namespace veltrane::functions {
namespace {

using namespace veltrane::runtime;

constexpr std::string_view kParameters[] = {"unix_ms", "rand_hex"};
constexpr CallSignature kSignature{"mint_uuid7", kParameters};

PyResult<PyObject*> mint_uuid7_body(const CallArgs& call) {
    PyObject* slots[2];
    if (std::optional<PyErr> error = bind_arguments(kSignature, call, slots)) {
        return std::move(*error);
    }
    PyResult<double> unix_ms = extract_f64(slots[0]);
    if (!unix_ms) {
        return note_argument_error("unix_ms", unix_ms.take_error());
    }
    PyResult<std::string_view> rand_hex = extract_text(slots[1]);
    if (!rand_hex) {
        return note_argument_error("rand_hex", rand_hex.take_error());
    }
    answers::Scratch scratch;
    const auto minted = answers::mint_uuid7(*unix_ms, *rand_hex, scratch);
    if (!minted) {
        return PyErr::value_error(minted.error());
    }
    return text_result(*minted);
}

}  // namespace

PyMethodDef mint_uuid7 = {
    "mint_uuid7", method_of<mint_uuid7_body>(), kFunctionFlags,
    "mint_uuid7(unix_ms, rand_hex)\n--\n\n"
    "Mint a UUIDv7 from an injected millisecond timestamp and a 20-char lowercase hex string of\n"
    "entropy (raises `ValueError(\"bad-rand-hex\")` if `rand_hex` is malformed, or\n"
    "`ValueError(\"bad-unix-ms\")` if `unix_ms` is not finite/non-negative/integral)."};

}  // namespace veltrane::functions
