// Bounded formatting that never hands on a cut text: a result that does not
// fit its buffer whole is refused and the buffer emptied. A path or a request
// body cut short is worse than none (it may name another file).
#pragma once

#include <cstdarg>
#include <cstddef>

// The format checks of printf-like helpers: GCC (MinGW's C runtime among
// them) checks against the GNU conversions, clang knows only plain printf.
#if defined(__clang__)
#define KVL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define KVL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#endif

// Formats into `out` (capacity `size`). Returns 1 when the whole text fit, or
// 0 with `out` emptied when it did not or the format failed.
int FormatWhole(char* out, std::size_t size, const char* format, ...) KVL_PRINTF_FORMAT(3, 4);
int FormatWholeV(char* out, std::size_t size, const char* format, va_list args) KVL_PRINTF_FORMAT(3, 0);

// Copies `text` whole into `out`, or returns 0 with `out` emptied.
int CopyWhole(char* out, std::size_t size, const char* text);
