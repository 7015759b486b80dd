#include "reg_text.h"

DWORD QueryRegText(HKEY key, const char* name, char* buffer, DWORD size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    DWORD type = 0;
    DWORD bytes = size;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (rc != ERROR_SUCCESS || type != REG_SZ || bytes > size)
        return 0;
    // Another program may have stored the text without its terminator; add one
    // when it fits, otherwise the value is too long for this reader.
    if (bytes == 0 || buffer[bytes - 1] != '\0') {
        if (bytes >= size)
            return 0;
        buffer[bytes] = '\0';
        return bytes + 1;
    }
    return bytes;
}

LONG SetRegText(HKEY key, const char* name, const char* text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(lstrlenA(text) + 1));
}
