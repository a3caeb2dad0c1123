#include "runtime/py_err.hpp"

#include <utility>

#include "runtime/attach.hpp"
#include "runtime/fault.hpp"
#include "runtime/process.hpp"

namespace veltrane::runtime {
namespace {

PyObject* new_str(std::string_view text) {
    return made_or_fault(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

std::string type_mismatch_message(PyObject* object, PyObject* expected_type) {
    std::string expected =
        type_qualname_or(reinterpret_cast<PyTypeObject*>(expected_type), "<failed to extract type name>");
    if (object == Py_None) {
        return "'None' is not an instance of '" + expected + "'";
    }
    return "'" + type_qualname_or(Py_TYPE(object), "<failed to extract type name>") +
           "' object is not an instance of '" + expected + "'";
}

}  // namespace

PyErr PyErr::type_error(Text message) noexcept {
    return PyErr(LazyMessage{PyExc_TypeError, std::move(message)});
}

PyErr PyErr::value_error(std::string_view token) noexcept { return PyErr(LazyToken{token}); }

PyErr PyErr::with_message(PyObject* builtin_type, Text message) noexcept {
    return PyErr(LazyMessage{builtin_type, std::move(message)});
}

PyErr PyErr::import_error(Text message) noexcept {
    return PyErr(LazyMessage{PyExc_ImportError, std::move(message)});
}

PyErr PyErr::nothing_pending() noexcept {
    return PyErr(LazyMessage{PyExc_SystemError,
                             Text(std::string_view("attempted to fetch exception but none was set"))});
}

PyErr PyErr::type_mismatch(PyObject* object, PyObject* expected_type) noexcept {
    Py_IncRef(object);
    Py_IncRef(expected_type);
    return PyErr(LazyTypeMismatch{OwnedRef(object), OwnedRef(expected_type)});
}

PyErr PyErr::panic_exception(std::string message) noexcept {
    return PyErr(LazyPanic{std::move(message)});
}

// The state moves across once and the source is left empty in place (no
// temporary state in between: errors move on every failing call's path).
PyErr::PyErr(PyErr&& other) noexcept
    : state_(std::move(other.state_)), materialising_thread_(other.materialising_thread_) {
    other.state_.emplace<std::monostate>();
}

PyErr& PyErr::operator=(PyErr&& other) noexcept {
    if (this != &other) {
        state_ = std::move(other.state_);
        other.state_.emplace<std::monostate>();
        materialising_thread_ = other.materialising_thread_;
    }
    return *this;
}

// The state is raised where it is, not moved out first: the common failure
// paths (a token, a binding message) move nothing.
void PyErr::raise_in_interpreter(PyErr&& error) {
    raise_state(error.state_);
    error.state_ = std::monostate{};
}

void PyErr::raise_state(State& state) {
    if (auto* materialised = std::get_if<Materialised>(&state)) {
        PyErr_SetRaisedException(materialised->instance.release_ownership());
        return;
    }
    if (auto* token = std::get_if<LazyToken>(&state)) {
        set_exception(PyExc_ValueError, process().constant_strs.get(token->token));
        return;
    }
    if (auto* message = std::get_if<LazyMessage>(&state)) {
        set_exception(message->type, new_str(view_of(message->text)));
        return;
    }
    if (auto* mismatch = std::get_if<LazyTypeMismatch>(&state)) {
        // The message is built only now, when somebody wants the exception.
        std::string text =
            type_mismatch_message(mismatch->object.get(), mismatch->expected_type.get());
        state = std::monostate{};  // the two references are not needed past this point
        set_exception(PyExc_TypeError, new_str(text));
        return;
    }
    if (auto* panic_state = std::get_if<LazyPanic>(&state)) {
        PyObject* message = new_str(panic_state->message);
        PyObject* args = PyTuple_New(1);
        if (args == nullptr) {
            release(message);
            null_result_fault();
        }
        PyTuple_SetItem(args, 0, message);  // steals `message`
        set_exception(panic_exception_type(), args);
        return;
    }
    panic("PyErr state should never be invalid outside of normalization");
}

// Every lazy state names a type known to be an exception type (a built-in
// one or PanicException), so it is set straight away. `value` is a new
// reference, released here; a tuple is spread over the constructor's
// arguments, as PyErr_SetObject does.
void PyErr::set_exception(PyObject* type, PyObject* value) {
    const OwnedRef owned_value(value);
    PyErr_SetObject(type, owned_value.get());
}

std::optional<PyErr> PyErr::take_pending() {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        return std::nullopt;
    }
    OwnedRef instance(raised);
    if (reinterpret_cast<PyObject*>(Py_TYPE(raised)) == panic_exception_type()) {
        resume_panic(instance.release_ownership());
    }
    return PyErr(Materialised{std::move(instance)});
}

PyErr PyErr::fetch_pending() {
    if (std::optional<PyErr> pending = take_pending()) {
        return std::move(*pending);
    }
    return nothing_pending();
}

void PyErr::resume_panic(PyObject* instance) {
    std::string message = str_or(instance, "Unwrapped panic from Python code");
    write_stderr(
        "--- veltrane_py_bindings is resuming a panic after fetching a PanicException from "
        "Python. ---\n");
    write_stderr("Python stack trace below:\n");
    PyErr_SetRaisedException(instance);
    PyErr_PrintEx(0);
    resume_fault(std::move(message));
}

PyObject* PyErr::instance(PyErr& error) {
    if (auto* materialised = std::get_if<Materialised>(&error.state_)) {
        return materialised->instance.get();
    }
    const std::thread::id self = std::this_thread::get_id();
    if (error.materialising_thread_ == self) {
        panic("Re-entrant normalization of PyErr state detected");
    }
    error.materialising_thread_ = self;
    State state = std::exchange(error.state_, std::monostate{});
    if (std::holds_alternative<std::monostate>(state)) {
        panic("Cannot normalize a PyErr while already normalizing it.");
    }
    PyObject* raised = nullptr;
    {
        AttachScope attached;
        raise_state(state);
        raised = PyErr_GetRaisedException();
    }
    if (raised == nullptr) {
        panic("exception missing after writing to the interpreter");
    }
    error.state_ = Materialised{OwnedRef(raised)};
    error.materialising_thread_ = std::thread::id{};
    return raised;
}

std::string PyErr::debug_description() {
    PyObject* raised = instance(*this);
    std::string description =
        type_qualname_or(Py_TYPE(raised), "<failed to extract type name>") + ": " +
        str_or(raised, "<str() failed>");
    OwnedRef traceback(PyException_GetTraceback(raised));
    description += " (traceback: ";
    description += traceback ? repr_or(traceback.get(), "<repr() failed>") : std::string("None");
    description += ")";
    return description;
}

}  // namespace veltrane::runtime
