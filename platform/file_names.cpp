#include "file_names.h"

#include <cstring>

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsRefusedCharacter(unsigned char c) { return c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr; }

// The part before the first dot (the stem Windows matches device names by),
// compared without regard to case.
bool IsDeviceName(const char* name)
{
    static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    static constexpr const char* kNumbered[] = {"COM", "LPT"};
    std::size_t stem = std::strcspn(name, ".");
    // Windows also ignores blanks after the stem ("nul .txt").
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    char upper[5] = "";
    if (stem < 3 || stem > 4)
        return false;
    for (std::size_t i = 0; i < stem; ++i)
        upper[i] = Upper(name[i]);
    upper[stem] = '\0';
    if (stem == 3) {
        for (const char* device : kDevices)
            if (std::strcmp(upper, device) == 0)
                return true;
        return false;
    }
    for (const char* prefix : kNumbered)
        if (std::strncmp(upper, prefix, 3) == 0 && upper[3] >= '1' && upper[3] <= '9')
            return true;
    return false;
}

} // namespace

int IsPlainFileName(const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return 0;
    const std::size_t length = strnlen(name, kPlainNameLimit + 1);
    if (length > kPlainNameLimit)
        return 0;
    for (std::size_t i = 0; i < length; ++i)
        if (IsRefusedCharacter(static_cast<unsigned char>(name[i])))
            return 0;
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return 0;
    return IsDeviceName(name) ? 0 : 1;
}
