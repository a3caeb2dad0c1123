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
// The parse is a `VrnView` of the argument's UTF-8 text, and every rendering
// is written into a buffer on the stack: the result `str` is the one copy.
#include <algorithm>
#include <array>

#include "module/functions.hpp"
#include "runtime/arguments.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::functions {
namespace {

using namespace veltrane::runtime;
using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::Uuid;
using veltrane_kernel::Vrn;
using veltrane_kernel::VrnView;

// Room for any rendering of a parsed name.
using RenderBuffer = std::array<char, MAX_VRN_LEN>;

constexpr std::string_view kTextParameters[] = {"s"};
constexpr std::string_view kFieldParameters[] = {"service", "region", "org", "resource_type",
                                                 "resource_id"};
constexpr CallSignature kCanonicalize{"vrn_canonicalize", kTextParameters};
constexpr CallSignature kBuild{"vrn_build", kFieldParameters};
constexpr CallSignature kCedarEntityType{"vrn_cedar_entity_type", kTextParameters};
constexpr CallSignature kCedarEntityId{"vrn_cedar_entity_id", kTextParameters};

// Writes a rendering of the name into the buffer and returns it.
using Rendering = std::string_view (*)(const VrnView&, RenderBuffer&);

// Binds and converts `s`, parses it, and renders the parsed name.
template <const CallSignature& Signature, Rendering Render>
PyResult<PyObject*> rendering_body(const CallArgs& call) {
    PyResult<std::array<std::string_view, 1>> s = bind_texts<1>(Signature, call);
    if (!s) {
        return s.take_error();
    }
    const auto parsed = VrnView::parse((*s)[0]);
    if (!parsed) {
        return PyErr::value_error(parsed.error().kind());
    }
    RenderBuffer buffer;
    return text_result(Render(*parsed, buffer));
}

std::string_view canonical_of(const VrnView& vrn, RenderBuffer& buffer) {
    return std::string_view(buffer.data(), vrn.write_canonical(buffer.data()));
}

// Each Cedar function renders only the half of the entity it answers with.
std::string_view cedar_type_of(const VrnView& vrn, RenderBuffer& buffer) {
    return std::string_view(buffer.data(), vrn.write_cedar_entity_type(buffer.data()));
}
std::string_view cedar_id_of(const VrnView& vrn, RenderBuffer& buffer) {
    const Uuid::HyphenatedText id = vrn.resource_id().to_hyphenated();
    std::copy(id.begin(), id.end(), buffer.begin());
    return std::string_view(buffer.data(), id.size());
}

PyResult<PyObject*> build_body(const CallArgs& call) {
    PyResult<std::array<std::string_view, 5>> fields = bind_texts<5>(kBuild, call);
    if (!fields) {
        return fields.take_error();
    }
    const auto& [service, region, org, resource_type, resource_id] = *fields;
    RenderBuffer buffer;
    const auto built = Vrn::build_into(service, region, org, resource_type, resource_id, buffer.data());
    if (!built) {
        return PyErr::value_error(built.error().kind());
    }
    return text_result(std::string_view(buffer.data(), *built));
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
