// How platform components report failure: a value, or an Error that says what went wrong.
// One convention for every component, so that a bridge export maps failures to Java
// exceptions in one place and never has to know how a component found out.
//
// Each component names its failures in an enum class in its header and makes its errors with
// Error(Code::x, "message"); callers branch with error.is(Code::x). An Error remembers which
// enum its code came from, so that two components' codes of the same number never compare
// equal, even when one component passes on another's error.
//
// bool or std::optional is enough where there is one way to fail and nobody needs to be told
// why (a lookup that finds nothing, a value that does not parse); Expected is for failures
// that a caller reports, maps to an exception, or handles differently by kind.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace kestrane {

namespace internal {
// One address per enum type: the identity of the component whose codes the enum names.
template <class E>
const void* errorDomain() {
    static const char tag = 0;
    return &tag;
}
}  // namespace internal

// A failure: a code that callers branch on (from the enum that the component names in its
// header) and a message a user can act on.
struct Error {
    Error() = default;
    template <class E>
        requires std::is_enum_v<E>
    Error(E code, std::string message)
        : code(static_cast<int>(code)), message(std::move(message)), domain(internal::errorDomain<E>()) {}

    // Whether this is the failure `which` of its component.
    template <class E>
        requires std::is_enum_v<E>
    bool is(E which) const {
        return domain == internal::errorDomain<E>() && code == static_cast<int>(which);
    }
    // The code as the enum E, or none when the error comes from another component.
    template <class E>
        requires std::is_enum_v<E>
    std::optional<E> as() const {
        if (domain != internal::errorDomain<E>()) return std::nullopt;
        return static_cast<E>(code);
    }

    int code = 0;  // the enum's value, for logs and messages
    std::string message;
    const void* domain = nullptr;  // which enum code belongs to
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
