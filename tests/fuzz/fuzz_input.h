// Splits a fuzzer's input into NUL-terminated texts, one per field, so one
// input drives several settings or names at once (each field ends at a zero
// byte or at the input's end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> SplitFields(const std::uint8_t* data, std::size_t size, std::size_t count)
{
    std::vector<std::string> fields(count);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size && field < count; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field].push_back(static_cast<char>(data[i]));
    }
    return fields;
}
