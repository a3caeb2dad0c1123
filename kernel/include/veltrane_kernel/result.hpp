// A value or an error value: what every fallible kernel operation returns.
//
// The kernel reports invalid input through values, never exceptions, so callers
// on hot paths pay nothing for failures they expect. `Result` is a minimal
// stand-in for std::expected that also builds with older standard libraries
// (the fuzzers compile the kernel with clang against them).
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace veltrane_kernel {

// Wraps an error so that `Result<T, E>` can be built from it unambiguously.
template <class E>
struct Failure {
    E error;
};

template <class E>
constexpr Failure<E> fail(E error) noexcept {
    return Failure<E>{error};
}

template <class T, class E>
class [[nodiscard]] Result {
public:
    // NOLINTNEXTLINE(google-explicit-constructor): a value converts implicitly.
    constexpr Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    // NOLINTNEXTLINE(google-explicit-constructor): so does a wrapped error.
    constexpr Result(Failure<E> failure) noexcept
        : state_(std::in_place_index<1>, failure.error) {}

    [[nodiscard]] constexpr bool has_value() const noexcept { return state_.index() == 0; }
    constexpr explicit operator bool() const noexcept { return has_value(); }

    [[nodiscard]] constexpr T& value() & noexcept {
        assert(has_value());
        return *std::get_if<0>(&state_);
    }
    [[nodiscard]] constexpr const T& value() const& noexcept {
        assert(has_value());
        return *std::get_if<0>(&state_);
    }
    [[nodiscard]] constexpr T&& value() && noexcept {
        assert(has_value());
        return std::move(*std::get_if<0>(&state_));
    }
    constexpr T* operator->() noexcept { return &value(); }
    constexpr const T* operator->() const noexcept { return &value(); }
    constexpr T& operator*() & noexcept { return value(); }
    constexpr const T& operator*() const& noexcept { return value(); }

    [[nodiscard]] constexpr E error() const noexcept {
        assert(!has_value());
        return *std::get_if<1>(&state_);
    }

private:
    std::variant<T, E> state_;
};

}  // namespace veltrane_kernel
