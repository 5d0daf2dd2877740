#include "host/selftest/report.h"

#include "host/console.h"
#include "host/digits.h"
#include "host/host_ntdll.h"

namespace host {

namespace {

char g_chunk[65536];

// The file's SHA-256 through the system's own provider, as lower-case hex;
// false when the file cannot be read or the provider refuses.
bool HashFile(HANDLE file, char (&hex)[65]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, u"SHA256", nullptr, 0) != 0) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    for (DWORD got = 1; ok && got > 0;) {
        ok = ReadFile(file, g_chunk, sizeof g_chunk, &got, nullptr) &&
             (got == 0 || BCryptHashData(hash, reinterpret_cast<BYTE *>(g_chunk), got, 0) == 0);
    }
    BYTE digest[32];
    if (ok) ok = BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    for (uint32_t i = 0; ok && i < 32; ++i) {
        hex[2 * i] = HexDigit(digest[i] >> 4);
        hex[2 * i + 1] = HexDigit(digest[i]);
    }
    hex[ok ? 64 : 0] = '\0';
    return ok;
}

bool AppendFile(ConsoleLine &out, const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        out << "cannot be read (Windows error " << GetLastError() << ")";
        return false;
    }
    DWORD size = GetFileSize(file, nullptr);
    char hex[65];
    out << size << " bytes, SHA-256 ";
    bool hashed = HashFile(file, hex);
    out << (hashed ? hex : "not available");
    CloseHandle(file);
    return hashed;
}

void AppendSystem(ConsoleLine &out) {
    RTL_OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (RtlGetVersion(&info) != 0) {
        out << "Windows version not reported";
        return;
    }
    out << "Windows " << info.dwMajorVersion << '.' << info.dwMinorVersion << " build "
        << info.dwBuildNumber;
    // Wine reports the Windows version it imitates; say that it is Wine.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC wine = ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
    if (wine) out << " (Wine " << reinterpret_cast<const char *(*)()>(wine)() << ")";
}

// A verdict's end: the run's time, and the folder kept on failure.
void AppendEnding(ConsoleLine &out, uint32_t milliseconds, const char *keptFolder) {
    SeenText seconds;
    AppendSeconds(seconds.out, milliseconds);
    out << " (" << seconds.text << ")";
    if (!keptFolder) return;
    out << "; folder kept: ";
    out.Escaped(keptFolder);
}

}  // namespace

bool PrintSelfTestHeader(const char *pluginPath) {
    ConsoleLine out;
    out << "self-test of ";
    out.Escaped(pluginPath) << ": ";
    bool readable = AppendFile(out, pluginPath);
    out << "; ";
    AppendSystem(out);
    out.Print();
    return readable;
}

// A row; with no `seen`, only its first two texts.
static void PrintRow(const char *check, const char *expected, const char *seen, const char *ok) {
    ConsoleLine out;
    out.Escaped(check) << " | ";
    out.Escaped(expected);
    if (seen) {
        out << " | ";
        out.Escaped(seen) << " | " << ok;
    }
    out.Print();
}

void PrintTableHead() { PrintRow("check", "expected", "seen", "ok"); }

static bool Listed(const char *check, bool needsRequest) {
    PrintRow(check, needsRequest ? "needs a request" : "needs none", nullptr, nullptr);
    return false;
}

bool Row(CheckTable &table, const char *check, const char *expected, const char *seen, bool ok,
         bool needsRequest) {
    if (table.listing) return Listed(check, needsRequest);
    EnterCriticalSection(&table.lock);
    ++table.checks;
    if (!ok) {
        ++table.failed;
        char *names = table.failedNames;
        text::BoundedText list(names, sizeof table.failedNames, text::Length(names));
        if (list.length) list.Append(", ");
        list.Append(check);
    }
    PrintRow(check, expected, seen, ok ? "ok" : "FAILED");
    LeaveCriticalSection(&table.lock);
    return ok;
}

void NotRunRow(CheckTable &table, const char *check, const char *expected, const char *why,
               bool needsRequest) {
    if (table.listing) return static_cast<void>(Listed(check, needsRequest));
    EnterCriticalSection(&table.lock);
    ++table.checks;
    ++table.notRun;
    PrintRow(check, expected, why, "not run");
    LeaveCriticalSection(&table.lock);
}

void PrintVerdict(CheckTable &table, uint32_t milliseconds, const char *keptFolder) {
    EnterCriticalSection(&table.lock);
    ConsoleLine out;
    if (table.failed == 0 && table.notRun == 0 && table.checks > 0) {
        out << "verdict: PASS, all " << table.checks << " checks passed";
    } else {
        out << "verdict: FAIL, " << table.failed << " of " << table.checks << " checks failed";
        if (table.notRun) out << ", " << table.notRun << " not run";
        out << ": " << table.failedNames;
    }
    AppendEnding(out, milliseconds, keptFolder);
    out.Print();
    LeaveCriticalSection(&table.lock);
}

void PrintCannotRun(CheckTable &table, const char *why, const char *advice,
                    uint32_t milliseconds, const char *keptFolder) {
    ConsoleLine out;
    out << "verdict: CANNOT RUN, ";
    out.Escaped(why) << "; " << advice;
    if (table.checks)
        out << "; " << table.checks - table.notRun << " of " << table.checks << " checks run";
    AppendEnding(out, milliseconds, keptFolder);
    out.Print();
}

const char *Within(SeenText &text, const char *what, uint32_t budgetMilliseconds) {
    text << what << " within " << budgetMilliseconds / 1000 << " s";
    return text.text;
}

const char *Took(SeenText &text, const char *what, uint32_t milliseconds) {
    text << what << " in ";
    AppendSeconds(text.out, milliseconds);
    return text.text;
}

void AppendHex(text::BoundedText &out, uint32_t value) {
    out.Append("0x");
    int shift = 28;
    while (shift > 0 && (value >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) out.Append(HexDigit(value >> shift));
}

void AppendSeconds(text::BoundedText &out, uint32_t milliseconds, uint32_t decimals) {
    static const uint32_t kScale[] = {1000, 100, 10, 1};  // by decimals
    uint32_t places = decimals < 1 ? 1 : decimals > 3 ? 3 : decimals;
    out.AppendDecimal(milliseconds / 1000);
    out.Append('.');
    out.AppendDecimal(milliseconds % 1000 / kScale[places], places);
    out.Append(" s");
}

}  // namespace host
