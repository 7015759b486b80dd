// Test helper: looks at and drives the service "KVLService" through the
// service manager, for the shell tests of the service program.
//
//   svctool state                     prints the state, or MISSING
//   svctool wait STATE MS             waits up to MS for STATE; prints the ms taken
//   svctool interrogate               sends the interrogate control
//   svctool value NAME                prints type and hex bytes of a value of the
//                                     service's registry key (UTF-16 for texts)
//   svctool text NAME                 prints a text value of that key
//   svctool description               prints the description's ANSI bytes in hex
//   svctool start-presignalled MS     holds a signalled "kvlservice_exit_1", starts
//                                     the service, waits up to MS for it to run and
//                                     holds the event MS longer; exit 0 when the
//                                     service still runs then
//   svctool exit-code                 prints the Win32 and service-specific exit
//                                     codes of the last status
//   svctool status                    prints state, check point and wait hint as
//                                     the service manager shows them
//   svctool event-text EXE TEXT       prints the line that a viewer forms from EXE's
//                                     message table for an event with TEXT
//   svctool event-source              prints the type and data of the event source's
//                                     message file and supported types, one a line
//   svctool purge                     stops (up to 15 s, then ends its process) and
//                                     deletes the service
//   svctool setting NAME              prints a value of the settings key (exit 1:
//                                     no such value, 3: no key)
//   svctool set-setting NAME TEXT     writes a REG_SZ value, creating the key
//   svctool unset-setting NAME        deletes a value
//   svctool drop-settings-key         deletes the settings key if it is empty
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "service_messages.h"
#include "service_purge.h"
#include "settings_names.h"
#include "settings_registry.h"
#include "win_handles.h"

namespace {

const char kName[] = "KVLService";
const char kKey[] = "System\\CurrentControlSet\\Services\\KVLService";
const char kExitEvent[] = "kvlservice_exit_1";

struct StateName {
    DWORD state;
    const char* name;
};
const StateName kStates[] = {
    {SERVICE_STOPPED, "STOPPED"},
    {SERVICE_START_PENDING, "START_PENDING"},
    {SERVICE_STOP_PENDING, "STOP_PENDING"},
    {SERVICE_RUNNING, "RUNNING"},
    {SERVICE_CONTINUE_PENDING, "CONTINUE_PENDING"},
    {SERVICE_PAUSE_PENDING, "PAUSE_PENDING"},
    {SERVICE_PAUSED, "PAUSED"},
};

const char* NameOf(DWORD state)
{
    for (const StateName& entry : kStates)
        if (entry.state == state)
            return entry.name;
    return "UNKNOWN";
}

// Current state, or "MISSING" when the service cannot be opened.
const char* QueryState()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return "NO_MANAGER";
    ScHandle service(OpenServiceA(manager.get(), kName, SERVICE_QUERY_STATUS));
    if (!service)
        return "MISSING";
    SERVICE_STATUS status{};
    return QueryServiceStatus(service.get(), &status) ? NameOf(status.dwCurrentState) : "QUERY_FAILED";
}

bool WaitFor(const char* wanted, DWORD timeout, DWORD* taken)
{
    DWORD start = GetTickCount();
    for (;;) {
        *taken = GetTickCount() - start;
        if (std::strcmp(QueryState(), wanted) == 0)
            return true;
        if (*taken > timeout)
            return false;
        Sleep(50);
    }
}

int Wait(const char* wanted, DWORD timeout)
{
    DWORD taken = 0;
    bool reached = WaitFor(wanted, timeout, &taken);
    std::printf("%lu\n", taken);
    if (!reached)
        std::fprintf(stderr, "svctool: %s not reached in %lu ms (now %s)\n", wanted, timeout, QueryState());
    return reached ? 0 : 1;
}

int Interrogate()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(manager ? OpenServiceA(manager.get(), kName, SERVICE_INTERROGATE) : nullptr);
    SERVICE_STATUS status{};
    bool sent = service && ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status);
    if (!sent)
        std::fprintf(stderr, "svctool: interrogate failed (%lu)\n", GetLastError());
    return sent ? 0 : 1;
}

void PrintHex(const BYTE* bytes, DWORD size)
{
    for (DWORD i = 0; i < size; ++i)
        std::printf("%02x", bytes[i]);
    std::printf("\n");
}

int Value(const char* name)
{
    wchar_t wideName[256];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 256) == 0)
        return 2;
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return 1;
    BYTE data[4096];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), wideName, nullptr, &type, data, &size) != ERROR_SUCCESS)
        return 1;
    std::printf("%lu ", type);
    PrintHex(data, size);
    return 0;
}

int Text(const char* name)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return 1;
    char data[4096];
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return 1;
    data[size] = '\0';
    std::printf("%s\n", data);
    return 0;
}

int Description()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(manager ? OpenServiceA(manager.get(), kName, SERVICE_QUERY_CONFIG) : nullptr);
    BYTE buffer[1024];
    DWORD needed = 0;
    bool read =
        service && QueryServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer, sizeof buffer, &needed);
    if (read) {
        const char* text = reinterpret_cast<SERVICE_DESCRIPTIONA*>(buffer)->lpDescription;
        if (text != nullptr)
            PrintHex(reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text)));
        else
            std::printf("\n");
    }
    return read ? 0 : 1;
}

int StartPresignalled(DWORD timeout)
{
    KernelHandle event(CreateEventA(nullptr, TRUE, TRUE, kExitEvent));
    if (!event)
        return 2;
    SetEvent(event.get());
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(manager ? OpenServiceA(manager.get(), kName, SERVICE_START) : nullptr);
    bool started = service && StartServiceA(service.get(), 0, nullptr);
    if (!started)
        std::fprintf(stderr, "svctool: start failed (%lu)\n", GetLastError());
    DWORD taken = 0;
    if (!started || !WaitFor("RUNNING", timeout, &taken))
        return 1;
    Sleep(timeout);
    return std::strcmp(QueryState(), "RUNNING") == 0 ? 0 : 1;
}

int ExitCode()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(manager ? OpenServiceA(manager.get(), kName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status))
        return 1;
    std::printf("win32=%lu specific=%lu\n", status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
    return 0;
}

int Status()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(manager ? OpenServiceA(manager.get(), kName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!service ||
        !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed))
        return 1;
    std::printf("state=%s checkpoint=%lu wait=%lu\n", NameOf(status.dwCurrentState), status.dwCheckPoint,
                status.dwWaitHint);
    return 0;
}

// The event as a viewer shows it: the program's table loaded as data, the
// event's two strings (the source name, then the message) inserted.
int EventText(const char* program, const char* text)
{
    HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        std::fprintf(stderr, "svctool: %s not loaded (%lu)\n", program, GetLastError());
        return 1;
    }
    const DWORD_PTR strings[2] = {reinterpret_cast<DWORD_PTR>("KVLMonitor"), reinterpret_cast<DWORD_PTR>(text)};
    LocalMemory<char> line;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       module, KVL_MSG_MONITOR_EVENT, 0, reinterpret_cast<char*>(line.out()), 0,
                       reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(strings)));
    const DWORD error = GetLastError();
    FreeLibrary(module);
    if (length == 0) {
        std::fprintf(stderr, "svctool: no message (%lu)\n", error);
        return 1;
    }
    std::printf("%s\n", line.get());
    return 0;
}

int EventSource()
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KVLMonitor", 0,
                      KEY_READ, key.out()) != ERROR_SUCCESS)
        return 1;
    char file[1024];
    DWORD size = sizeof file - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file), &size) !=
        ERROR_SUCCESS)
        return 1;
    file[size] = '\0';
    std::printf("%lu %s\n", type, file);
    DWORD types = 0;
    size = sizeof types;
    if (RegQueryValueExA(key.get(), "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size) !=
        ERROR_SUCCESS)
        return 1;
    std::printf("%lu %lu\n", type, types);
    return 0;
}

int Purge() { return PurgeService(kName, 15000) ? 0 : 1; }

int Setting(const char* name)
{
    if (!SettingsKeyExists())
        return 3;
    const std::optional<std::string> text = GetSettingForTest(name);
    if (!text)
        return 1;
    std::printf("%s\n", text->c_str());
    return 0;
}

int SetSetting(const char* name, const char* text) { return SetSettingForTest(name, text) ? 0 : 1; }

int UnsetSetting(const char* name)
{
    DeleteSettingForTest(name);
    return GetSettingForTest(name) ? 1 : 0;
}

int DropSettingsKey()
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_READ | KEY_WOW64_32KEY, key.out()) != ERROR_SUCCESS)
        return 0;
    DWORD subkeys = 0;
    DWORD values = 0;
    LONG rc = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr);
    key.reset();
    if (rc != ERROR_SUCCESS || subkeys != 0 || values != 0)
        return 0;
    return RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, KEY_WOW64_32KEY, 0) == ERROR_SUCCESS ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "state") == 0) {
        std::printf("%s\n", QueryState());
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "wait") == 0)
        return Wait(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    if (argc >= 2 && std::strcmp(argv[1], "interrogate") == 0)
        return Interrogate();
    if (argc >= 3 && std::strcmp(argv[1], "value") == 0)
        return Value(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "text") == 0)
        return Text(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "description") == 0)
        return Description();
    if (argc >= 3 && std::strcmp(argv[1], "start-presignalled") == 0)
        return StartPresignalled(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    if (argc >= 2 && std::strcmp(argv[1], "exit-code") == 0)
        return ExitCode();
    if (argc >= 2 && std::strcmp(argv[1], "status") == 0)
        return Status();
    if (argc >= 4 && std::strcmp(argv[1], "event-text") == 0)
        return EventText(argv[2], argv[3]);
    if (argc >= 2 && std::strcmp(argv[1], "event-source") == 0)
        return EventSource();
    if (argc >= 2 && std::strcmp(argv[1], "purge") == 0)
        return Purge();
    if (argc >= 3 && std::strcmp(argv[1], "setting") == 0)
        return Setting(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "set-setting") == 0)
        return SetSetting(argv[2], argv[3]);
    if (argc >= 3 && std::strcmp(argv[1], "unset-setting") == 0)
        return UnsetSetting(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "drop-settings-key") == 0)
        return DropSettingsKey();
    std::fprintf(stderr,
                 "usage: svctool state|wait STATE MS|interrogate|value NAME|text NAME|description|"
                 "start-presignalled MS|exit-code|status|event-text EXE TEXT|event-source|purge\n");
    return 2;
}
