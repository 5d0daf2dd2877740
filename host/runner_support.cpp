#include "host/console.h"
#include "host/digits.h"
#include "host/host_win32_extra.h"
#include "host/runner.h"

namespace host {

bool SameText(const char *a, const char *b) {
    if (!a || !b) return a == b;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

bool ParseNumber(const char *s, uint32_t &value) {
    return s && DecimalValue(s, text::Length(s), value);
}

bool Fail(const ScenarioLine &line, const char *why) {
    ConsoleLine out;
    out << "line " << line.number << ": error: " << why;
    out.Print();
    return false;
}

bool NeedObject(Runner &r, const ScenarioLine &line) {
    return r.object ? true : Fail(line, "no plug-in object (run init first)");
}

bool ReadWholeFile(const char *path, char *buffer, uint32_t capacity, uint32_t &length) {
    length = 0;
    buffer[0] = '\0';
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (length + 1 == capacity || !ReadFile(file, buffer + length, capacity - 1 - length, &got,
                                                nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        length += got;
    }
    CloseHandle(file);
    buffer[length] = '\0';
    return ok;
}

}  // namespace host
