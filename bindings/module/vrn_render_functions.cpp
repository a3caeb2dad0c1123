// Renderings of a VRN:
//
//     def vrn_canonicalize(s: str) -> str:
//         return Vrn.parse(s).canonical()
//
//     def vrn_build(service, region, org, resource_type, resource_id) -> str:
//         return Vrn.build(service, region, org, resource_type, resource_id)
//
//     def vrn_cedar_entity_type(s: str) -> str:
//         return Vrn.parse(s).cedar_entity().entity_type
//
//     def vrn_cedar_entity_id(s: str) -> str:
//         return Vrn.parse(s).cedar_entity().entity_id
//
// Each raises ValueError(token) when the text (or the joined fields) is no VRN.
//
// The answers themselves are those of answers/answers.hpp, which every other
// surface (columns, the vrn command, Vrn) gives too; each is written into a
// buffer on the stack, and the result `str` is the one copy.
#include "module/functions.hpp"
#include "answers/python_answers.hpp"

namespace veltrane::functions {
namespace {

using namespace veltrane::runtime;

constexpr std::string_view kTextParameters[] = {"s"};
constexpr std::string_view kFieldParameters[] = {"service", "region", "org", "resource_type",
                                                 "resource_id"};
constexpr CallSignature kCanonicalize{"vrn_canonicalize", kTextParameters};
constexpr CallSignature kBuild{"vrn_build", kFieldParameters};
constexpr CallSignature kCedarEntityType{"vrn_cedar_entity_type", kTextParameters};
constexpr CallSignature kCedarEntityId{"vrn_cedar_entity_id", kTextParameters};

PyResult<PyObject*> build_body(const CallArgs& call) {
    answers::Scratch scratch;
    PyResult<std::string_view> built = answers::bound_build(kBuild, call, scratch);
    if (!built) {
        return built.take_error();
    }
    return text_result(*built);
}

}  // namespace

PyMethodDef vrn_canonicalize = {
    "vrn_canonicalize", method_of<answers::name_answer_body<kCanonicalize, answers::canonical>>(), kFunctionFlags,
    "vrn_canonicalize(s)\n--\n\n"
    "Parse `s` and return its canonical form, or raise `ValueError(kind)` on an invalid VRN."};

PyMethodDef vrn_build = {
    "vrn_build", method_of<build_body>(), kFunctionFlags,
    "vrn_build(service, region, org, resource_type, resource_id)\n--\n\n"
    "Build a VRN from typed fields and return its canonical form, or raise `ValueError(kind)`."};

PyMethodDef vrn_cedar_entity_type = {
    "vrn_cedar_entity_type", method_of<answers::name_answer_body<kCedarEntityType, answers::cedar_entity_type>>(),
    kFunctionFlags,
    "vrn_cedar_entity_type(s)\n--\n\n"
    "Parse `s` and return its Cedar entity type (e.g. `Vlt::Iam::Project`), or raise "
    "`ValueError(kind)`."};

PyMethodDef vrn_cedar_entity_id = {
    "vrn_cedar_entity_id", method_of<answers::name_answer_body<kCedarEntityId, answers::cedar_entity_id>>(),
    kFunctionFlags,
    "vrn_cedar_entity_id(s)\n--\n\n"
    "Parse `s` and return its Cedar entity id, or raise `ValueError(kind)`."};

}  // namespace veltrane::functions
