// The few kernel32 functions the test client needs beyond the plug-in's.
#pragma once

#include "platform/win32.h"

#define GENERIC_READ 0x80000000u
#define OPEN_EXISTING 3u
#define STD_OUTPUT_HANDLE ((DWORD)-11)

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    long long QuadPart;
};

typedef int(WINAPI *FARPROC)(void);

extern "C" {
ZDB_WINAPI_IMPORT void WINAPI ExitProcess(UINT exitCode);
ZDB_WINAPI_IMPORT char *WINAPI GetCommandLineA(void);
ZDB_WINAPI_IMPORT DWORD WINAPI GetFileSize(HANDLE file, DWORD *sizeHigh);
ZDB_WINAPI_IMPORT DWORD WINAPI GetFullPathNameA(const char *fileName, DWORD size, char *buffer,
                                                char **filePart);
ZDB_WINAPI_IMPORT DWORD WINAPI GetLastError(void);
ZDB_WINAPI_IMPORT HMODULE WINAPI GetModuleHandleA(const char *moduleName);
ZDB_WINAPI_IMPORT FARPROC WINAPI GetProcAddress(HMODULE module, const char *name);
ZDB_WINAPI_IMPORT HANDLE WINAPI GetStdHandle(DWORD which);
ZDB_WINAPI_IMPORT HMODULE WINAPI LoadLibraryA(const char *fileName);
ZDB_WINAPI_IMPORT BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *count);
ZDB_WINAPI_IMPORT BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *frequency);
ZDB_WINAPI_IMPORT BOOL WINAPI ReadFile(HANDLE file, void *buffer, DWORD bytesToRead,
                                       DWORD *bytesRead, void *overlapped);
}
