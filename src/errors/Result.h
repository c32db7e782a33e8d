#pragma once

#include "Error.h"

#include <QMetaType>

#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>

// Holds either a value or an error. It is Empty after default construction or
// after its content has been moved out.
template <typename T, typename E = Error<KafkaErrorCode>>
class Result {
public:
    enum class State : std::int32_t { Value = 0, Error = 1, Empty = 2 };

    Result() = default;
    Result(const T& value) : m_content(std::in_place_index<1>, value) { }
    Result(T&& value) : m_content(std::in_place_index<1>, std::move(value)) { }
    Result(const E& error) : m_content(std::in_place_index<2>, error) { }
    Result(E&& error) : m_content(std::in_place_index<2>, std::move(error)) { }

    Result(const Result&) = default;
    Result& operator=(const Result&) = default;

    Result(Result&& other) noexcept(std::is_nothrow_move_constructible_v<T>)
        : m_content(std::move(other.m_content))
    {
        other.m_content.template emplace<0>();
    }

    Result& operator=(Result&& other) noexcept(std::is_nothrow_move_assignable_v<T>)
    {
        if (this != &other) {
            m_content = std::move(other.m_content);
            other.m_content.template emplace<0>();
        }
        return *this;
    }

    State state() const
    {
        switch (m_content.index()) {
        case 1:
            return State::Value;
        case 2:
            return State::Error;
        default:
            return State::Empty;
        }
    }

    bool isError() const { return m_content.index() == 2; }
    bool hasValue() const { return m_content.index() == 1; }
    bool isEmpty() const { return m_content.index() == 0; }

    T& value() & { return std::get<1>(m_content); }
    const T& value() const& { return std::get<1>(m_content); }
    T&& value() && { return std::get<1>(std::move(m_content)); }

    E& error() & { return std::get<2>(m_content); }
    const E& error() const& { return std::get<2>(m_content); }
    E&& error() && { return std::get<2>(std::move(m_content)); }

private:
    std::variant<std::monostate, T, E> m_content;
};

template <typename T>
using KafkaResult = Result<T, KafkaError>;
