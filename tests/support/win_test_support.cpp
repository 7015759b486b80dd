#include "win_test_support.h"

#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "part_file.h"
#include "win_handles.h"

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length < sizeof path ? length : 0);
    std::size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string WindowsPathOfLinuxPath(const std::string& linuxPath)
{
    std::string path = "Z:" + linuxPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::optional<std::string> ReadWholeFile(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    fclose(file);
    return text;
}

bool WriteWholeFile(const std::string& path, const std::string& text)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && written;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int ScratchFilesOf(const std::string& target)
{
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA((target + kPartFileMark + "*").c_str(), &found));
    if (!search)
        return 0;
    int count = 0;
    do
        count += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
    while (FindNextFileA(search.get(), &found));
    return count;
}

namespace {

void CollectTree(const std::string& root, const std::string& relative, std::map<std::string, std::string>& tree)
{
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA((root + "\\" + relative + "*").c_str(), &found));
    if (!search)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[relative + name + "\\"] = "";
            CollectTree(root, relative + name + "\\", tree);
        } else {
            tree[relative + name] = ReadWholeFile(root + "\\" + relative + name).value_or("<unreadable>");
        }
    } while (FindNextFileA(search.get(), &found));
}

} // namespace

std::map<std::string, std::string> TreeOf(const std::string& root)
{
    std::map<std::string, std::string> tree;
    CollectTree(root, "", tree);
    return tree;
}

void RemoveTree(const std::string& root)
{
    std::map<std::string, std::string> tree = TreeOf(root);
    // Reverse order: a folder's contents come after it in the map.
    for (auto entry = tree.rbegin(); entry != tree.rend(); ++entry) {
        const std::string path = root + "\\" + entry->first;
        if (!entry->first.empty() && entry->first.back() == '\\')
            RemoveDirectoryA(path.c_str());
        else
            DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(root.c_str());
}

std::optional<std::string> RunAndCapture(const std::string& commandLine, DWORD* exitCode, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    KernelHandle readEnd;
    KernelHandle writeEnd;
    if (!CreatePipe(readEnd.out(), writeEnd.out(), &inheritable, 0))
        return std::nullopt;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    FileHandle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                               OPEN_EXISTING, 0, nullptr));

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = nul.get();
    PROCESS_INFORMATION process = {};
    std::string mutableLine = commandLine;
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return std::nullopt;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    // Only the child may hold the write end now, so the read ends with it.
    writeEnd.reset();

    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        output.append(chunk, got);
    if (WaitForSingleObject(processHandle.get(), timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    GetExitCodeProcess(processHandle.get(), exitCode);
    return output;
}

bool MakeHostSymlink(const std::string& folder, const std::string& target, const std::string& name)
{
    // Wine starts a program that is not a Windows program as a host process,
    // in the host folder of its working directory. Its handle cannot be
    // waited for, so the result is watched instead.
    std::string line = target.empty() ? "Z:\\bin\\rm -f " + name : "Z:\\bin\\ln -sfn " + target + " " + name;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
        return false;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    std::string path = folder + (folder.back() == '\\' ? "" : "\\") + name;
    for (int poll = 0; poll < 100; ++poll) {
        WIN32_FIND_DATAA found;
        const bool present = static_cast<bool>(FindHandle(FindFirstFileA(path.c_str(), &found)));
        if (present != target.empty())
            return true;
        Sleep(100);
    }
    return false;
}

HeldFile::HeldFile(const std::string& path, DWORD shareMode, DWORD releaseAfterMs)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    KernelHandle inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(inputRead.out(), inputWrite.out(), &inheritable, 0) ||
        !CreatePipe(outputRead.out(), outputWrite.out(), &inheritable, 0))
        return;
    SetHandleInformation(inputWrite.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead.get();
    startup.hStdOutput = startup.hStdError = outputWrite.get();
    std::string line = "\"" + ProgramFolder() + "file_holder.exe\" \"" + path + "\" " + std::to_string(shareMode);
    if (releaseAfterMs != INFINITE)
        line += " " + std::to_string(releaseAfterMs);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &child))
        return;
    CloseHandle(child.hThread);
    process_ = child.hProcess;
    input_ = inputWrite.release();
    outputWrite.reset();
    char said[4] = {};
    DWORD got = 0;
    held_ =
        ReadFile(outputRead.get(), said, sizeof said, &got, nullptr) && got == 4 && std::memcmp(said, "held", 4) == 0;
}

void HeldFile::Release()
{
    if (input_ != nullptr)
        CloseHandle(std::exchange(input_, nullptr));
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_, 1);
        CloseHandle(std::exchange(process_, nullptr));
    }
}

SearchedFirst::SearchedFirst(const std::string& folder)
{
    char text[32767];
    DWORD length = GetCurrentDirectoryA(sizeof text, text);
    directory_.assign(text, length < sizeof text ? length : 0);
    length = GetEnvironmentVariableA("PATH", text, sizeof text);
    path_.assign(text, length < sizeof text ? length : 0);
    SetCurrentDirectoryA(folder.c_str());
    SetEnvironmentVariableA("PATH", (folder + ";" + path_).c_str());
}

SearchedFirst::~SearchedFirst()
{
    SetEnvironmentVariableA("PATH", path_.c_str());
    SetCurrentDirectoryA(directory_.c_str());
}

std::string WithCrLf(const std::string& text)
{
    std::string converted;
    for (char c : text) {
        if (c == '\n')
            converted += '\r';
        converted += c;
    }
    return converted;
}

std::string ExpectedMachineIdentity()
{
    std::string volume;
    DWORD serial = 0;
    if (GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        volume = std::to_string(static_cast<unsigned long>(serial));

    std::string adapter;
    ULONG length = 256 * 1024;
    std::unique_ptr<BYTE[]> buffer(new BYTE[length]);
    auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get());
    if (GetAdaptersInfo(list, &length) == NO_ERROR) {
        const IP_ADAPTER_INFO* chosen = list;
        DWORD lowest = 999;
        for (const IP_ADAPTER_INFO* a = list; a != nullptr; a = a->Next) {
            bool wanted = a->Type == MIB_IF_TYPE_ETHERNET || a->Type == IF_TYPE_IEEE80211;
            if (wanted && a->Index < lowest) {
                chosen = a;
                lowest = a->Index;
            }
        }
        for (int i = 0; i < 6; ++i)
            adapter += std::to_string(static_cast<unsigned>(chosen->Address[i]));
    }

    if (volume.size() < 5 || adapter.size() <= 5)
        return volume;
    return volume.substr(0, 5) + adapter.substr(adapter.size() - 5);
}
