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
#include <string>

#include "module/functions.hpp"
#include "runtime/arguments.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::functions {
namespace {

using namespace veltrane::runtime;
using veltrane_kernel::CedarEntity;
using veltrane_kernel::Vrn;

constexpr std::string_view kTextParameters[] = {"s"};
constexpr std::string_view kFieldParameters[] = {"service", "region", "org", "resource_type",
                                                 "resource_id"};
constexpr CallSignature kCanonicalize{"vrn_canonicalize", kTextParameters};
constexpr CallSignature kBuild{"vrn_build", kFieldParameters};
constexpr CallSignature kCedarEntityType{"vrn_cedar_entity_type", kTextParameters};
constexpr CallSignature kCedarEntityId{"vrn_cedar_entity_id", kTextParameters};

using Rendering = std::string (*)(const Vrn&);

// Binds and converts `s`, parses it, and renders the parsed name.
template <const CallSignature& Signature, Rendering Render>
PyResult<PyObject*> rendering_body(const CallArgs& call) {
    PyResult<std::array<std::string_view, 1>> s = bind_texts<1>(Signature, call);
    if (!s) {
        return s.take_error();
    }
    const auto parsed = Vrn::parse((*s)[0]);
    if (!parsed) {
        return PyErr::value_error(parsed.error().kind());
    }
    return text_result(Render(*parsed));
}

std::string canonical_of(const Vrn& vrn) { return vrn.canonical(); }

// Both Cedar functions make the pair and keep the half they answer with.
std::string cedar_type_of(const Vrn& vrn) { return vrn.cedar_entity().entity_type; }
std::string cedar_id_of(const Vrn& vrn) { return vrn.cedar_entity().entity_id; }

PyResult<PyObject*> build_body(const CallArgs& call) {
    PyResult<std::array<std::string_view, 5>> fields = bind_texts<5>(kBuild, call);
    if (!fields) {
        return fields.take_error();
    }
    const auto& [service, region, org, resource_type, resource_id] = *fields;
    const auto built = Vrn::build(service, region, org, resource_type, resource_id);
    if (!built) {
        return PyErr::value_error(built.error().kind());
    }
    return text_result(*built);
}

}  // namespace

PyMethodDef vrn_canonicalize = {
    "vrn_canonicalize", method_of<rendering_body<kCanonicalize, canonical_of>>(), kFunctionFlags,
    "vrn_canonicalize(s)\n--\n\n"
    "Parse `s` and return its canonical form, or raise `ValueError(kind)` on an invalid VRN."};

PyMethodDef vrn_build = {
    "vrn_build", method_of<build_body>(), kFunctionFlags,
    "vrn_build(service, region, org, resource_type, resource_id)\n--\n\n"
    "Build a VRN from typed fields and return its canonical form, or raise `ValueError(kind)`."};

PyMethodDef vrn_cedar_entity_type = {
    "vrn_cedar_entity_type", method_of<rendering_body<kCedarEntityType, cedar_type_of>>(),
    kFunctionFlags,
    "vrn_cedar_entity_type(s)\n--\n\n"
    "Parse `s` and return its Cedar entity type (e.g. `Vlt::Iam::Project`), or raise "
    "`ValueError(kind)`."};

PyMethodDef vrn_cedar_entity_id = {
    "vrn_cedar_entity_id", method_of<rendering_body<kCedarEntityId, cedar_id_of>>(),
    kFunctionFlags,
    "vrn_cedar_entity_id(s)\n--\n\n"
    "Parse `s` and return its Cedar entity id, or raise `ValueError(kind)`."};

}  // namespace veltrane::functions
