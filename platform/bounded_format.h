// Bounded formatting that never hands on a cut text: a result that does not
// fit its buffer whole is refused and the buffer emptied. A path or a request
// body cut short is worse than none (it may name another file).
#pragma once

#include <cstdarg>
#include <cstddef>

// Formats into `out` (capacity `size`). Returns 1 when the whole text fit, or
// 0 with `out` emptied when it did not or the format failed.
int FormatWhole(char* out, std::size_t size, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));
int FormatWholeV(char* out, std::size_t size, const char* format, va_list args)
    __attribute__((format(gnu_printf, 3, 0)));

// Copies `text` whole into `out`, or returns 0 with `out` emptied.
int CopyWhole(char* out, std::size_t size, const char* text);
