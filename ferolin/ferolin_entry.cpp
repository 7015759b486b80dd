#include "ferolin_entry.h"

#include <cstdio>
#include <cstring>

#include <curl/curl.h>

#include "command_check.h"
#include "config_check.h"
#include "request_road.h"
#include "software_check.h"
#include "status_check.h"
#include "switch_word.h"
#include "tls_setup.h"
#include "tray_scheduling.h"
#include "update_installation.h"

namespace {

// What a command may need to know about the machine, taken afresh at every
// call.
struct CallContext {
    unsigned windowsMajor;
};

// Each handler runs with libcurl set up around it and returns the command's
// result: 0 for success, a non-zero code for a failure.
struct CommandSwitch {
    const char* name;
    int (*handler)(const CallContext& context);
};

// Order matters: the first name that matches wins.
constexpr CommandSwitch kCommandTable[] = {
    {"checkstatus", [](const CallContext&) { return CheckStatus(); }},
    {"checkupdate", [](const CallContext&) { return CheckSoftwareUpdate(); }},
    {"checkcommand", [](const CallContext&) { return CheckCommandUpdate(); }},
    {"checkconfig", [](const CallContext&) { return CheckConfigUpdate(); }},
    {"update", [](const CallContext&) { return RunUpdate(); }},
    {"install", [](const CallContext& context) { return InstallTray(context.windowsMajor); }},
    {"uninstall", [](const CallContext& context) { return UninstallTray(context.windowsMajor); }},
    {"commit", [](const CallContext& context) { return CommitTray(context.windowsMajor); }},
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

// The major version is the low byte of what GetVersion returns.
unsigned WindowsMajorVersion() { return static_cast<unsigned>(GetVersion() & 0xFF); }

} // namespace

extern "C" int __stdcall Ferolin(const char* command, int /*commandLength*/)
{
    const CallContext context = {WindowsMajorVersion()};
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
            result = entry.handler(context);
            matched = true;
            break;
        }
    }
    if (!matched)
        PrintUsage();
    curl_global_cleanup();
    return result;
}
