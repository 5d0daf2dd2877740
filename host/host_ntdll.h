// ntdll's RtlGetVersion: the version Windows itself reports. GetVersionEx
// answers what the program's manifest claims, which for a program without
// one stops at Windows 8. Apart from host_win32_extra.h because the only
// declaration mingw-w64 has of it is in its driver kit, which cannot be
// included together with windows.h.
#pragma once

#include "host/host_win32_extra.h"

struct RTL_OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};

extern "C" {
ZDB_WINAPI_IMPORT NTSTATUS WINAPI RtlGetVersion(RTL_OSVERSIONINFOW *info);
}  // extern "C"
