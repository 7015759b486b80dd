#include "ferolin_entry.h"

#include <cstdio>
#include <cstring>

#include <curl/curl.h>

#include "command_handlers.h"
#include "request_road.h"
#include "switch_word.h"
#include "tls_setup.h"

DWORD windowsVersion = 0;
DWORD windowsMajorVersion = 0;
DWORD windowsMinorVersion = 0;

namespace {

struct CommandSwitch {
    const char* name;
    int (*handler)();
};

// Order matters: the first name that matches wins.
constexpr CommandSwitch kCommandTable[] = {
    {"checkstatus", CheckStatus},
    {"checkupdate", CheckSoftwareUpdate},
    {"checkcommand", CheckCommandUpdate},
    {"checkconfig", CheckConfigUpdate},
    {"update", RunUpdate},
    {"install", InstallTray},
    {"uninstall", UninstallTray},
    {"commit", CommitTray},
};

constexpr char kUsageName[] = "Ferolin";

void PrintUsage()
{
    // checkcommand, checkconfig and commit are accepted but deliberately not
    // advertised.
    printf("%s -install          to install the Ferolin\n", kUsageName);
    printf("%s -uninstall        to uninstall the Ferolin\n", kUsageName);
    printf("%s -update\t\t\t to update the VPN Korv\n", kUsageName);
    printf("%s -checkupdate\t\t to check for update the VPN Korv\n", kUsageName);
    printf("%s -checkstatus\t\t to check for status the VPN Korv\n", kUsageName);
    // The caller may be a service whose stdout is a pipe or file: do not leave
    // the text sitting in a buffer that nobody flushes before unload.
    fflush(stdout);
}

void RecordWindowsVersion()
{
    windowsVersion = GetVersion();
    windowsMajorVersion = windowsVersion & 0xFF;
    windowsMinorVersion = (windowsVersion >> 8) & 0xFF;
}

} // namespace

extern "C" int __stdcall Ferolin(const char* command, int /*commandLength*/)
{
    RecordWindowsVersion();
    const char* word = SwitchWord(command);
    if (word == nullptr)
        return 0;

    // OpenSSL first, without its configuration; libcurl's set-up would
    // otherwise read it. Without that, no command may run: each one could
    // reach OpenSSL, which would then read it by default.
    if (!InitTlsWithoutConfiguration())
        return kCheckFailed;
    curl_global_init(CURL_GLOBAL_ALL);
    int result = 0;
    bool matched = false;
    for (const CommandSwitch& entry : kCommandTable) {
        if (IsSwitchNamed(word, entry.name)) {
            result = entry.handler();
            matched = true;
            break;
        }
    }
    if (!matched)
        PrintUsage();
    curl_global_cleanup();
    return result;
}
