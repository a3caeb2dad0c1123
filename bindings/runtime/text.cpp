#include "runtime/text.hpp"

#include "runtime/attach.hpp"

namespace veltrane::runtime {

void discard_pending_exception() noexcept {
    if (PyObject* pending = PyErr_GetRaisedException()) {
        release(pending);
    }
}

std::string lenient_utf8(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
        return std::string(utf8, static_cast<std::size_t>(size));
    }
    discard_pending_exception();
    OwnedRef encoded(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!encoded) {
        discard_pending_exception();
        return "<text not representable>";
    }
    OwnedRef decoded(PyUnicode_DecodeUTF8(PyBytes_AsString(encoded.get()),
                                          PyBytes_Size(encoded.get()), "replace"));
    const char* utf8 = decoded ? PyUnicode_AsUTF8AndSize(decoded.get(), &size) : nullptr;
    if (utf8 == nullptr) {
        discard_pending_exception();
        return "<text not representable>";
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

namespace {

// The lenient UTF-8 of a text made by an interpreter call, or `fallback` when
// the call fails (its exception is dropped).
std::string text_or(PyObject* made, std::string_view fallback) {
    OwnedRef text(made);
    if (!text) {
        discard_pending_exception();
        return std::string(fallback);
    }
    return lenient_utf8(text.get());
}

}  // namespace

std::string str_or(PyObject* object, std::string_view fallback) {
    return text_or(PyObject_Str(object), fallback);
}

std::string repr_or(PyObject* object, std::string_view fallback) {
    return text_or(PyObject_Repr(object), fallback);
}

std::string type_qualname_or(PyTypeObject* type, std::string_view fallback) {
    return text_or(PyType_GetQualName(type), fallback);
}

}  // namespace veltrane::runtime
