// The test client's Windows declarations beyond host_win32.h. The
// self-test needs Winsock for its receiver on 127.0.0.1, BCrypt for the
// plug-in's SHA-256 and a random token, kernel32 file calls for its own
// folder, the temp folder's path in UTF-16 to judge it, the error mode,
// exception filter and process end of its watchdog, and the console's input
// mode; the settings check needs the file calls and Windows' error texts.
#pragma once

#include "host/host_win32.h"

typedef uintptr_t SOCKET;
typedef LONG NTSTATUS;
typedef void *BCRYPT_ALG_HANDLE;
typedef void *BCRYPT_HASH_HANDLE;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
};

struct IN_ADDR {
    uint32_t s_addr;  // network byte order
};

struct SOCKADDR_IN {
    short sin_family;
    unsigned short sin_port;  // network byte order
    IN_ADDR sin_addr;
    char sin_zero[8];
};

struct FD_SET {
    unsigned int fd_count;
    SOCKET fd_array[64];
};

struct TIMEVAL {
    LONG tv_sec;
    LONG tv_usec;
};

#define AF_INET 2
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define SOL_SOCKET 0xffff
#define SO_SNDTIMEO 0x1005
#define FIONBIO 0x8004667E
#define INVALID_SOCKET ((SOCKET)~0)
#define SOCKET_ERROR (-1)
#define BCRYPT_USE_SYSTEM_PREFERRED_RNG 0x00000002
#define CREATE_ALWAYS 2
#define ERROR_ACCESS_DENIED 5L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define FILE_SHARE_WRITE 0x00000002
#define ERROR_ALREADY_EXISTS 183L
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOGPFAULTERRORBOX 0x0002
#define SEM_NOOPENFILEERRORBOX 0x8000
#define MEM_IMAGE 0x1000000
#define CP_ACP 0
#define EXCEPTION_MAXIMUM_PARAMETERS 15
#define SIZE_OF_80387_REGISTERS 80
#define MAXIMUM_SUPPORTED_EXTENSION 512

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[260];
    char cAlternateFileName[14];
};

struct MEMORY_BASIC_INFORMATION {
    void *BaseAddress;
    void *AllocationBase;
    DWORD AllocationProtect;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};

struct EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD *ExceptionRecord;
    void *ExceptionAddress;
    DWORD NumberParameters;
    uintptr_t ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

// The 32-bit processor context; the watchdog reads none of it, but the
// exception filter's argument points to one.
struct FLOATING_SAVE_AREA {
    DWORD ControlWord;
    DWORD StatusWord;
    DWORD TagWord;
    DWORD ErrorOffset;
    DWORD ErrorSelector;
    DWORD DataOffset;
    DWORD DataSelector;
    BYTE RegisterArea[SIZE_OF_80387_REGISTERS];
    DWORD Cr0NpxState;
};

struct CONTEXT {
    DWORD ContextFlags;
    DWORD Dr0;
    DWORD Dr1;
    DWORD Dr2;
    DWORD Dr3;
    DWORD Dr6;
    DWORD Dr7;
    FLOATING_SAVE_AREA FloatSave;
    DWORD SegGs;
    DWORD SegFs;
    DWORD SegEs;
    DWORD SegDs;
    DWORD Edi;
    DWORD Esi;
    DWORD Ebx;
    DWORD Edx;
    DWORD Ecx;
    DWORD Eax;
    DWORD Ebp;
    DWORD Eip;
    DWORD SegCs;
    DWORD EFlags;
    DWORD Esp;
    DWORD SegSs;
    BYTE ExtendedRegisters[MAXIMUM_SUPPORTED_EXTENSION];
};

struct EXCEPTION_POINTERS {
    EXCEPTION_RECORD *ExceptionRecord;
    CONTEXT *ContextRecord;
};

typedef LONG(WINAPI *LPTOP_LEVEL_EXCEPTION_FILTER)(EXCEPTION_POINTERS *exception);
typedef BOOL(WINAPI *PHANDLER_ROUTINE)(DWORD controlType);

#define STD_INPUT_HANDLE ((DWORD)-10)
#define ENABLE_QUICK_EDIT_MODE 0x0040
#define ENABLE_EXTENDED_FLAGS 0x0080

extern "C" {

// ws2_32
ZDB_WINAPI_IMPORT int WINAPI WSAStartup(WORD versionRequested, WSADATA *data);
ZDB_WINAPI_IMPORT int WINAPI WSACleanup(void);
ZDB_WINAPI_IMPORT SOCKET WINAPI socket(int family, int type, int protocol);
ZDB_WINAPI_IMPORT int WINAPI bind(SOCKET s, const void *name, int nameLength);
ZDB_WINAPI_IMPORT int WINAPI listen(SOCKET s, int backlog);
ZDB_WINAPI_IMPORT SOCKET WINAPI accept(SOCKET s, void *address, int *addressLength);
ZDB_WINAPI_IMPORT int WINAPI getsockname(SOCKET s, void *name, int *nameLength);
ZDB_WINAPI_IMPORT int WINAPI setsockopt(SOCKET s, int level, int option, const char *value,
                                        int valueLength);
ZDB_WINAPI_IMPORT int WINAPI select(int ignored, FD_SET *readable, FD_SET *writable,
                                    FD_SET *failed, const TIMEVAL *timeout);
ZDB_WINAPI_IMPORT int WINAPI recv(SOCKET s, char *buffer, int length, int flags);
ZDB_WINAPI_IMPORT int WINAPI send(SOCKET s, const char *buffer, int length, int flags);
ZDB_WINAPI_IMPORT int WINAPI ioctlsocket(SOCKET s, LONG command, DWORD *argument);
ZDB_WINAPI_IMPORT int WINAPI closesocket(SOCKET s);

// bcrypt
ZDB_WINAPI_IMPORT NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE *algorithm,
                                                              const WCHAR *algorithmId,
                                                              const WCHAR *implementation,
                                                              DWORD flags);
ZDB_WINAPI_IMPORT NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm,
                                                               DWORD flags);
ZDB_WINAPI_IMPORT NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm,
                                                   BCRYPT_HASH_HANDLE *hash, BYTE *hashObject,
                                                   DWORD hashObjectLength, BYTE *secret,
                                                   DWORD secretLength, DWORD flags);
ZDB_WINAPI_IMPORT NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, BYTE *input,
                                                 DWORD inputLength, DWORD flags);
ZDB_WINAPI_IMPORT NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, BYTE *output,
                                                   DWORD outputLength, DWORD flags);
ZDB_WINAPI_IMPORT NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
ZDB_WINAPI_IMPORT NTSTATUS WINAPI BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, BYTE *buffer,
                                                  DWORD bufferLength, DWORD flags);

// kernel32
// Milliseconds since Windows started, wrapping after 49.7 days. The
// self-test's waits count in these: the performance counter's rate is the
// hardware's, and 32 bits of it can wrap within one run.
ZDB_WINAPI_IMPORT DWORD WINAPI GetTickCount(void);
ZDB_WINAPI_IMPORT BOOL WINAPI CreateDirectoryA(const char *pathName, void *security);
ZDB_WINAPI_IMPORT BOOL WINAPI RemoveDirectoryA(const char *pathName);
ZDB_WINAPI_IMPORT BOOL WINAPI CopyFileA(const char *existingName, const char *newName,
                                        BOOL failIfExists);
ZDB_WINAPI_IMPORT BOOL WINAPI DeleteFileA(const char *fileName);
ZDB_WINAPI_IMPORT DWORD WINAPI GetTempPathW(DWORD size, WCHAR *buffer);
ZDB_WINAPI_IMPORT int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR *source,
                                                 int sourceLength, char *target,
                                                 int targetCapacity, const char *defaultChar,
                                                 BOOL *usedDefaultChar);
ZDB_WINAPI_IMPORT DWORD WINAPI GetFileAttributesA(const char *fileName);
ZDB_WINAPI_IMPORT BOOL WINAPI SetFileAttributesA(const char *fileName, DWORD attributes);
ZDB_WINAPI_IMPORT HANDLE WINAPI FindFirstFileA(const char *fileName, WIN32_FIND_DATAA *found);
ZDB_WINAPI_IMPORT BOOL WINAPI FindNextFileA(HANDLE search, WIN32_FIND_DATAA *found);
ZDB_WINAPI_IMPORT BOOL WINAPI FindClose(HANDLE search);
ZDB_WINAPI_IMPORT UINT WINAPI SetErrorMode(UINT mode);
ZDB_WINAPI_IMPORT LPTOP_LEVEL_EXCEPTION_FILTER WINAPI
SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);
ZDB_WINAPI_IMPORT SIZE_T WINAPI VirtualQuery(const void *address, MEMORY_BASIC_INFORMATION *info,
                                             SIZE_T length);
ZDB_WINAPI_IMPORT DWORD WINAPI GetCurrentThreadId(void);
ZDB_WINAPI_IMPORT HANDLE WINAPI GetCurrentProcess(void);
ZDB_WINAPI_IMPORT BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode);
ZDB_WINAPI_IMPORT BOOL WINAPI GetConsoleMode(HANDLE console, DWORD *mode);
ZDB_WINAPI_IMPORT BOOL WINAPI SetConsoleMode(HANDLE console, DWORD mode);
ZDB_WINAPI_IMPORT BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
ZDB_WINAPI_IMPORT DWORD WINAPI FormatMessageA(DWORD flags, const void *source, DWORD messageId,
                                              DWORD languageId, char *buffer, DWORD size,
                                              void *arguments);

}  // extern "C"
