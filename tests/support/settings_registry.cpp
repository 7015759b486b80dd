#include "settings_registry.h"

#include "settings_names.h"
#include "win_handles.h"

namespace {

// Every key the tests touch lives in the 32-bit view, where the shipped
// 32-bit program's accesses land.
constexpr REGSAM kView = KEY_WOW64_32KEY;

// A value in the test's view of the registry.
struct Place {
    HKEY root;
    const char* subkey;
    const char* name;
};
const Place kIdentity{HKEY_CLASSES_ROOT, kIdentitySubkey, kValueIdentityKey};
const Place kRunValue{HKEY_LOCAL_MACHINE, kRunSubkey, kValueRunTray};
Place Setting(const char* name) { return {HKEY_LOCAL_MACHINE, kSettingsSubkey, name}; }

bool Open(HKEY root, const char* subkey, REGSAM access, RegKey& key)
{
    return RegOpenKeyExA(root, subkey, 0, access | kView, key.out()) == ERROR_SUCCESS;
}

bool Create(HKEY root, const char* subkey, RegKey& key)
{
    return RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | kView, nullptr,
                           key.out(), nullptr) == ERROR_SUCCESS;
}

std::optional<std::string> GetText(const Place& place)
{
    DWORD type = 0;
    std::string text;
    if (!GetRawValue(place.root, place.subkey, kView, place.name, &type, &text) || type != REG_SZ)
        return std::nullopt;
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

bool SetRaw(const Place& place, DWORD type, const void* data, DWORD bytes)
{
    RegKey key;
    return Create(place.root, place.subkey, key) &&
        RegSetValueExA(key.get(), place.name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
}

bool SetText(const Place& place, const std::string& text)
{
    return SetRaw(place, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void Delete(const Place& place)
{
    RegKey key;
    if (Open(place.root, place.subkey, KEY_READ | KEY_WRITE, key))
        RegDeleteValueA(key.get(), place.name);
}

// Puts back a saved text value, or removes one that was not there.
void Restore(const Place& place, const std::optional<std::string>& saved)
{
    if (saved)
        SetText(place, *saved);
    else
        Delete(place);
}

} // namespace

std::optional<std::string> GetSettingForTest(const char* name) { return GetText(Setting(name)); }
bool SetSettingForTest(const char* name, const std::string& text) { return SetText(Setting(name), text); }
void DeleteSettingForTest(const char* name) { Delete(Setting(name)); }

bool SetSettingsForTest(std::initializer_list<std::pair<const char*, std::string>> values)
{
    bool written = true;
    for (const auto& [name, text] : values)
        written = SetText(Setting(name), text) && written;
    return written;
}
std::optional<std::string> GetIdentityForTest() { return GetText(kIdentity); }
bool SetIdentityForTest(const std::string& text) { return SetText(kIdentity, text); }
std::optional<std::string> GetRunValueForTest() { return GetText(kRunValue); }
bool SetRunValueForTest(const std::string& text) { return SetText(kRunValue, text); }
void DeleteRunValueForTest() { Delete(kRunValue); }

bool SetRawSetting(const char* name, DWORD type, const void* data, DWORD bytes)
{
    return SetRaw(Setting(name), type, data, bytes);
}

bool GetRawValue(HKEY root, const char* subkey, REGSAM view, const char* name, DWORD* type, std::string* bytes)
{
    RegKey key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | view, key.out()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    bytes->assign(size, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, type, reinterpret_cast<BYTE*>(bytes->data()), &size) !=
        ERROR_SUCCESS)
        return false;
    bytes->resize(size);
    return true;
}

bool SettingsKeyExists()
{
    RegKey key;
    return Open(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_READ, key);
}

std::map<std::string, std::string> AllSettingsForTest()
{
    std::map<std::string, std::string> values;
    RegKey key;
    if (!Open(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_READ, key))
        return values;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameLength = sizeof name;
        BYTE data[4096];
        DWORD dataLength = sizeof data;
        if (RegEnumValueA(key.get(), index, name, &nameLength, nullptr, nullptr, data, &dataLength) != ERROR_SUCCESS)
            break;
        std::string text(reinterpret_cast<const char*>(data), dataLength);
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        values[std::string(name, nameLength)] = text;
    }
    return values;
}

bool CreateSettingsKey()
{
    RegKey key;
    return Create(HKEY_LOCAL_MACHINE, kSettingsSubkey, key);
}

void DeleteSettingsKey()
{
    RegKey key;
    if (Open(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_READ | KEY_WRITE, key))
        RegDeleteTreeA(key.get(), nullptr);
    key.reset();
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, kView, 0);
}

RegistrySnapshot::RegistrySnapshot()
{
    keyExisted_ = SettingsKeyExists();
    RegKey key;
    if (Create(HKEY_LOCAL_MACHINE, kSettingsSubkey, key)) {
        for (DWORD index = 0;; ++index) {
            char name[16384];
            DWORD nameLength = sizeof name;
            DWORD type = 0;
            DWORD size = 0;
            if (RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                break;
            Value value{std::string(name, nameLength), type, std::vector<BYTE>(size)};
            DWORD dataSize = size;
            if (RegQueryValueExA(key.get(), value.name.c_str(), nullptr, &value.type, value.data.data(), &dataSize) ==
                ERROR_SUCCESS) {
                value.data.resize(dataSize);
                values_.push_back(std::move(value));
            }
        }
    }
    identity_ = GetIdentityForTest();
    runValue_ = GetRunValueForTest();
}

RegistrySnapshot::~RegistrySnapshot()
{
    {
        RegKey key;
        if (Create(HKEY_LOCAL_MACHINE, kSettingsSubkey, key)) {
            // Remove everything, then put the saved values back.
            for (;;) {
                char name[16384];
                DWORD nameLength = sizeof name;
                if (RegEnumValueA(key.get(), 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                if (RegDeleteValueA(key.get(), name) != ERROR_SUCCESS)
                    break;
            }
            for (const Value& value : values_)
                RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                               static_cast<DWORD>(value.data.size()));
        }
    }
    if (!keyExisted_)
        DeleteSettingsKey();
    Restore(kIdentity, identity_);
    Restore(kRunValue, runValue_);
}
