// The body every one-name function of the module shares:
//
//     def body(s: str) -> str:
//         return answer(Vrn.parse(s))       # ValueError(token) when s is not a VRN
//
// The parse is a `VrnView` of the argument's UTF-8 text and the answer is
// written into a scratch buffer on the stack (or is a view of the text): the
// result `str` is the one copy.
#pragma once

#include "answers/answers.hpp"
#include "runtime/arguments.hpp"

namespace veltrane::functions {

template <const runtime::CallSignature& Signature, answers::Answer Answer>
runtime::PyResult<PyObject*> name_answer_body(const runtime::CallArgs& call) {
    runtime::PyResult<std::array<std::string_view, 1>> s = runtime::bind_texts<1>(Signature, call);
    if (!s) {
        return s.take_error();
    }
    const auto parsed = veltrane_kernel::VrnView::parse((*s)[0]);
    if (!parsed) {
        return runtime::PyErr::value_error(parsed.error().kind());
    }
    answers::Scratch scratch;
    return runtime::text_result(Answer(*parsed, scratch));
}

}  // namespace veltrane::functions
