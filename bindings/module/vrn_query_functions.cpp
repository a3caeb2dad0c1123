// The six questions one can ask of a VRN text, each answered by a fresh parse:
//
//     def vrn_error_kind(s: str) -> str:     # "" when s parses, else its token
//         try: Vrn.parse(s); return ""
//         except VrnError as e: return e.kind
//
//     def vrn_service(s: str) -> str:        # and region, org, resource_type,
//         return Vrn.parse(s).service        # resource_id; ValueError(token)
//                                            # when s is not a VRN
//
// The answers themselves are those of answers/answers.hpp, which every other
// surface (columns, the vrn command, Vrn) gives too.
#include "module/functions.hpp"
#include "answers/python_answers.hpp"

namespace veltrane::functions {
namespace {

using namespace veltrane::runtime;

constexpr std::string_view kParameters[] = {"s"};
constexpr CallSignature kErrorKind{"vrn_error_kind", kParameters};
constexpr CallSignature kService{"vrn_service", kParameters};
constexpr CallSignature kRegion{"vrn_region", kParameters};
constexpr CallSignature kOrg{"vrn_org", kParameters};
constexpr CallSignature kResourceType{"vrn_resource_type", kParameters};
constexpr CallSignature kResourceId{"vrn_resource_id", kParameters};

PyResult<PyObject*> error_kind_body(const CallArgs& call) {
    PyResult<std::array<std::string_view, 1>> s = bind_texts<1>(kErrorKind, call);
    if (!s) {
        return s.take_error();
    }
    return text_result(answers::error_kind((*s)[0]));
}

}  // namespace

PyMethodDef vrn_error_kind = {
    "vrn_error_kind", method_of<error_kind_body>(), kFunctionFlags,
    "vrn_error_kind(s)\n--\n\n"
    "Return the stable `VrnError::kind()` token for an invalid VRN, or `\"\"` if `s` parses."};

PyMethodDef vrn_service = {
    "vrn_service", method_of<answers::name_answer_body<kService, answers::service>>(), kFunctionFlags,
    "vrn_service(s)\n--\n\nParse `s` and return its service field, or raise `ValueError(kind)`."};

PyMethodDef vrn_region = {
    "vrn_region", method_of<answers::name_answer_body<kRegion, answers::region>>(), kFunctionFlags,
    "vrn_region(s)\n--\n\nParse `s` and return its region field, or raise `ValueError(kind)`."};

PyMethodDef vrn_org = {
    "vrn_org", method_of<answers::name_answer_body<kOrg, answers::org>>(), kFunctionFlags,
    "vrn_org(s)\n--\n\n"
    "Parse `s` and return its org field (hyphenated UUID, or `\"\"` if absent), or raise "
    "`ValueError(kind)`."};

PyMethodDef vrn_resource_type = {
    "vrn_resource_type", method_of<answers::name_answer_body<kResourceType, answers::resource_type>>(),
    kFunctionFlags,
    "vrn_resource_type(s)\n--\n\n"
    "Parse `s` and return its resource-type field, or raise `ValueError(kind)`."};

PyMethodDef vrn_resource_id = {
    "vrn_resource_id", method_of<answers::name_answer_body<kResourceId, answers::resource_id>>(),
    kFunctionFlags,
    "vrn_resource_id(s)\n--\n\n"
    "Parse `s` and return its resource-id field (hyphenated UUID), or raise "
    "`ValueError(kind)`."};

}  // namespace veltrane::functions
