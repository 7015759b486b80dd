#include "service_registry.h"

#include "reg_text.h"
#include "service_log.h"
#include "settings_names.h"

int GetRegValue(const char* name, char* buffer, DWORD size)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceSettingsSubkey, 0, KEY_READ | KEY_WOW64_32KEY, key.out()) !=
        ERROR_SUCCESS) {
        LogMessage("GetRegValue: RegOpenKeyEx failed");
        return 0;
    }
    DWORD stored = QueryRegText(key.get(), name, buffer, size);
    if (stored == 0) {
        LogMessage("GetRegValue: RegQueryValueEx failed(%s)", name);
        return 0;
    }
    return static_cast<int>(stored);
}

int SetRegValue(const char* text, const char* name)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceSettingsSubkey, 0, KEY_WRITE | KEY_WOW64_32KEY, key.out()) !=
        ERROR_SUCCESS) {
        LogMessage("RegOpenKeyEx() failed");
        // The service program is the one place that creates the settings key.
        char emptyClass[] = "";
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServiceSettingsSubkey, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE | KEY_WOW64_32KEY, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
            return 0;
    }
    if (SetRegText(key.get(), name, text) != ERROR_SUCCESS) {
        LogMessage("RegSetValueEx() failed");
        return 0;
    }
    return 1;
}
