// WinINet handles (sessions and URL requests), apart from win_handles.h so
// that only the code that downloads through WinINet includes it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "unique_resource.h"

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle None() { return nullptr; }
    static void Close(Handle handle) { InternetCloseHandle(handle); }
};
using InternetHandle = UniqueResource<InternetHandleTraits>;
