// The library's test seams, all of them: process-wide values that the
// shipped library never changes and only the library's own tests set.
#pragma once

#include <windows.h>

#include "ferolin_limits.h"

// Replaces kDefaultTransferLimits for every transfer (the check POST, the
// configuration download, and the WinINet download of "-update" and
// VPNDownloadURLFile, which takes its connection, speed and size limits). Set
// by the Windows tests that play a stalled, silent or trickling server, so
// that a stall ends in seconds instead of a minute, and by the download
// benchmark, whose file is larger than any configuration file; they put the
// default back when they finish.
extern TransferLimits transferLimits;

// Replaces GetAdaptersInfo for the machine identity. Set by the Windows test
// of an adapter list that grows between the size request and the call.
struct _IP_ADAPTER_INFO;
using AdapterListReader = unsigned long(__stdcall*)(_IP_ADAPTER_INFO* list, unsigned long* length);
extern AdapterListReader readAdapterList;

// Replaces GetSystemDirectoryA where the library finds msiexec and schtasks.
// The tray tests point it at a folder that holds the schtasks stand-in.
using SystemDirectoryCall = UINT(WINAPI*)(LPSTR buffer, UINT size);
extern SystemDirectoryCall systemDirectoryCall;
