// Where the data of our heap types' instances lives, in both builds.
//
// In the 3.12 stable ABI an instance is a PyObject followed by the type's
// data, reached by a cast. In the free-threaded stable ABI (abi3t) PyObject
// is opaque: its size is not known when the module is compiled, so a type
// asks for its data's size alone (a negative basicsize) and the interpreter
// says where the data is (PyObject_GetTypeData). A type written against
// `ObjectLayout<Data>` compiles unchanged for both.
//
//     struct VrnData { PyObject* canonical; ... };
//     using Layout = ObjectLayout<VrnData>;
//     PyType_Spec spec = {"veltrane_vrn.Vrn", Layout::kBasicSize, 0, flags, slots};
//     PyMemberDef m = {"canonical", Py_T_OBJECT_EX, Layout::member_offset(offsetof(VrnData, canonical)),
//                      Layout::member_flags(Py_READONLY), doc};
//     Layout::data(self)->canonical
//
// The types using it are final (no subclasses), so an instance's own type is
// the type whose data it is.
#pragma once

#include <cstddef>

#include "runtime/python.hpp"

namespace veltrane::runtime {

// Frees an instance of one of our heap types whose data is already released,
// and drops the reference every instance of a heap type holds to its type.
inline void free_instance(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

template <class Data>
struct ObjectLayout {
#if VELTRANE_ABI3T
    static constexpr int kBasicSize = -static_cast<int>(sizeof(Data));

    [[nodiscard]] static Data* data(PyObject* self) noexcept {
        return static_cast<Data*>(PyObject_GetTypeData(self, Py_TYPE(self)));
    }
    // A member's offset is counted from the data, which the flag says.
    [[nodiscard]] static constexpr Py_ssize_t member_offset(std::size_t in_data) noexcept {
        return static_cast<Py_ssize_t>(in_data);
    }
    [[nodiscard]] static constexpr int member_flags(int flags) noexcept { return flags | Py_RELATIVE_OFFSET; }
#else
    struct Object {
        PyObject ob_base;
        Data data;
    };
    static constexpr int kBasicSize = static_cast<int>(sizeof(Object));

    [[nodiscard]] static Data* data(PyObject* self) noexcept { return &reinterpret_cast<Object*>(self)->data; }
    [[nodiscard]] static constexpr Py_ssize_t member_offset(std::size_t in_data) noexcept {
        return static_cast<Py_ssize_t>(offsetof(Object, data) + in_data);
    }
    [[nodiscard]] static constexpr int member_flags(int flags) noexcept { return flags; }
#endif
};

}  // namespace veltrane::runtime
