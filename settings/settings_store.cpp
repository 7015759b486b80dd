#include "settings_store.h"

#include "reg_text.h"
#include "settings_names.h"

int ReadRegValue(const char* subkey, const char* name, char* buffer, DWORD size)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ | KEY_WOW64_32KEY, key.out()) != ERROR_SUCCESS)
        return 0;
    return static_cast<int>(QueryRegText(key.get(), name, buffer, size));
}

int WriteRegValue(const char* subkey, const char* name, const char* text)
{
    // In the 32-bit product KEY_WRITE alone already addresses the 32-bit view;
    // the flag keeps a 64-bit build (the one the tests run) on the same view.
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_WRITE | KEY_WOW64_32KEY, key.out()) != ERROR_SUCCESS)
        return 0;
    return SetRegText(key.get(), name, text) == ERROR_SUCCESS ? 1 : 0;
}

int DeleteRegValue(const char* subkey, const char* name)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, key.out()) != ERROR_SUCCESS)
        return 0;
    return RegDeleteValueA(key.get(), name) == ERROR_SUCCESS ? 1 : 0;
}

int WriteIdentityValue(const char* name, const char* text)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kIdentitySubkey, 0, KEY_WRITE | KEY_WOW64_32KEY, key.out()) != ERROR_SUCCESS) {
        char emptyClass[] = "";
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kIdentitySubkey, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, key.out(),
                            nullptr) != ERROR_SUCCESS)
            return 0;
    }
    return SetRegText(key.get(), name, text) == ERROR_SUCCESS ? 1 : 0;
}

int ReadSetting(const char* name, char* buffer, std::size_t size)
{
    if (ReadRegValue(kSettingsSubkey, name, buffer, static_cast<DWORD>(size)) == 0) {
        // The store leaves the buffer unspecified on failure; never let a
        // caller see a half-read value.
        if (size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return 1;
}

int WriteSetting(const char* name, const char* text) { return WriteRegValue(kSettingsSubkey, name, text); }
