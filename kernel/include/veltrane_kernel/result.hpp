// A value or an error value: what every fallible kernel operation returns.
//
// The kernel reports invalid input through values, never exceptions, so callers
// on hot paths pay nothing for failures they expect. `Result` is a minimal
// stand-in for std::expected that also builds with older standard libraries
// (the fuzzers compile the kernel with clang against them), and that can build
// its value in place from a callable. `Result<void, E>` is the verdict of a
// check alone.
#pragma once

#include <cassert>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

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

// Asks `Result` to build its value from a callable's result in place: the
// value is made once, where it will live, and never moved.
struct InPlaceFrom {};

template <class T, class E>
class [[nodiscard]] Result {
    static_assert(std::is_trivially_copyable_v<E>, "errors are small plain values");

public:
    // NOLINTNEXTLINE(google-explicit-constructor): a value converts implicitly.
    constexpr Result(T value) : value_(std::move(value)), has_value_(true) {}
    // NOLINTNEXTLINE(google-explicit-constructor): so does a wrapped error.
    constexpr Result(Failure<E> failure) noexcept : error_(failure.error), has_value_(false) {}
    // The value is `make()`, constructed in place.
    template <class Make>
    constexpr Result(InPlaceFrom, Make&& make) : value_(std::forward<Make>(make)()), has_value_(true) {}

    Result(const Result& other) : has_value_(other.has_value_) {
        if (has_value_) {
            new (&value_) T(other.value_);
        } else {
            error_ = other.error_;
        }
    }
    Result(Result&& other) noexcept(std::is_nothrow_move_constructible_v<T>)
        : has_value_(other.has_value_) {
        if (has_value_) {
            new (&value_) T(std::move(other.value_));
        } else {
            error_ = other.error_;
        }
    }
    Result& operator=(const Result& other) {
        if (this != &other) {
            destroy();
            new (this) Result(other);
        }
        return *this;
    }
    Result& operator=(Result&& other) noexcept(std::is_nothrow_move_constructible_v<T>) {
        if (this != &other) {
            destroy();
            new (this) Result(std::move(other));
        }
        return *this;
    }
    ~Result() { destroy(); }

    [[nodiscard]] constexpr bool has_value() const noexcept { return has_value_; }
    constexpr explicit operator bool() const noexcept { return has_value_; }

    [[nodiscard]] constexpr T& value() & noexcept {
        assert(has_value_);
        return value_;
    }
    [[nodiscard]] constexpr const T& value() const& noexcept {
        assert(has_value_);
        return value_;
    }
    [[nodiscard]] constexpr T&& value() && noexcept {
        assert(has_value_);
        return std::move(value_);
    }
    constexpr T* operator->() noexcept { return &value(); }
    constexpr const T* operator->() const noexcept { return &value(); }
    constexpr T& operator*() & noexcept { return value(); }
    constexpr const T& operator*() const& noexcept { return value(); }

    [[nodiscard]] constexpr E error() const noexcept {
        assert(!has_value_);
        return error_;
    }

private:
    void destroy() noexcept {
        if (has_value_) {
            value_.~T();
        }
    }

    // A union rather than std::variant, so that a value can be built in place
    // from a callable (std::variant would move it in).
    union {
        T value_;
        E error_;
    };
    bool has_value_;
};

// A success that carries nothing, or an error: what a check that only gives
// a verdict returns. Trivially copyable, so it comes back in a register.
template <class E>
class [[nodiscard]] Result<void, E> {
    static_assert(std::is_trivially_copyable_v<E>, "errors are small plain values");

public:
    // Success.
    constexpr Result() noexcept = default;
    // NOLINTNEXTLINE(google-explicit-constructor): a wrapped error converts.
    constexpr Result(Failure<E> failure) noexcept : error_(failure.error) {}

    [[nodiscard]] constexpr bool has_value() const noexcept { return !error_.has_value(); }
    constexpr explicit operator bool() const noexcept { return has_value(); }

    [[nodiscard]] constexpr E error() const noexcept {
        assert(error_.has_value());
        return *error_;
    }

private:
    std::optional<E> error_;
};

}  // namespace veltrane_kernel
