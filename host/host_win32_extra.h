// The test client's Windows declarations beyond host_win32.h. The
// self-test needs Winsock for its receiver on 127.0.0.1, BCrypt for the
// plug-in's SHA-256 and a random token, and kernel32 file calls for its own
// folder; the settings check needs the file calls and Windows' error texts.
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
#define SO_RCVTIMEO 0x1006
#define SO_SNDTIMEO 0x1005
#define FIONBIO 0x8004667E
#define INVALID_SOCKET ((SOCKET)~0)
#define SOCKET_ERROR (-1)
#define WSAETIMEDOUT 10060L
#define BCRYPT_USE_SYSTEM_PREFERRED_RNG 0x00000002
#define CREATE_NEW 1
#define FILE_SHARE_WRITE 0x00000002
#define ERROR_ALREADY_EXISTS 183L
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

extern "C" {

// ws2_32
ZDB_WINAPI_IMPORT int WINAPI WSAStartup(WORD versionRequested, WSADATA *data);
ZDB_WINAPI_IMPORT int WINAPI WSACleanup(void);
ZDB_WINAPI_IMPORT int WINAPI WSAGetLastError(void);
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
ZDB_WINAPI_IMPORT DWORD WINAPI GetTempPathA(DWORD size, char *buffer);
ZDB_WINAPI_IMPORT BOOL WINAPI CreateDirectoryA(const char *pathName, void *security);
ZDB_WINAPI_IMPORT BOOL WINAPI RemoveDirectoryA(const char *pathName);
ZDB_WINAPI_IMPORT BOOL WINAPI CopyFileA(const char *existingName, const char *newName,
                                        BOOL failIfExists);
ZDB_WINAPI_IMPORT BOOL WINAPI DeleteFileA(const char *fileName);

struct EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD *ExceptionRecord;
    void *ExceptionAddress;
    DWORD NumberParameters;
    uintptr_t ExceptionInformation[15];
};
struct EXCEPTION_POINTERS {
    EXCEPTION_RECORD *ExceptionRecord;
    void *ContextRecord;
};
typedef LONG(WINAPI *PTOP_LEVEL_EXCEPTION_FILTER)(EXCEPTION_POINTERS *);
ZDB_WINAPI_IMPORT PTOP_LEVEL_EXCEPTION_FILTER WINAPI
SetUnhandledExceptionFilter(PTOP_LEVEL_EXCEPTION_FILTER filter);
ZDB_WINAPI_IMPORT DWORD WINAPI FormatMessageA(DWORD flags, const void *source, DWORD messageId,
                                              DWORD languageId, char *buffer, DWORD size,
                                              void *arguments);

}  // extern "C"
