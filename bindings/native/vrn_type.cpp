// `veltrane_vrn.Vrn`: a parsed resource name as an immutable Python value.
//
//     class Vrn:
//         __match_args__ = ("service", "region", "org", "resource_type", "resource_id")
//
//         def __init__(self, s):          # parse once; ValueError(token) if invalid
//             self.canonical = vrn_canonicalize(s)
//             self.service, self.region, self.org, ... = the parsed fields
//         parse = classmethod(Vrn)         # the same, without the type call
//         try_parse(s)                     # None instead of ValueError
//         build(service, region, org, resource_type, resource_id)
//
//         cedar_entity_type, cedar_entity_id, cedar_uid   # rendered on demand
//         __str__ = canonical;  __repr__ = f"Vrn({canonical!r})"
//         __eq__, __lt__, ..., __hash__: those of the canonical text, Vrn with Vrn only
//         __reduce__ = (Vrn, (canonical,));  __copy__ = __deepcopy__ = self
//
// One parse makes the canonical text and the five field strs at once, so
// reading a field afterwards is a plain slot read. The canonical text is the
// argument itself when the argument is already canonical (and an exact str).
#include "native/vrn_type.hpp"

#include "native/field_strs.hpp"

#include "answers/answers.hpp"
#include "answers/python_answers.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/arguments.hpp"
#include "runtime/fault.hpp"
#include "runtime/frame.hpp"
#include "runtime/object_layout.hpp"
#include "runtime/once_cell.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::native {
namespace {

using namespace veltrane::runtime;
using veltrane_kernel::FieldSpan;
using veltrane_kernel::FieldSpans;
using veltrane_kernel::VrnView;

struct VrnData {
    PyObject* canonical;  // str, the canonical text
    PyObject* service;    // str, and so on: slices of the canonical text
    PyObject* region;
    PyObject* org;
    PyObject* resource_type;
    PyObject* resource_id;
};

using Layout = ObjectLayout<VrnData>;

VrnData* as_vrn(PyObject* self) { return Layout::data(self); }

PyObject* new_str(const char* text, std::size_t size) {
    return made_or_fault(PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(size)));
}

std::string_view utf8_of(PyObject* str) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(str, &size);
    if (text == nullptr) {
        null_result_fault();  // our own ASCII strs always have a UTF-8 form
    }
    return std::string_view(text, static_cast<std::size_t>(size));
}

FieldStrs g_field_strs;

#if VELTRANE_ABI3T

// The free-threaded build keeps no freed objects: the interpreter's own
// allocator serves each thread, and a shared list would need a lock on every
// object made and dropped.
struct FreeVrns {
    static PyObject* take(PyTypeObject* type) { return made_or_fault(PyType_GenericAlloc(type, 0)); }
    static void give(PyObject* object) { free_instance(object); }
};

#else

// Vrn objects freed lately, kept for the next ones to be made: code that
// parses names makes and drops them at a steady rate, and reusing one saves
// an allocation and a free. Only ever touched with the interpreter lock held
// (the module runs in the main interpreter only); bounded, and reachable to
// the end of the process.
class FreeVrns {
public:
    // A Vrn of `type` with every field null.
    PyObject* take(PyTypeObject* type) {
        if (count_ == 0) {
            return made_or_fault(PyType_GenericAlloc(type, 0));
        }
        PyObject* object = kept_[--count_];
        std::memset(static_cast<void*>(Layout::data(object)), 0, sizeof(VrnData));
        return PyObject_Init(object, type);  // a new reference, and one to the type
    }
    // Keeps or frees a Vrn whose fields were released.
    void give(PyObject* object) {
        if (count_ == kKept) {
            free_instance(object);
            return;
        }
        kept_[count_++] = object;
        Py_DecRef(reinterpret_cast<PyObject*>(Py_TYPE(object)));  // taking it back takes the type again
    }

private:
    static constexpr std::size_t kKept = 64;
    std::array<PyObject*, kKept> kept_{};
    std::size_t count_ = 0;
};


#endif

FreeVrns g_free_vrns;

// A new Vrn of `type` over the canonical text in `text` (`size` bytes), its
// fields where `spans` says. When `reuse` is given (an exact str holding that
// very text), it becomes the canonical text instead of a copy.
PyObject* new_vrn(PyTypeObject* type, const char* text, std::size_t size, const FieldSpans& spans,
                  PyObject* reuse) {
    OwnedRef object(g_free_vrns.take(type));  // the slots start out null
    VrnData* vrn = as_vrn(object.get());
    if (reuse != nullptr) {
        Py_IncRef(reuse);
        vrn->canonical = reuse;
    } else {
        vrn->canonical = new_str(text, size);
    }
    // The UUIDs are slices of the canonical str (ASCII, so a slice is a plain
    // copy with no decoding of UTF-8); the other fields are usually shared.
    PyObject* canonical = vrn->canonical;
    const auto slice = [canonical](FieldSpan span) {
        const auto begin = static_cast<Py_ssize_t>(span.start);
        return made_or_fault(PyUnicode_Substring(canonical, begin, begin + static_cast<Py_ssize_t>(span.size)));
    };
    const auto shared = [text](FieldSpan span) { return g_field_strs.get(text + span.start, span.size); };
    vrn->service = shared(spans.service);
    vrn->region = shared(spans.region);
    vrn->org = slice(spans.org);
    vrn->resource_type = shared(spans.resource_type);
    vrn->resource_id = slice(spans.resource_id);
    return object.release_ownership();
}

// Parses `argument` (the object bound to `s`) into a new Vrn, or the error:
// ValueError(token) for an invalid name, or nothing at all (`*invalid` set)
// when `invalid` is given.
PyResult<PyObject*> parse_into_vrn(PyTypeObject* type, PyObject* argument, bool* invalid = nullptr) {
    PyResult<std::string_view> text = extract_text(argument);
    if (!text) {
        return note_argument_error("s", text.take_error());
    }
    const auto parsed = VrnView::parse(*text);
    if (!parsed) {
        if (invalid != nullptr) {
            *invalid = true;
            return static_cast<PyObject*>(nullptr);
        }
        return PyErr::value_error(parsed.error().kind());
    }
    // A text that is its own canonical form, held by an exact str, can be
    // that form.
    if (Py_TYPE(argument) == &PyUnicode_Type && parsed->is_canonical()) {
        return new_vrn(type, (*text).data(), (*text).size(), parsed->field_spans(), argument);
    }
    answers::Scratch scratch;
    const std::string_view canonical = answers::canonical(*parsed, scratch);
    return new_vrn(type, canonical.data(), canonical.size(), parsed->field_spans(), nullptr);
}

PyObject* vrn_type_object();

// The constructors are static methods (see kStaticMethod), called without
// their class: it is the one Vrn type.
PyTypeObject* the_type() { return reinterpret_cast<PyTypeObject*>(vrn_type_object()); }

constexpr std::string_view kTextParameter[] = {"s"};
constexpr CallSignature kParse{"Vrn.parse", kTextParameter};
constexpr CallSignature kTryParse{"Vrn.try_parse", kTextParameter};
constexpr std::string_view kFieldParameters[] = {"service", "region", "org", "resource_type",
                                                 "resource_id"};
constexpr CallSignature kBuild{"Vrn.build", kFieldParameters};
constexpr std::string_view kMemoParameter[] = {"memo"};
constexpr CallSignature kDeepcopy{"__deepcopy__", kMemoParameter};

PyResult<PyObject*> parse_body(PyObject* /*no self*/, const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kParse, call, slots)) {
        return std::move(*error);
    }
    return parse_into_vrn(the_type(), slots[0]);
}

PyResult<PyObject*> try_parse_body(PyObject* /*no self*/, const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kTryParse, call, slots)) {
        return std::move(*error);
    }
    bool invalid = false;
    PyResult<PyObject*> made = parse_into_vrn(the_type(), slots[0], &invalid);
    if (invalid) {
        Py_IncRef(Py_None);
        return Py_None;
    }
    return made;
}

PyResult<PyObject*> build_body(PyObject* /*no self*/, const CallArgs& call) {
    answers::Scratch scratch;
    PyResult<std::string_view> built = answers::bound_build(kBuild, call, scratch);
    if (!built) {
        return built.take_error();
    }
    // The built text is canonical; its fields are where its parse puts them.
    const auto parsed = VrnView::parse(*built);
    if (!parsed) {
        panic("a built name does not parse");
    }
    return new_vrn(the_type(), (*built).data(), (*built).size(), parsed->field_spans(), nullptr);
}

// Vrn(s): the type call, through the classic argument tuple.
PyObject* vrn_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call_frame([&]() -> PyResult<PyObject*> {
        static const char* keywords[] = {"s", nullptr};
        PyObject* argument = nullptr;
        if (PyArg_ParseTupleAndKeywords(args, kwargs, "O:Vrn", const_cast<char**>(keywords), &argument) == 0) {
            return PyErr::fetch_pending();
        }
        return parse_into_vrn(type, argument);
    });
}

// ---- renderings --------------------------------------------------------------

// An answer about the name, rendered from its canonical text (which parses).
template <answers::Answer Answer>
PyObject* rendered_getter(PyObject* self, void* /*closure*/) {
    return call_frame([self]() -> PyResult<PyObject*> {
        const auto parsed = VrnView::parse(utf8_of(as_vrn(self)->canonical));
        if (!parsed) {
            panic("the canonical text of a Vrn does not parse");
        }
        answers::Scratch scratch;
        const std::string_view answer = Answer(*parsed, scratch);
        return new_str(answer.data(), answer.size());
    });
}

PyObject* cedar_entity_id_getter(PyObject* self, void* /*closure*/) {
    // The entity id is the resource id.
    Py_IncRef(as_vrn(self)->resource_id);
    return as_vrn(self)->resource_id;
}

PyObject* vrn_str(PyObject* self) {
    Py_IncRef(as_vrn(self)->canonical);
    return as_vrn(self)->canonical;
}

PyObject* vrn_repr(PyObject* self) { return PyUnicode_FromFormat("Vrn(%R)", as_vrn(self)->canonical); }

Py_hash_t vrn_hash(PyObject* self) { return PyObject_Hash(as_vrn(self)->canonical); }

PyObject* vrn_richcompare(PyObject* self, PyObject* other, int op) {
    if (Py_TYPE(other) != Py_TYPE(self)) {
        Py_IncRef(Py_NotImplemented);
        return Py_NotImplemented;
    }
    return PyObject_RichCompare(as_vrn(self)->canonical, as_vrn(other)->canonical, op);
}

// ---- pickling and copying ----------------------------------------------------

PyResult<PyObject*> reduce_body(PyObject* self, const CallArgs& call) {
    if (std::optional<PyErr> error = bind_arguments({"__reduce__", {}}, call, nullptr)) {
        return std::move(*error);
    }
    return made_or_fault(Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(Py_TYPE(self)), as_vrn(self)->canonical));
}

// An immutable value is its own copy.
PyResult<PyObject*> copy_body(PyObject* self, const CallArgs& call) {
    if (std::optional<PyErr> error = bind_arguments({"__copy__", {}}, call, nullptr)) {
        return std::move(*error);
    }
    Py_IncRef(self);
    return self;
}

PyResult<PyObject*> deepcopy_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kDeepcopy, call, slots)) {
        return std::move(*error);
    }
    Py_IncRef(self);
    return self;
}

void vrn_dealloc(PyObject* self) {
    VrnData* vrn = as_vrn(self);
    for (PyObject* field : {vrn->canonical, vrn->service, vrn->region, vrn->org, vrn->resource_type,
                            vrn->resource_id}) {
        if (field != nullptr) {
            Py_DecRef(field);
        }
    }
    g_free_vrns.give(self);
}

// The constructors are plain functions in the class's dict: reading one from
// the class gives the function itself (a class method would make a bound
// method object on every call), and, as the function is no descriptor, the
// interpreter caches the lookup at the call site.
constexpr int kFunction = METH_FASTCALL | METH_KEYWORDS;
constexpr int kMethod = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kConstructors[] = {
    {"parse", instance_method_of<parse_body>(), kFunction,
     "parse(s)\n--\n\nParse `s` once, or raise `ValueError(kind)` on an invalid VRN."},
    {"try_parse", instance_method_of<try_parse_body>(), kFunction,
     "try_parse(s)\n--\n\nParse `s` once, or return None for an invalid VRN."},
    {"build", instance_method_of<build_body>(), kFunction,
     "build(service, region, org, resource_type, resource_id)\n--\n\n"
     "The VRN that the five fields make (as `vrn_build` makes it), or raise `ValueError(kind)`."},
};

PyMethodDef kMethods[] = {
    {"__reduce__", instance_method_of<reduce_body>(), kMethod, nullptr},
    {"__copy__", instance_method_of<copy_body>(), kMethod, nullptr},
    {"__deepcopy__", instance_method_of<deepcopy_body>(), kMethod, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef kMembers[] = {
    {"canonical", Py_T_OBJECT_EX, Layout::member_offset(offsetof(VrnData, canonical)),
     Layout::member_flags(Py_READONLY),
     "The canonical text: both UUIDs in lower case."},
    {"service", Py_T_OBJECT_EX, Layout::member_offset(offsetof(VrnData, service)),
     Layout::member_flags(Py_READONLY), "The service."},
    {"region", Py_T_OBJECT_EX, Layout::member_offset(offsetof(VrnData, region)),
     Layout::member_flags(Py_READONLY),
     "The region, or \"\" when the name has none."},
    {"org", Py_T_OBJECT_EX, Layout::member_offset(offsetof(VrnData, org)),
     Layout::member_flags(Py_READONLY),
     "The org as a lowercase hyphenated UUID, or \"\" when the name has none."},
    {"resource_type", Py_T_OBJECT_EX, Layout::member_offset(offsetof(VrnData, resource_type)),
     Layout::member_flags(Py_READONLY), "The resource type."},
    {"resource_id", Py_T_OBJECT_EX, Layout::member_offset(offsetof(VrnData, resource_id)),
     Layout::member_flags(Py_READONLY),
     "The resource id as a lowercase hyphenated UUID."},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef kProperties[] = {
    {"cedar_entity_type", &rendered_getter<answers::cedar_entity_type>, nullptr,
     "The Cedar entity type, such as \"Vlt::Iam::Project\".", nullptr},
    {"cedar_entity_id", &cedar_entity_id_getter, nullptr, "The Cedar entity id: the resource id.", nullptr},
    {"cedar_uid", &rendered_getter<answers::cedar_uid>, nullptr,
     "The Cedar entity UID as Cedar writes it: Vlt::Iam::Project::\"<resource id>\".", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Vrn(s)\n--\n\n"
                    "A parsed VRN: an immutable value whose equality, hash and order are those of its "
                    "canonical text.\nVrn(s) and Vrn.parse(s) raise `ValueError(kind)` on an invalid VRN.")},
    {Py_tp_new, reinterpret_cast<void*>(&vrn_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&vrn_dealloc)},
    {Py_tp_str, reinterpret_cast<void*>(&vrn_str)},
    {Py_tp_repr, reinterpret_cast<void*>(&vrn_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(&vrn_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&vrn_richcompare)},
    {Py_tp_methods, kMethods},
    {Py_tp_members, kMembers},
    {Py_tp_getset, kProperties},
    {0, nullptr},
};

// Not a base type: equality, hashing and pickling are those of the canonical
// text, which a subclass could not keep.
PyType_Spec kSpec = {
    "veltrane_vrn.Vrn",
    Layout::kBasicSize,
    0,
    Py_TPFLAGS_DEFAULT,
    kSlots,
};

// The fields a pattern matches by position: case Vrn(service, region, ...).
constexpr const char* kMatchArgs[] = {"service", "region", "org", "resource_type", "resource_id"};

PyObject* make_vrn_type(const void* /*context*/) {
    OwnedRef type(type_from_spec_or_fault(kSpec));
    // Class attributes cannot come from the spec; they are set once, here.
    OwnedRef match_args(made_or_fault(PyTuple_New(std::size(kMatchArgs))));
    for (std::size_t i = 0; i < std::size(kMatchArgs); ++i) {
        PyTuple_SetItem(match_args.get(), static_cast<Py_ssize_t>(i), made_or_fault(PyUnicode_FromString(kMatchArgs[i])));
    }
    if (PyObject_SetAttrString(type.get(), "__match_args__", match_args.get()) != 0) {
        null_result_fault();
    }
    for (PyMethodDef& constructor : kConstructors) {
        OwnedRef function(made_or_fault(PyCFunction_NewEx(&constructor, nullptr, nullptr)));
        if (PyObject_SetAttrString(type.get(), constructor.ml_name, function.get()) != 0) {
            null_result_fault();
        }
    }
    return type.release_ownership();
}

OnceCell g_vrn_type;

PyObject* vrn_type_object() { return g_vrn_type.get(&make_vrn_type); }

}  // namespace

PyObject* vrn_type() { return vrn_type_object(); }

}  // namespace veltrane::native
