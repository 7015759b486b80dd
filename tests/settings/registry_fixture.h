// Test helpers for the settings key: each test starts from a known key and
// leaves it removed, so cases sharing one Wine prefix do not see each other.
#pragma once

#include <windows.h>

#include <string>

#include "settings_names.h"
#include "win_handles.h"

// Deletes the settings key with everything in it (32-bit view).
inline void DeleteSettingsKey()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Pelmora\\VPNKorv");
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_WOW64_32KEY, 0);
}

// Creates the settings key (32-bit view) and returns true on success.
inline bool CreateSettingsKey()
{
    RegKey key;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                           nullptr, key.out(), nullptr) == ERROR_SUCCESS;
}

// Stores raw bytes of any type under the settings key, bypassing the store.
inline bool SetRawValue(const char* name, DWORD type, const void* data, DWORD bytes)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, key.out()) !=
        ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
}

inline bool SetTextValue(const char* name, const std::string& text)
{
    return SetRawValue(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// Reads a value's raw bytes and type under `root\subkey` in the given view;
// false when it is missing.
inline bool GetRawValue(HKEY root, const char* subkey, REGSAM view, const char* name, DWORD* type, std::string* bytes)
{
    RegKey key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | view, key.out()) != ERROR_SUCCESS)
        return false;
    char data[1024];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key.get(), name, nullptr, type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return false;
    bytes->assign(data, size);
    return true;
}

inline bool SettingsKeyExists()
{
    RegKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_READ | KEY_WOW64_32KEY, key.out()) ==
        ERROR_SUCCESS;
}
