// Stands in for schtasks in the system directory the tray tests show the
// library: appends "schtasks" and its arguments (whatever name it was started
// by) to "schtasks-calls.log" in its own folder, keeps a copy of the file a
// "/xml" call names as "schtasks-task.xml" there (the library deletes its own
// afterwards), says so on its output, and hands the same arguments to the
// real schtasks (whose "/sc" form Wine lacks).
// A copy beside the tests plays a decoy that must never run.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string OwnFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length < sizeof path ? length : 0);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The command line after the program's own name.
const char* Arguments(const char* line)
{
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t')
            ++line;
    }
    return line;
}

// The quoted path after "/xml ", or "" when there is none.
std::string XmlFile(const char* arguments)
{
    const char* at = std::strstr(arguments, "/xml \"");
    if (at == nullptr)
        return std::string();
    at += 6;
    const char* end = std::strchr(at, '"');
    return end != nullptr ? std::string(at, end) : std::string();
}

} // namespace

int main()
{
    const char* line = GetCommandLineA();
    FILE* log = std::fopen((OwnFolder() + "schtasks-calls.log").c_str(), "ab");
    if (log != nullptr) {
        std::fprintf(log, "schtasks%s\n", Arguments(line));
        std::fclose(log);
    }
    const std::string task = XmlFile(Arguments(line));
    if (!task.empty())
        CopyFileA(task.c_str(), (OwnFolder() + "schtasks-task.xml").c_str(), FALSE);
    std::printf("schtasks stand-in\n");
    std::fflush(stdout);

    std::string real = std::string("c:\\windows\\system32\\schtasks.exe") + Arguments(line);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, real.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
        return 1;
    WaitForSingleObject(child.hProcess, 15000);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return static_cast<int>(code);
}
