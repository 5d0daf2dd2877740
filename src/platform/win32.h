// The Windows subset this system uses, declared by hand.
//
// The product build links these against import libraries made from our own
// .def files; the native build links them against standin/, a POSIX
// implementation of exactly this subset. Nothing else in src/ may talk to
// the operating system.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define WINAPI __stdcall
#define ZDB_WINAPI_IMPORT __declspec(dllimport)
#else
#define WINAPI
#define ZDB_WINAPI_IMPORT
#endif

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef void *HANDLE;
typedef void *HMODULE;
typedef void *HINTERNET;
typedef WORD INTERNET_PORT;
// UTF-16 everywhere: Linux's wchar_t is 32 bits wide, Windows' is 16.
typedef char16_t WCHAR;

typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(void *parameter);

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

#if defined(_WIN32)
// RTL_CRITICAL_SECTION of 32-bit Windows, 24 bytes.
struct CRITICAL_SECTION {
    void *DebugInfo;
    LONG LockCount;
    LONG RecursionCount;
    HANDLE OwningThread;
    HANDLE LockSemaphore;
    DWORD_PTR SpinCount;
};
static_assert(sizeof(CRITICAL_SECTION) == 24, "32-bit CRITICAL_SECTION layout");
#else
// Room for the stand-in's pthread mutex.
struct CRITICAL_SECTION {
    alignas(16) unsigned char opaque[64];
};
#endif

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_ALWAYS 4u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_END 2u

#define CP_UTF8 65001u

#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

#define WINHTTP_ACCESS_TYPE_DEFAULT_PROXY 0u
#define WINHTTP_NO_PROXY_NAME nullptr
#define WINHTTP_NO_PROXY_BYPASS nullptr
#define WINHTTP_NO_REFERER nullptr
#define WINHTTP_DEFAULT_ACCEPT_TYPES nullptr
#define WINHTTP_HEADER_NAME_BY_INDEX nullptr
#define WINHTTP_NO_HEADER_INDEX nullptr
#define WINHTTP_FLAG_SECURE 0x00800000u
#define WINHTTP_QUERY_STATUS_CODE 19u
#define WINHTTP_QUERY_FLAG_NUMBER 0x20000000u
#define WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT 7u
#define WINHTTP_OPTION_DISABLE_FEATURE 63u
#define WINHTTP_DISABLE_REDIRECTS 0x00000002u

extern "C" {

// kernel32
ZDB_WINAPI_IMPORT BOOL WINAPI DisableThreadLibraryCalls(HMODULE module);
ZDB_WINAPI_IMPORT DWORD WINAPI GetModuleFileNameA(HMODULE module, char *fileName, DWORD size);
ZDB_WINAPI_IMPORT BOOL WINAPI GetModuleHandleExA(DWORD flags, const char *moduleName, HMODULE *module);
ZDB_WINAPI_IMPORT BOOL WINAPI FreeLibrary(HMODULE module);
ZDB_WINAPI_IMPORT void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD exitCode);

ZDB_WINAPI_IMPORT void WINAPI InitializeCriticalSection(CRITICAL_SECTION *lock);
ZDB_WINAPI_IMPORT void WINAPI EnterCriticalSection(CRITICAL_SECTION *lock);
ZDB_WINAPI_IMPORT void WINAPI LeaveCriticalSection(CRITICAL_SECTION *lock);
ZDB_WINAPI_IMPORT void WINAPI DeleteCriticalSection(CRITICAL_SECTION *lock);

ZDB_WINAPI_IMPORT HANDLE WINAPI CreateEventA(void *security, BOOL manualReset, BOOL initialState,
                                             const char *name);
ZDB_WINAPI_IMPORT BOOL WINAPI SetEvent(HANDLE event);
ZDB_WINAPI_IMPORT HANDLE WINAPI CreateThread(void *security, SIZE_T stackSize,
                                             LPTHREAD_START_ROUTINE start, void *parameter,
                                             DWORD creationFlags, DWORD *threadId);
ZDB_WINAPI_IMPORT DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
ZDB_WINAPI_IMPORT BOOL WINAPI CloseHandle(HANDLE handle);
ZDB_WINAPI_IMPORT void WINAPI Sleep(DWORD milliseconds);

ZDB_WINAPI_IMPORT DWORD WINAPI GetPrivateProfileStringA(const char *section, const char *key,
                                                        const char *defaultValue, char *value,
                                                        DWORD size, const char *fileName);
ZDB_WINAPI_IMPORT int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, const char *source,
                                                 int sourceLength, WCHAR *target,
                                                 int targetCapacity);
ZDB_WINAPI_IMPORT void WINAPI GetSystemTime(SYSTEMTIME *time);

ZDB_WINAPI_IMPORT HANDLE WINAPI CreateFileA(const char *fileName, DWORD access, DWORD shareMode,
                                            void *security, DWORD disposition, DWORD attributes,
                                            HANDLE templateFile);
ZDB_WINAPI_IMPORT DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG *distanceHigh,
                                              DWORD moveMethod);
ZDB_WINAPI_IMPORT BOOL WINAPI WriteFile(HANDLE file, const void *buffer, DWORD bytesToWrite,
                                        DWORD *bytesWritten, void *overlapped);

// winhttp
ZDB_WINAPI_IMPORT HINTERNET WINAPI WinHttpOpen(const WCHAR *userAgent, DWORD accessType,
                                               const WCHAR *proxyName, const WCHAR *proxyBypass,
                                               DWORD flags);
ZDB_WINAPI_IMPORT BOOL WINAPI WinHttpSetTimeouts(HINTERNET session, int resolveTimeout,
                                                 int connectTimeout, int sendTimeout,
                                                 int receiveTimeout);
ZDB_WINAPI_IMPORT BOOL WINAPI WinHttpSetOption(HINTERNET handle, DWORD option, void *buffer,
                                               DWORD bufferLength);
ZDB_WINAPI_IMPORT HINTERNET WINAPI WinHttpConnect(HINTERNET session, const WCHAR *serverName,
                                                  INTERNET_PORT serverPort, DWORD reserved);
ZDB_WINAPI_IMPORT HINTERNET WINAPI WinHttpOpenRequest(HINTERNET connection, const WCHAR *verb,
                                                      const WCHAR *objectName,
                                                      const WCHAR *version,
                                                      const WCHAR *referrer,
                                                      const WCHAR **acceptTypes, DWORD flags);
ZDB_WINAPI_IMPORT BOOL WINAPI WinHttpSendRequest(HINTERNET request, const WCHAR *headers,
                                                 DWORD headersLength, void *optional,
                                                 DWORD optionalLength, DWORD totalLength,
                                                 DWORD_PTR context);
ZDB_WINAPI_IMPORT BOOL WINAPI WinHttpReceiveResponse(HINTERNET request, void *reserved);
ZDB_WINAPI_IMPORT BOOL WINAPI WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel,
                                                  const WCHAR *name, void *buffer,
                                                  DWORD *bufferLength, DWORD *index);
ZDB_WINAPI_IMPORT BOOL WINAPI WinHttpCloseHandle(HINTERNET handle);

}  // extern "C"
