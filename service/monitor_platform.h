// The platform calls that the monitoring loop and the VPN service control
// make, gathered in one record: the library entry, the service manager, the
// shell's elevated run, waits and the clocks. The service runs with the
// Windows calls; tests replace single members to drive passes with a clock
// of their choosing and without waiting.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "ferolin_entry.h"
#include "service_seams.h"

// The library's export, with the declaration the library itself is built
// against: a mismatch in arguments or calling convention does not compile.
using FerolinCall = decltype(&Ferolin);

struct MonitorPlatform {
    FerolinCall ferolin;

    // The handles these open are closed with CloseServiceHandle (ScHandle):
    // a stand-in hands out real ones.
    SC_HANDLE(WINAPI* openSCManager)(LPCSTR machine, LPCSTR database, DWORD access);
    SC_HANDLE(WINAPI* openService)(SC_HANDLE manager, LPCSTR name, DWORD access);
    BOOL(WINAPI* startService)(SC_HANDLE service, DWORD argumentCount, LPCSTR* arguments);
    BOOL(WINAPI* queryServiceStatus)(SC_HANDLE service, LPSERVICE_STATUS status);
    BOOL(WINAPI* controlService)(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);

    BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOA* info);
    // Waits for a process started through the shell.
    DWORD(WINAPI* waitForProcess)(HANDLE process, DWORD milliseconds);

    void(WINAPI* sleep)(DWORD milliseconds);
    DWORD(WINAPI* tickCount)();
    // Seconds since 1970.
    std::int64_t (*clock)();
};

// The Windows calls themselves.
extern const MonitorPlatform kWindowsPlatform;

// What the service's monitoring thread runs with is `monitorPlatform`
// (service_seams.h).
