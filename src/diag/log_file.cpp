#include "diag/log_file.h"

#include "text/text.h"

void BuildLogLine(char (&line)[kLogLineCapacity], const UtcTimestamp &stamp, const char *message) {
    text::BoundedText out(line);
    out.Append(stamp);
    out.Append(' ');
    out.Append(message);
    out.Append('\r');
    out.Append('\n');
}

void BridgeLog::Write(const char *message) {
    if (logPath[0] == '\0') return;

    // Built before the lock: the lock covers only the file.
    UtcTimestamp stamp;
    FormatUtcTimestamp(stamp);
    char line[kLogLineCapacity];
    BuildLogLine(line, stamp, message);

    EnterCriticalSection(&logLock);
    HANDLE file = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        SetFilePointer(file, 0, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(file, line, text::Length(line), &written, nullptr);
        CloseHandle(file);
    }
    LeaveCriticalSection(&logLock);
}
