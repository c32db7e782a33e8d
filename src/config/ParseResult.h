#pragma once

#include <cstdint>
#include <utility>

// The outcome of reading one value of a YAML file: the key was absent, its node
// was there but wrong (the problem is already recorded by the reader), or the
// value was read. `value` is meaningful only while the state is Present.
template <typename T>
struct ParseResult {
    enum class State : std::int32_t { Absent = 0, Invalid = 1, Present = 2 };

    State state = State::Absent;
    T value {};

    static ParseResult absent() { return ParseResult(); }
    static ParseResult invalid()
    {
        ParseResult result;
        result.state = State::Invalid;
        return result;
    }
    static ParseResult present(T readValue)
    {
        ParseResult result;
        result.state = State::Present;
        result.value = std::move(readValue);
        return result;
    }

    bool isAbsent() const { return state == State::Absent; }
    bool isInvalid() const { return state == State::Invalid; }
    bool isPresent() const { return state == State::Present; }
};
