#include "bounded_format.h"

#include <cstdio>

int FormatWholeV(char* out, std::size_t size, const char* format, va_list args)
{
    if (out == nullptr || size == 0)
        return 0;
    const int written = std::vsnprintf(out, size, format, args);
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int FormatWhole(char* out, std::size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int whole = FormatWholeV(out, size, format, args);
    va_end(args);
    return whole;
}

int CopyWhole(char* out, std::size_t size, const char* text) { return FormatWhole(out, size, "%s", text); }
