// The provisioning command's seam: a process-wide hook that the shipped
// command never changes and only its tests set.
#pragma once

#include <windows.h>

#include <aclapi.h>

// Replaces SetNamedSecurityInfoA, through which bin\ and its files are
// restricted. Wine accepts a DACL and keeps none, so the tests record what is
// asked for through it, and make it fail.
using SetNamedSecurityInfoCall = DWORD(WINAPI*)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
extern SetNamedSecurityInfoCall setNamedSecurityInfoCall;
