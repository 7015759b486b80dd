#include "provision_command.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "bounded_format.h"
#include "client_pair.h"
#include "installation_files.h"
#include "installation_folders.h"
#include "provision_rules.h"
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
constexpr char kCaArgument[] = "ca";
constexpr char kPublisherArgument[] = "publisher";
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
    std::string caFile;
    std::string publisherFile;
    bool installer = false;
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
    std::fputs("KVLProvision NAME=VALUE... [cert=FILE key=FILE] [ca=FILE] [publisher=FILE]\n"
               "KVLProvision -installer NAME=VALUE...   (empty values are skipped; with none, bin\\ is only\n"
               "                                         restricted)\n"
               "KVLProvision -forget                    (removes the settings key, the client pair, the CA and the publisher)\n"
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
            skipEmpty = request.installer = true;
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
            : name == kCaArgument                 ? &request.caFile
            : name == kPublisherArgument          ? &request.publisherFile
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

// Moves the staged files (certificate, key, server CA) over the installed
// ones, keeping the former files until all are in place.
struct BinFiles {
    struct Entry {
        std::string source;
        std::string final;
        bool staged = false;
        bool hadFormer = false;
        bool moved = false;

        std::string Staged() const { return final + kStagedSuffix; }
        std::string Former() const { return final + kFormerSuffix; }
    };
    std::vector<Entry> entries;

    bool Stage()
    {
        for (Entry& entry : entries) {
            entry.staged = CopyFileA(entry.source.c_str(), entry.Staged().c_str(), FALSE) != 0;
            if (!entry.staged)
                return false;
        }
        return true;
    }

    bool Commit()
    {
        for (Entry& entry : entries) {
            entry.hadFormer = GetFileAttributesA(entry.final.c_str()) != INVALID_FILE_ATTRIBUTES;
            if (entry.hadFormer &&
                !MoveFileExA(entry.final.c_str(), entry.Former().c_str(), MOVEFILE_REPLACE_EXISTING)) {
                entry.hadFormer = false;
                return false;
            }
            entry.moved = MoveFileExA(entry.Staged().c_str(), entry.final.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
            if (!entry.moved)
                return false;
            entry.staged = false;
        }
        return true;
    }

    void Undo()
    {
        for (const Entry& entry : entries) {
            if (entry.moved)
                DeleteFileA(entry.final.c_str());
            if (entry.hadFormer)
                MoveFileExA(entry.Former().c_str(), entry.final.c_str(), MOVEFILE_REPLACE_EXISTING);
            if (entry.staged)
                DeleteFileA(entry.Staged().c_str());
        }
    }

    void DropFormer()
    {
        for (const Entry& entry : entries) {
            if (entry.hadFormer)
                DeleteFileA(entry.Former().c_str());
        }
    }
};

int Forget(const char* installDir, std::FILE* out)
{
    for (const char* file : {kClientCertFileName, kClientKeyFileName, kServerCaFileName, kPublisherCertFileName}) {
        char path[MAX_PATH];
        if (FormatWhole(path, sizeof path, "%sbin\\%s", installDir, file))
            DeleteFileA(path);
    }
    LONG status = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_WOW64_32KEY, 0);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        std::fprintf(out, "failed: the settings key could not be removed (error %ld)\n", status);
        return kProvisionWriteFailed;
    }
    std::fputs("forgotten: the settings key, the client pair, the server CA and the publisher\n", out);
    return kProvisioned;
}

} // namespace

int RunProvision(const std::vector<std::string>& words, std::FILE* out)
{
    Request request;
    if (!ParseArguments(words, request, out) ||
        (request.items.empty() && request.certFile.empty() && request.caFile.empty() &&
         request.publisherFile.empty() && !request.forget &&
         !request.installer)) {
        Usage(out);
        return kProvisionUsage;
    }

    char message[kMessageSize];
    int refused = 0;
    for (const Request::Item& item : request.items) {
        if (!CheckProvisionValue(*item.rule, item.value.c_str(), message, sizeof message)) {
            std::fprintf(out, "refused: %s\n", message);
            ++refused;
        } else if ((std::strcmp(item.rule->name, kValueConfigDir) == 0 ||
                    std::strcmp(item.rule->name, kValueLogDir) == 0) &&
                   IsFolderLinked(item.value.c_str(), message, sizeof message)) {
            std::fprintf(out, "refused: %s: %s; keep the folder inside the installation folder\n", item.rule->name,
                         message);
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
    if (IsFolderLinked(installDir, message, sizeof message)) {
        std::fprintf(out, "refused: installation directory: %s\n", message);
        return kProvisionNoInstallation;
    }

    BinFiles files;
    bool withPair = !request.certFile.empty();
    if (withPair && !CheckClientPair(request.certFile.c_str(), request.keyFile.c_str(), message, sizeof message)) {
        std::fprintf(out, "refused: %s\n", message);
        return kProvisionPairRefused;
    }
    if (!request.caFile.empty() && !CheckCertificateFile(request.caFile.c_str(), "server CA", message, sizeof message)) {
        std::fprintf(out, "refused: %s\n", message);
        return kProvisionPairRefused;
    }
    if (!request.publisherFile.empty() &&
        !CheckCertificateFile(request.publisherFile.c_str(), "publisher certificate", message, sizeof message)) {
        std::fprintf(out, "refused: %s\n", message);
        return kProvisionPairRefused;
    }
    const std::pair<const std::string*, const char*> wanted[] = {
        {&request.certFile, kClientCertFileName},
        {&request.keyFile, kClientKeyFileName},
        {&request.caFile, kServerCaFileName},
        {&request.publisherFile, kPublisherCertFileName},
    };
    for (const auto& [source, name] : wanted) {
        if (source->empty())
            continue;
        char path[MAX_PATH];
        if (!FormatWhole(path, sizeof path, "%sbin\\%s", installDir, name)) {
            std::fputs("refused: the installation directory is too long for the paths in its bin\\\n", out);
            return kProvisionNoInstallation;
        }
        files.entries.push_back({*source, path});
    }

    // Restricted before anything lands there, so what is copied in inherits
    // the restriction; the files are given it again once they are in place.
    const std::string binFolder = std::string(installDir) + "bin";
    if (!RestrictBinFolder(binFolder, message, sizeof message)) {
        std::fprintf(out, "failed: %s\n", message);
        return kProvisionWriteFailed;
    }
    if (!files.Stage()) {
        std::fprintf(out, "failed: could not copy the files into %sbin\\ (error %lu)\n", installDir, GetLastError());
        files.Undo();
        return kProvisionWriteFailed;
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
    if (written && !files.entries.empty()) {
        written = files.Commit();
        if (!written)
            std::fprintf(out, "failed: could not place the files into %sbin\\ (error %lu)\n", installDir,
                         GetLastError());
        else if (!(written = RestrictBinFolder(binFolder, message, sizeof message) != 0))
            std::fprintf(out, "failed: %s\n", message);
    }
    if (!written) {
        if (key) {
            for (const SavedValue& value : saved)
                RestoreValue(key.get(), value);
        } else {
            std::fputs("failed: the settings key could not be opened for writing\n", out);
        }
        files.Undo();
        return kProvisionWriteFailed;
    }
    files.DropFormer();
    std::fprintf(out, "provisioned: %zu value(s)%s%s%s\n", request.items.size(),
                 withPair ? ", client certificate and key" : "", request.caFile.empty() ? "" : ", server CA",
                 request.publisherFile.empty() ? "" : ", publisher certificate");
    return kProvisioned;
}
