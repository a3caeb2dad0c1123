// The answers of answers.hpp for the Python-facing modules: bound from a
// call's arguments, raised as ValueError(token).
//
//     def name_answer_body(s: str) -> str:     # every one-name function of
//         return answer(Vrn.parse(s))          # veltrane_py_bindings
//
//     def bound_build(service, region, org, resource_type, resource_id) -> str:
//         return build(...)                    # vrn_build and Vrn.build
//
// The parse is a `VrnView` of the argument's UTF-8 text and the answer is
// written into a scratch buffer on the stack (or is a view of the text): the
// result `str` is the one copy.
#pragma once

#include "answers/answers.hpp"
#include "runtime/arguments.hpp"

namespace veltrane::answers {

template <const runtime::CallSignature& Signature, Answer TheAnswer>
runtime::PyResult<PyObject*> name_answer_body(const runtime::CallArgs& call) {
    runtime::PyResult<std::array<std::string_view, 1>> s = runtime::bind_texts<1>(Signature, call);
    if (!s) {
        return s.take_error();
    }
    const auto parsed = veltrane_kernel::VrnView::parse((*s)[0]);
    if (!parsed) {
        return runtime::PyErr::value_error(parsed.error().kind());
    }
    Scratch scratch;
    return runtime::text_result(TheAnswer(*parsed, scratch));
}

// Binds the five fields of a build (`signature` names them) and builds the
// name: its canonical text in `scratch`, or ValueError(token).
inline runtime::PyResult<std::string_view> bound_build(const runtime::CallSignature& signature,
                                                       const runtime::CallArgs& call, Scratch& scratch) {
    runtime::PyResult<BuildFields> fields = runtime::bind_texts<5>(signature, call);
    if (!fields) {
        return fields.take_error();
    }
    const auto built = build(*fields, scratch);
    if (!built) {
        return runtime::PyErr::value_error(built.error());
    }
    return *built;
}

}  // namespace veltrane::answers
