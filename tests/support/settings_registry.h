// The registry as the tests see it: the settings key (HKLM, 32-bit view), the
// identity key and the tray's Run value, read and written directly rather
// than through the product's own access functions, and a snapshot that puts
// them back after a case.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Text values (REG_SZ); anything else reads as missing.
std::optional<std::string> GetSettingForTest(const char* name);
bool SetSettingForTest(const char* name, const std::string& text);
void DeleteSettingForTest(const char* name);
// Several values at once; false when any could not be written.
bool SetSettingsForTest(std::initializer_list<std::pair<const char*, std::string>> values);
std::optional<std::string> GetIdentityForTest();
bool SetIdentityForTest(const std::string& text);
std::optional<std::string> GetRunValueForTest();
bool SetRunValueForTest(const std::string& text);
void DeleteRunValueForTest();

// Values of any type, byte for byte: what the product's readers must cope
// with, and what its writers really stored.
bool SetRawSetting(const char* name, DWORD type, const void* data, DWORD bytes);
bool GetRawValue(HKEY root, const char* subkey, REGSAM view, const char* name, DWORD* type, std::string* bytes);

// Every value of the settings key, whatever its type, as the bytes it holds
// without trailing NULs: what a case compares before and after.
std::map<std::string, std::string> AllSettingsForTest();

bool SettingsKeyExists();
bool CreateSettingsKey();
// The settings key with everything in it.
void DeleteSettingsKey();

// Saves every value of the settings key, the identity value and the Run
// value on construction (creating the settings key when it is missing) and
// puts them back as they were on destruction, so cases that share one Wine
// prefix do not see each other's values.
class RegistrySnapshot {
public:
    RegistrySnapshot();
    RegistrySnapshot(const RegistrySnapshot&) = delete;
    RegistrySnapshot& operator=(const RegistrySnapshot&) = delete;
    ~RegistrySnapshot();

private:
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool keyExisted_ = false;
    std::vector<Value> values_;
    std::optional<std::string> identity_;
    std::optional<std::string> runValue_;
};
