// The road that every check request takes once the check has read its own
// settings: where to send (update server URL, installation directory and the
// client certificate files in it), then the POST, the parse and the check's
// own store step.
//
// A check is written as:
//     read its own values (kCheckFailed when a required one is missing)
//     RequestTarget target;
//     if (!ReadRequestTarget(&target)) return kCheckFailed;
//     compose its body (kCheckFailed when it does not fit)
//     return SendCheckRequest(target, body, StoreXxx);
#pragma once

#include <windows.h>

#include "ferolin_limits.h"
#include "settings_store.h"

// Results of the four check commands.
inline constexpr int kCheckDone = 0;   // the server's reply arrived
inline constexpr int kCheckFailed = 4; // a setting was missing or the exchange failed

struct RequestTarget {
    char url[kUpdateServerReadSize];
    char installDir[kInstallDirReadSize];
};

// Reads "update_server" (the default update server when it is missing) and the
// installation directory. Returns 0 when the installation directory is missing.
int ReadRequestTarget(RequestTarget* target);

// A check's store step: copies its section of the reply record into the
// settings key; a download it makes verifies its server against
// `serverCaFile` when that is not null. Its result is not examined.
using StoreStep = int (*)(const char* serverCaFile);

// Posts `body` to the target with the installation's client certificate and
// key, parses the reply and, when it parsed, runs `store`. When the
// installation's bin folder holds kServerCaFileName, the server is verified
// against it and the same file goes to `store`; without one the server is not
// verified; with one that is unusable nothing is sent. Returns kCheckDone when the reply arrived (whatever
// it held), kCheckFailed when the certificate paths do not fit or the
// transfer failed, a server that fails the verification or an unusable CA file
// included (nothing is parsed or stored then).
int SendCheckRequest(const RequestTarget& target, const char* body, StoreStep store);
