#include "interactive_user.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

#include "bounded_format.h"
#include "ferolin_limits.h"
#include "settings_names.h"
#include "settings_store.h"
#include "unique_resource.h"
#include "win_handles.h"

namespace {

constexpr char kOwnerFileName[] = "owner.conf";
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kDesktopShell[] = "explorer.exe";

// No account is named with a line break: the line as the file holds it
// ends with one (a CR too when the file has Windows line ends).
void DropLineBreak(char* line)
{
    std::size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = '\0';
}

} // namespace

int ReadOwnerFile(char* buffer, std::size_t size)
{
    char configDir[kConfigDirReadSize];
    if (!ReadSetting(kValueConfigDir, configDir, sizeof configDir))
        return 0;
    const std::size_t length = std::strlen(configDir);
    if (length > 0 && configDir[length - 1] == '\\')
        configDir[length - 1] = '\0';
    char path[kOwnerFilePathSize];
    if (!FormatWhole(path, sizeof path, "%s\\%s", configDir, kOwnerFileName))
        return 0;

    FileStream file(std::fopen(path, "r"));
    if (!file || size == 0)
        return 0;
    if (std::fgets(buffer, static_cast<int>(size), file.get()) == nullptr)
        return 0;
    // Notepad saves UTF-8 with a byte-order mark, which is no part of a name.
    if (std::strncmp(buffer, kUtf8ByteOrderMark, sizeof kUtf8ByteOrderMark - 1) == 0)
        std::memmove(buffer, buffer + sizeof kUtf8ByteOrderMark - 1,
                     std::strlen(buffer) - (sizeof kUtf8ByteOrderMark - 1) + 1);
    DropLineBreak(buffer);
    // No account name holds a double quote, and one would end the quoted
    // account of the "-commit" command line that schtasks runs: such a file
    // names no owner.
    if (std::strchr(buffer, '"') != nullptr)
        buffer[0] = '\0';
    return buffer[0] != '\0' ? 1 : 0;
}

int FindProcessUser(const char* exeName, char* buffer, std::size_t size)
{
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0));
    if (!snapshot)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (std::strcmp(entry.szExeFile, exeName) != 0)
            continue;
        KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process)
            continue;
        return GetProcessUserName(process.get(), buffer, size);
    }
    return 0;
}

int GetProcessUserName(HANDLE process, char* buffer, std::size_t size)
{
    KernelHandle token;
    if (!OpenProcessToken(process, TOKEN_READ, token.out()) || !token)
        return 0;
    DWORD needed = 0;
    if (GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    MallocBlock<TOKEN_USER> user(static_cast<TOKEN_USER*>(std::malloc(needed)));
    if (!user || !GetTokenInformation(token.get(), TokenUser, user.get(), needed, &needed))
        return 0;

    char name[kLookupNameSize];
    char domain[kLookupNameSize];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, user.get()->User.Sid, name, &nameSize, domain, &domainSize, &use))
        return 0;
    return CopyWhole(buffer, size, name);
}

int FindInteractiveUser(char* buffer, std::size_t size)
{
    return ReadOwnerFile(buffer, size) || FindProcessUser(kDesktopShell, buffer, size) ? 1 : 0;
}
