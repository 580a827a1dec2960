// How platform components report failure: a value, or an Error that says what went wrong.
// One convention for every component, so that a bridge export maps failures to Java
// exceptions in one place and never has to know how a component found out.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kestrane {

// A failure: a code that callers branch on (each component names its codes in its header)
// and a message a user can act on.
struct Error {
    int code = 0;
    std::string message;
};

// A T, or the Error that kept the component from making one.
template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool hasValue() const { return state_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    // Only when hasValue().
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Only when !hasValue().
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// Success without a value, or the Error.
template <>
class [[nodiscard]] Expected<void> {
public:
    Expected() = default;
    Expected(Error error) : error_(std::move(error)) {}

    bool hasValue() const { return !error_.has_value(); }
    explicit operator bool() const { return hasValue(); }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

}  // namespace kestrane
