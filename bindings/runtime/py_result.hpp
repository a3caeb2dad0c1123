// `PyResult<T>`: what binding, conversions and bodies return, a value or a `PyErr`.
#pragma once

#include <utility>
#include <variant>

#include "runtime/py_err.hpp"

namespace veltrane::runtime {

template <class T>
class [[nodiscard]] PyResult {
public:
    // NOLINTNEXTLINE(google-explicit-constructor): values and errors convert implicitly.
    PyResult(T value) noexcept(std::is_nothrow_move_constructible_v<T>)
        : state_(std::in_place_index<0>, std::move(value)) {}
    // NOLINTNEXTLINE(google-explicit-constructor)
    PyResult(PyErr&& error) noexcept : state_(std::in_place_index<1>, std::move(error)) {}

    [[nodiscard]] bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    [[nodiscard]] T& value() noexcept { return *std::get_if<0>(&state_); }
    [[nodiscard]] T& operator*() noexcept { return value(); }
    [[nodiscard]] PyErr& error() noexcept { return *std::get_if<1>(&state_); }
    [[nodiscard]] PyErr take_error() noexcept { return std::move(error()); }

private:
    std::variant<T, PyErr> state_;
};

}  // namespace veltrane::runtime
