// A platform record for the monitoring loop whose every call is played by
// the test: the library entry writes the settings a chosen answer would, the
// VPN connection service lives in memory, the shell's elevated run is
// recorded, and time passes only when the loop pauses. Every call that
// matters lands, in order, in `world.events`, so a case states what the loop
// did as one list.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monitor_platform.h"

// What the fake library does for one switch: its result, and the settings
// value it leaves (the status word for -checkstatus, the new "v_cnf" for the
// others) when given.
struct FakeAnswer {
    int result = 0;
    std::optional<std::string> leaves;
};

struct FakeWorld {
    // Library.
    FakeAnswer checkStatus;
    FakeAnswer checkConfig;
    FakeAnswer checkUpdate;

    // The VPN connection service.
    bool vpnInstalled = true;
    DWORD vpnState = SERVICE_STOPPED;
    // Statuses the service shows to the queries after a start, one each; the
    // last one stays. Empty: it is running at once.
    std::vector<SERVICE_STATUS> afterStart;
    // Queries after a stop control that still show stop-pending; -1: for good.
    int stopPendingQueries = 0;

    // Shell.
    bool shellStarts = true;

    // Time.
    std::int64_t now = 0;
    DWORD tick = 0;
    std::vector<DWORD> sleeps;
    std::vector<DWORD> processWaits;
    int statusQueries = 0;

    std::vector<std::string> events;
};

extern FakeWorld world;

// Resets `world` and returns the record of fakes.
MonitorPlatform FakePlatform();

// The running VPN connection service of the fake world.
inline SERVICE_STATUS PendingStatus(DWORD checkPoint, DWORD waitHint)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_START_PENDING;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    return status;
}
