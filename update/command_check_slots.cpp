#include <cstring>

#include "command_check.h"
#include "settings_names.h"

namespace {

// There are no slots 2 and 5.
constexpr CommandSlot kSlots[] = {
    {"1", kValueCommandCode1, kValueCommandVersion1}, {"3", kValueCommandCode3, kValueCommandVersion3},
    {"4", kValueCommandCode4, kValueCommandVersion4}, {"6", kValueCommandCode6, kValueCommandVersion6},
    {"7", kValueCommandCode7, kValueCommandVersion7}, {"8", kValueCommandCode8, kValueCommandVersion8},
};

} // namespace

const CommandSlot* FindCommandSlot(const char* code)
{
    if (code == nullptr)
        return nullptr;
    for (const CommandSlot& slot : kSlots)
        if (std::strcmp(code, slot.code) == 0)
            return &slot;
    return nullptr;
}
