#pragma once

#include <gtest/gtest.h>

#include <stdint.h>

#include <type_traits>

// A record's field as a number, so that pointers and handles are compared and
// printed by their value, never followed.
template <typename T>
unsigned long long FieldValue(T value)
{
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<uintptr_t>(value);
    else
        return static_cast<unsigned long long>(value);
}

// One field of the records named expected and actual; a failure names the field.
#define EXPECT_FIELD(field) EXPECT_EQ(FieldValue(expected.field), FieldValue(actual.field)) << "field " #field
