// `PyErr`: the bindings' error value.
//
// Binding, conversions and function bodies return failures as values; only
// the call frame hands one to the interpreter. An error starts lazy (the
// exception type and what to build its argument from) and is turned into an
// exception instance only when someone needs the instance (to add a note) or
// when it is raised, so the common failure paths build nothing in advance.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include "runtime/attach.hpp"
#include "runtime/python.hpp"
#include "runtime/text.hpp"

namespace veltrane::runtime {

class PyErr {
public:
    // Lazy `TypeError` with a message (binding failures).
    [[nodiscard]] static PyErr type_error(Text message) noexcept;
    // Lazy `ValueError` whose single argument is an error token: a constant
    // of the program, whose str is made once per process.
    [[nodiscard]] static PyErr value_error(std::string_view token) noexcept;
    // Lazy exception of a built-in type (`PyExc_*`, not owned) with a message.
    [[nodiscard]] static PyErr with_message(PyObject* builtin_type, Text message) noexcept;
    // Lazy `ImportError` with a message (a module refusing to be executed).
    [[nodiscard]] static PyErr import_error(Text message) noexcept;
    // Lazy `SystemError`: an interpreter call failed without setting an exception.
    [[nodiscard]] static PyErr nothing_pending() noexcept;
    // Lazy `TypeError` "'<actual>' object is not an instance of '<expected>'";
    // holds new references to both objects until it is materialised or dropped.
    [[nodiscard]] static PyErr type_mismatch(PyObject* object, PyObject* expected_type) noexcept;
    // Lazy `PanicException` with a one-element args tuple holding the message.
    [[nodiscard]] static PyErr panic_exception(std::string message) noexcept;

    PyErr(PyErr&& other) noexcept;
    PyErr& operator=(PyErr&& other) noexcept;
    PyErr(const PyErr&) = delete;
    PyErr& operator=(const PyErr&) = delete;
    ~PyErr() = default;  // references held by the state follow the release rule

    // Consumes the error and makes it the interpreter's current exception.
    static void raise_in_interpreter(PyErr&& error);

    // The interpreter's current exception as an error, or nothing. A pending
    // `PanicException` does not come back: its fault is resumed instead.
    [[nodiscard]] static std::optional<PyErr> take_pending();

    // Like take_pending, for a call that reported failure by its result alone:
    // with nothing pending the error is "attempted to fetch exception but none was set".
    [[nodiscard]] static PyErr fetch_pending();

    // Materialises the error; the instance is borrowed from it.
    [[nodiscard]] static PyObject* instance(PyErr& error);

    // "<type>: <str> (traceback: <repr>)", for fault messages.
    [[nodiscard]] std::string debug_description();

private:
    struct LazyMessage {
        PyObject* type;  // a built-in exception type; not owned
        Text text;
    };
    struct LazyToken {
        std::string_view token;  // a constant: ValueError(token)
    };
    struct LazyTypeMismatch {
        OwnedRef object;
        OwnedRef expected_type;
    };
    struct LazyPanic {
        std::string message;
    };
    struct Materialised {
        OwnedRef instance;
    };
    // monostate: absent, only while the error is being materialised.
    using State = std::variant<std::monostate, LazyToken, LazyMessage, LazyTypeMismatch, LazyPanic, Materialised>;

    explicit PyErr(State state) noexcept : state_(std::move(state)) {}
    // Raises the state and leaves it consumed (references released).
    static void raise_state(State& state);
    static void set_exception(PyObject* type, PyObject* value);
    [[noreturn]] static void resume_panic(PyObject* instance);

    State state_;
    std::thread::id materialising_thread_{};
};

}  // namespace veltrane::runtime
