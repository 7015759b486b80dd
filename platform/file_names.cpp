#include "file_names.h"

#include <cstring>

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(const char* text, std::size_t length, const char* upper)
{
    if (std::strlen(upper) != length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (Upper(text[i]) != upper[i])
            return false;
    return true;
}

bool IsRefusedCharacter(unsigned char c) { return c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr; }

// ANSI code page 1252's superscript one, two and three: Windows reserves
// "COM¹" and "LPT²" as it does "COM1".
bool IsDeviceDigit(unsigned char c) { return (c >= '1' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3; }

// The part before the first dot (the stem Windows matches device names by),
// compared without regard to case.
bool IsDeviceName(const char* name)
{
    static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    static constexpr const char* kNumbered[] = {"COM", "LPT"};
    std::size_t stem = std::strcspn(name, ".");
    // Windows also ignores blanks after the stem ("nul .txt").
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    for (const char* device : kDevices)
        if (EqualsIgnoringCase(name, stem, device))
            return true;
    if (stem != 4)
        return false;
    for (const char* prefix : kNumbered)
        if (EqualsIgnoringCase(name, 3, prefix) && IsDeviceDigit(static_cast<unsigned char>(name[3])))
            return true;
    return false;
}

bool HasShortNameAlias(const char* name)
{
    for (const char* tilde = std::strchr(name, '~'); tilde != nullptr; tilde = std::strchr(tilde + 1, '~'))
        if (tilde[1] >= '0' && tilde[1] <= '9')
            return true;
    return false;
}

bool EndsWithIgnoringCase(const char* name, const char* upperSuffix)
{
    const std::size_t length = std::strlen(name);
    const std::size_t suffix = std::strlen(upperSuffix);
    return length >= suffix && EqualsIgnoringCase(name + length - suffix, suffix, upperSuffix);
}

// What the loader maps by name (a program's imports are looked for in its own
// folder first), what a double click or a shell verb runs, and what redirects
// either. A denylist, not an allowlist: the kinds of file the VPN client reads
// are the provider's choice, not the agent's (see docs/attack-surface.md).
constexpr const char* kLoadableExtensions[] = {
    // Code the loader maps, and its redirections.
    ".EXE", ".DLL", ".SYS", ".DRV", ".OCX", ".CPL", ".SCR", ".AX", ".ACM", ".TSP", ".EFI", ".MUI", ".MANIFEST",
    ".LOCAL",
    // Programs and scripts the shell runs.
    ".COM", ".BAT", ".CMD", ".PIF", ".PS1", ".PSM1", ".PSD1", ".PS1XML", ".VBS", ".VBE", ".JS", ".JSE", ".WSF", ".WSH",
    ".WSC", ".HTA", ".SCT", ".JAR", ".MSC", ".CHM", ".XLL", ".GADGET", ".APPLICATION", ".APPREF-MS",
    // Installers.
    ".MSI", ".MSP", ".MST", ".MSIX", ".APPX", ".INF", ".REG",
    // Links that start something else.
    ".LNK", ".URL", ".SCF", ".SETTINGCONTENT-MS", ".LIBRARY-MS", ".SEARCH-MS"};

bool HasLoadableExtension(const char* name, const char* accepted)
{
    for (const char* extension : kLoadableExtensions)
        if (EndsWithIgnoringCase(name, extension))
            return accepted == nullptr || std::strcmp(extension, accepted) != 0;
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
    if (HasShortNameAlias(name) || EndsWithIgnoringCase(name, ".LOCAL"))
        return 0;
    return IsDeviceName(name) ? 0 : 1;
}

int IsServerFileName(const char* name) { return IsPlainFileName(name) && !HasLoadableExtension(name, nullptr) ? 1 : 0; }

int IsServerPackageName(const char* name)
{
    return IsPlainFileName(name) && !HasLoadableExtension(name, ".MSI") ? 1 : 0;
}
