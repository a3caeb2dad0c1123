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
// The parse is a `VrnView`: its fields are views into the argument's UTF-8
// text, so the one field returned is copied once, into the result `str`.
#include "module/functions.hpp"
#include "runtime/arguments.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::functions {
namespace {

using namespace veltrane::runtime;
using veltrane_kernel::Uuid;
using veltrane_kernel::VrnView;

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
    const auto parsed = VrnView::parse((*s)[0]);
    return text_result(parsed ? std::string_view() : parsed.error().kind());
}

PyResult<PyObject*> uuid_text(const Uuid& uuid) {
    const Uuid::HyphenatedText text = uuid.to_hyphenated();
    return text_result(std::string_view(text.data(), text.size()));
}

PyResult<PyObject*> service_of(const VrnView& vrn) { return text_result(vrn.service()); }
PyResult<PyObject*> region_of(const VrnView& vrn) { return text_result(vrn.region()); }
PyResult<PyObject*> org_of(const VrnView& vrn) {
    return vrn.org() ? uuid_text(*vrn.org()) : text_result(std::string_view());
}
PyResult<PyObject*> resource_type_of(const VrnView& vrn) { return text_result(vrn.resource_type()); }
PyResult<PyObject*> resource_id_of(const VrnView& vrn) { return uuid_text(vrn.resource_id()); }

using FieldOf = PyResult<PyObject*> (*)(const VrnView&);

// Binds and converts `s`, parses it, and answers with one field.
template <const CallSignature& Signature, FieldOf Field>
PyResult<PyObject*> field_query_body(const CallArgs& call) {
    PyResult<std::array<std::string_view, 1>> s = bind_texts<1>(Signature, call);
    if (!s) {
        return s.take_error();
    }
    const auto parsed = VrnView::parse((*s)[0]);
    if (!parsed) {
        return PyErr::value_error(parsed.error().kind());
    }
    return Field(*parsed);
}

}  // namespace

PyMethodDef vrn_error_kind = {
    "vrn_error_kind", method_of<error_kind_body>(), kFunctionFlags,
    "vrn_error_kind(s)\n--\n\n"
    "Return the stable `VrnError::kind()` token for an invalid VRN, or `\"\"` if `s` parses."};

PyMethodDef vrn_service = {
    "vrn_service", method_of<field_query_body<kService, service_of>>(), kFunctionFlags,
    "vrn_service(s)\n--\n\nParse `s` and return its service field, or raise `ValueError(kind)`."};

PyMethodDef vrn_region = {
    "vrn_region", method_of<field_query_body<kRegion, region_of>>(), kFunctionFlags,
    "vrn_region(s)\n--\n\nParse `s` and return its region field, or raise `ValueError(kind)`."};

PyMethodDef vrn_org = {
    "vrn_org", method_of<field_query_body<kOrg, org_of>>(), kFunctionFlags,
    "vrn_org(s)\n--\n\n"
    "Parse `s` and return its org field (hyphenated UUID, or `\"\"` if absent), or raise "
    "`ValueError(kind)`."};

PyMethodDef vrn_resource_type = {
    "vrn_resource_type", method_of<field_query_body<kResourceType, resource_type_of>>(),
    kFunctionFlags,
    "vrn_resource_type(s)\n--\n\n"
    "Parse `s` and return its resource-type field, or raise `ValueError(kind)`."};

PyMethodDef vrn_resource_id = {
    "vrn_resource_id", method_of<field_query_body<kResourceId, resource_id_of>>(),
    kFunctionFlags,
    "vrn_resource_id(s)\n--\n\n"
    "Parse `s` and return its resource-id field (hyphenated UUID), or raise "
    "`ValueError(kind)`."};

}  // namespace veltrane::functions
