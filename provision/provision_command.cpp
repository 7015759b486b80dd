#include "provision_command.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "bounded_format.h"
#include "client_pair.h"
#include "provision_rules.h"
#include "request_bodies.h"
#include "settings_names.h"
#include "settings_store.h"
#include "switch_word.h"
#include "win_handles.h"

namespace {

constexpr std::size_t kMessageSize = 600;
// Read with room to spare: the check that follows names the real limit.
constexpr DWORD kInstallDirReadBuffer = 256;
constexpr char kCertArgument[] = "cert";
constexpr char kKeyArgument[] = "key";
constexpr char kStagedSuffix[] = ".new";
constexpr char kFormerSuffix[] = ".old";

struct Request {
    struct Item {
        const ProvisionRule* rule;
        std::string value;
    };
    std::vector<Item> items;
    std::string certFile;
    std::string keyFile;
    bool forget = false;
};

// A value as it was before the command touched it, so a failure can put it
// back exactly (type and bytes), or remove it when it was not there.
struct SavedValue {
    const char* name = nullptr;
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

RegKey OpenSettingsKey(REGSAM access)
{
    RegKey key;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, access | KEY_WOW64_32KEY, key.out());
    return key;
}

SavedValue SaveValue(HKEY key, const char* name)
{
    SavedValue saved;
    saved.name = name;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &saved.type, nullptr, &size) != ERROR_SUCCESS)
        return saved;
    saved.data.resize(size);
    if (RegQueryValueExA(key, name, nullptr, &saved.type, saved.data.data(), &size) != ERROR_SUCCESS)
        return saved;
    saved.data.resize(size);
    saved.present = true;
    return saved;
}

void RestoreValue(HKEY key, const SavedValue& saved)
{
    if (saved.present)
        RegSetValueExA(key, saved.name, 0, saved.type, saved.data.data(), static_cast<DWORD>(saved.data.size()));
    else
        RegDeleteValueA(key, saved.name);
}

void Usage(std::FILE* out)
{
    std::fputs("KVLProvision NAME=VALUE... [cert=FILE key=FILE]\n"
               "KVLProvision -installer NAME=VALUE...   (empty values are skipped)\n"
               "KVLProvision -forget                    (removes the settings key and the client pair)\n"
               "Names and their longest values:\n",
               out);
    for (std::size_t i = 0; i < kProvisionRuleCount; ++i)
        std::fprintf(out, "  %-15s %3zu characters\n", kProvisionRules[i].name, LongestAccepted(kProvisionRules[i]));
}

// Splits the arguments into the request; 0 with a message for what cannot be
// understood at all.
int ParseArguments(const std::vector<std::string>& words, Request& request, std::FILE* out)
{
    std::size_t first = 0;
    bool skipEmpty = false;
    if (!words.empty() && SwitchWord(words[0].c_str()) != nullptr) {
        const char* word = SwitchWord(words[0].c_str());
        if (IsSwitchNamed(word, "installer"))
            skipEmpty = true;
        else if (IsSwitchNamed(word, "forget") && words.size() == 1)
            request.forget = true;
        else
            return 0;
        first = 1;
    }
    for (std::size_t i = first; i < words.size(); ++i) {
        const char* argument = words[i].c_str();
        const char* equals = std::strchr(argument, '=');
        if (equals == nullptr) {
            std::fprintf(out, "refused: %s: expected NAME=VALUE\n", argument);
            return 0;
        }
        std::string name(argument, equals);
        const char* value = equals + 1;
        if (skipEmpty && *value == '\0')
            continue;
        std::string* file = name == kCertArgument ? &request.certFile
            : name == kKeyArgument                ? &request.keyFile
                                                  : nullptr;
        const ProvisionRule* rule = FindProvisionRule(name.c_str());
        bool repeated = file != nullptr ? !file->empty() : false;
        for (const Request::Item& item : request.items)
            repeated = repeated || item.rule == rule;
        if (file == nullptr && rule == nullptr) {
            std::fprintf(out, "refused: %s: not a value that is provisioned\n", name.c_str());
            return 0;
        }
        if (repeated) {
            std::fprintf(out, "refused: %s: given twice\n", name.c_str());
            return 0;
        }
        if (file != nullptr)
            *file = value;
        else
            request.items.push_back({rule, value});
    }
    if (request.certFile.empty() != request.keyFile.empty()) {
        std::fputs("refused: cert and key: give both or neither\n", out);
        return 0;
    }
    return 1;
}

// Moves the staged certificate and key over the installed ones, keeping the
// former files until both are in place.
struct PairFiles {
    std::string final[2];
    bool staged[2] = {false, false};
    bool hadFormer[2] = {false, false};
    bool moved[2] = {false, false};

    std::string Staged(int i) const { return final[i] + kStagedSuffix; }
    std::string Former(int i) const { return final[i] + kFormerSuffix; }

    bool Stage(const std::string& cert, const std::string& key)
    {
        const std::string* sources[2] = {&cert, &key};
        for (int i = 0; i < 2; ++i) {
            staged[i] = CopyFileA(sources[i]->c_str(), Staged(i).c_str(), FALSE) != 0;
            if (!staged[i])
                return false;
        }
        return true;
    }

    bool Commit()
    {
        for (int i = 0; i < 2; ++i) {
            hadFormer[i] = GetFileAttributesA(final[i].c_str()) != INVALID_FILE_ATTRIBUTES;
            if (hadFormer[i] && !MoveFileExA(final[i].c_str(), Former(i).c_str(), MOVEFILE_REPLACE_EXISTING)) {
                hadFormer[i] = false;
                return false;
            }
            moved[i] = MoveFileExA(Staged(i).c_str(), final[i].c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
            if (!moved[i])
                return false;
            staged[i] = false;
        }
        return true;
    }

    void Undo()
    {
        for (int i = 0; i < 2; ++i) {
            if (moved[i])
                DeleteFileA(final[i].c_str());
            if (hadFormer[i])
                MoveFileExA(Former(i).c_str(), final[i].c_str(), MOVEFILE_REPLACE_EXISTING);
            if (staged[i])
                DeleteFileA(Staged(i).c_str());
        }
    }

    void DropFormer()
    {
        for (int i = 0; i < 2; ++i) {
            if (hadFormer[i])
                DeleteFileA(Former(i).c_str());
        }
    }
};

int Forget(const char* installDir, std::FILE* out)
{
    for (const char* file : {kClientCertFileName, kClientKeyFileName}) {
        char path[MAX_PATH];
        if (FormatWhole(path, sizeof path, "%sbin\\%s", installDir, file))
            DeleteFileA(path);
    }
    LONG status = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_WOW64_32KEY, 0);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        std::fprintf(out, "failed: the settings key could not be removed (error %ld)\n", status);
        return kProvisionWriteFailed;
    }
    std::fputs("forgotten: the settings key and the client pair\n", out);
    return kProvisioned;
}

} // namespace

int RunProvision(const std::vector<std::string>& words, std::FILE* out)
{
    Request request;
    if (!ParseArguments(words, request, out) ||
        (request.items.empty() && request.certFile.empty() && !request.forget)) {
        Usage(out);
        return kProvisionUsage;
    }

    char message[kMessageSize];
    int refused = 0;
    for (const Request::Item& item : request.items) {
        if (!CheckProvisionValue(*item.rule, item.value.c_str(), message, sizeof message)) {
            std::fprintf(out, "refused: %s\n", message);
            ++refused;
        }
    }
    if (refused != 0)
        return kProvisionValueRefused;

    char installDir[kInstallDirReadBuffer];
    if (ReadSetting(kValueInstallDir, installDir, sizeof installDir) == 0) {
        std::fputs("refused: no installation: the settings key has no installation directory\n", out);
        return kProvisionNoInstallation;
    }
    if (request.forget)
        return Forget(installDir, out);
    if (!CheckInstallDirectory(installDir, message, sizeof message)) {
        std::fprintf(out, "refused: %s\n", message);
        return kProvisionNoInstallation;
    }

    PairFiles pair;
    bool withPair = !request.certFile.empty();
    if (withPair) {
        if (!CheckClientPair(request.certFile.c_str(), request.keyFile.c_str(), message, sizeof message)) {
            std::fprintf(out, "refused: %s\n", message);
            return kProvisionPairRefused;
        }
        const char* names[2] = {kClientCertFileName, kClientKeyFileName};
        for (int i = 0; i < 2; ++i) {
            char path[MAX_PATH];
            if (!FormatWhole(path, sizeof path, "%sbin\\%s", installDir, names[i])) {
                std::fputs("refused: the installation directory is too long for the client pair's paths\n", out);
                return kProvisionNoInstallation;
            }
            pair.final[i] = path;
        }
        if (!pair.Stage(request.certFile, request.keyFile)) {
            std::fprintf(out, "failed: could not copy the client pair into %sbin\\ (error %lu)\n", installDir,
                         GetLastError());
            pair.Undo();
            return kProvisionWriteFailed;
        }
    }

    RegKey key = OpenSettingsKey(KEY_READ | KEY_WRITE);
    std::vector<SavedValue> saved;
    bool written = static_cast<bool>(key);
    for (const Request::Item& item : request.items) {
        if (!written)
            break;
        saved.push_back(SaveValue(key.get(), item.rule->name));
        written = WriteSetting(item.rule->name, item.value.c_str()) != 0;
        if (!written)
            std::fprintf(out, "failed: %s could not be written\n", item.rule->name);
    }
    if (written && withPair) {
        written = pair.Commit();
        if (!written)
            std::fprintf(out, "failed: could not place the client pair into %sbin\\ (error %lu)\n", installDir,
                         GetLastError());
    }
    if (!written) {
        if (key) {
            for (const SavedValue& value : saved)
                RestoreValue(key.get(), value);
        } else {
            std::fputs("failed: the settings key could not be opened for writing\n", out);
        }
        pair.Undo();
        return kProvisionWriteFailed;
    }
    pair.DropFormer();
    std::fprintf(out, "provisioned: %zu value(s)%s\n", request.items.size(),
                 withPair ? ", client certificate and key" : "");
    return kProvisioned;
}
