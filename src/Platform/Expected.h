#pragma once
// A small stand-in for C++23 std::expected: a value or an error. Only the parts
// the stores use; switching to std::expected is a change of this one header.

#include <cassert>
#include <utility>
#include <variant>

namespace pallix {

template <class E>
class Unexpected {
public:
    explicit Unexpected(E error) : m_error(std::move(error)) {}
    E& error() & { return m_error; }
    E&& error() && { return std::move(m_error); }

private:
    E m_error;
};

template <class T, class E>
class Expected {
public:
    Expected(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Expected(Unexpected<E> error) : m_state(std::in_place_index<1>, std::move(error).error()) {}

    bool has_value() const { return m_state.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { assert(has_value()); return std::get<0>(m_state); }
    const T& value() const& { assert(has_value()); return std::get<0>(m_state); }
    T&& value() && { assert(has_value()); return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    const E& error() const { assert(!has_value()); return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

template <class E>
class Expected<void, E> {
public:
    Expected() = default;
    Expected(Unexpected<E> error) : m_error(std::move(error).error()), m_failed(true) {}

    bool has_value() const { return !m_failed; }
    explicit operator bool() const { return has_value(); }
    const E& error() const { assert(m_failed); return m_error; }

private:
    E m_error{};
    bool m_failed = false;
};

} // namespace pallix
