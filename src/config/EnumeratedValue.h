#pragma once

// One row of an enumeration table: the value and its text in a YAML file.
template <typename T>
struct EnumeratedValue {
    T value;
    const char* name;
};
