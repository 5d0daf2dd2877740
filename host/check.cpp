#include "host/check.h"

#include "capture/stand_message.h"
#include "host/check_limits.h"
#include "host/console.h"
#include "host/host_win32_extra.h"
#include "shell/endpoint.h"
#include "shell/settings.h"
#include "shell/sibling_path.h"
#include "text/text.h"

namespace host {

namespace {

const uint32_t kMinimumTokenLength = 32;  // the plug-in's own rule

const char *Explain(EndpointVerdict verdict) {
    switch (verdict) {
    case EndpointVerdict::Accepted: return "accepted";
    case EndpointVerdict::Empty: return "the Endpoint key is missing or empty";
    case EndpointVerdict::BadScheme:
        return "the endpoint must begin with https:// (lower case), or http:// for this machine";
    case EndpointVerdict::PlainNotLoopback:
        return "plain http:// is only allowed to localhost or 127.0.0.1, with a port "
               "(http://127.0.0.1:8080/path); use https:// for any other host";
    case EndpointVerdict::NoAuthority: return "there is no host after the scheme";
    case EndpointVerdict::AuthorityTooLong:
        return "the host and port are 256 characters or longer";
    case EndpointVerdict::BadPort: return "the port must be a number from 1 to 65535";
    case EndpointVerdict::PortTooLong:
        return "the port has more than 7 characters: drop its leading zeros";
    case EndpointVerdict::EmptyHost: return "the host name is empty";
    }
    return "refused";
}

void Say(const char *a, const char *b = nullptr, const char *c = nullptr) {
    ConsoleLine out;
    out << a;
    if (b) out.Escaped(b);
    if (c) out << c;
    out.Print();
}

// Windows' profile reader takes a UTF-8 byte-order mark for part of the
// first line, so a section header there is not found and every key of it
// reads as empty; Wine's reader skips the mark. A check run under Wine
// would pass a file that fails on the controller's Windows.
bool ByteOrderMarkHidesFirstSection(const char *head) {
    if (head[0] != '\xEF' || head[1] != '\xBB' || head[2] != '\xBF') return false;
    const char *p = head + 3;
    while (*p == ' ' || *p == '\t') ++p;
    return *p == '[';
}

// Resolves and opens the settings file, saying which one it is and what
// Windows would make of its first line; false, said, when there is none.
bool FindSettingsFile(const char *path, char (&fullPath)[260]) {
    // The profile reader looks for a bare name in the Windows folder; the
    // plug-in always passes a full path, so the check does too.
    DWORD length = GetFullPathNameA(path, sizeof fullPath, fullPath, nullptr);
    if (length == 0 || length >= sizeof fullPath) {
        Say("refused: the settings path is too long or invalid: ", path);
        return false;
    }
    Say("settings file: ", fullPath);
    HANDLE file = CreateFileA(fullPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Say("refused: there is no settings file at that path (it must sit beside the DLL, "
            "named like it with .ini)");
        return false;
    }
    char head[64] = {};
    DWORD got = 0;
    if (!ReadFile(file, head, sizeof head - 1, &got, nullptr)) head[0] = '\0';
    CloseHandle(file);
    if (ByteOrderMarkHidesFirstSection(head))
        Say("warning: the file begins with a UTF-8 byte-order mark and a [section] on its first "
            "line; Windows does not see that section and reads its keys as empty (Wine does "
            "see it): save the file as ANSI or as UTF-8 without BOM, or put a comment line first");
    return true;
}

void SayAirports(const char *airports) {
    ConsoleLine out;
    out << "  airports: ";
    out.Escaped(airports);
    out << " -> codes:";
    char code[8];
    uint32_t count = 0;
    for (const char *cursor = airports; NextAirportCode(cursor, code); ++count) {
        out << ' ';
        out.Escaped(code);
    }
    if (count == 0) out << " none: only stand messages without an airport would be sent";
    out.Print();
}

// The log's name as the plug-in derives it: the settings file's name with
// .log in place of its extension.
bool LogPathBeside(const char *settingsPath, char (&logPath)[260]) {
    uint32_t cut = PathStemLength(settingsPath, text::Length(settingsPath));
    text::BoundedText path(logPath);
    for (uint32_t i = 0; i < cut; ++i) path.Append(settingsPath[i]);
    path.Append(".log");
    return path.length == cut + 4;
}

// Opens the log as the plug-in does for every line, and writes nothing; a
// log this check had to create is deleted again. A folder the controller
// may not write to (one under Program Files) otherwise fails in silence:
// no log at all.
bool SayLogWritable(const char *settingsPath) {
    char logPath[260];
    if (!LogPathBeside(settingsPath, logPath)) {
        Say("refused: the log's path would be too long");
        return false;
    }
    HANDLE file = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        char why[256] = {};
        DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, why, sizeof why, nullptr);
        while (length > 0 && text::IsWhitespace(static_cast<unsigned char>(why[length - 1])))
            why[--length] = '\0';
        ConsoleLine out;
        out << "refused: the log cannot be written: ";
        out.Escaped(logPath);
        out << " (Windows error " << error << (length ? ": " : "");
        out.Escaped(why);
        out << "); the plug-in would keep no log at all";
        out.Print();
        return false;
    }
    bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    CloseHandle(file);
    if (created) DeleteFileA(logPath);
    Say("  log: ", logPath, created ? " can be created" : " can be written");
    return true;
}

BridgeSettings g_settings;
WrittenSettings g_written;
EndpointAddress g_address;

// What the check found, judged at its end.
struct Findings {
    bool starts;        // delivery would start
    bool asWritten;     // and with every value as the file writes it
    bool logWritable;
};

void SayEndpoint(Findings &found) {
    Say("  endpoint: ", g_written.endpoint);
    EndpointVerdict verdict = JudgeEndpointAddress(g_settings.endpoint, g_address);
    bool accepted = verdict == EndpointVerdict::Accepted;
    if (accepted) {
        ConsoleLine out;
        out << "  host: ";
        out.Escaped(g_address.host);
        out << "  port: " << static_cast<uint32_t>(g_address.port)
            << (g_address.secure ? " (TLS)" : " (plain HTTP, this machine only)") << "  path: ";
        out.Escaped(g_address.path);
        out.Print();
    } else {
        Say("refused: ", Explain(verdict));
        found.starts = false;
    }
    const EndpointAddress *address = accepted ? &g_address : nullptr;
    found.asWritten = SayEndpointKeptWhole(g_written, g_settings, address) && found.asWritten;
    if (accepted) found.asWritten = SayHostFindable(g_address) && found.asWritten;
}

void SayToken(Findings &found) {
    ConsoleLine out;
    out << "  token: ";
    AppendWrittenLength(out, text::Length(g_written.token));
    out << " (at least " << kMinimumTokenLength << " needed; the token itself is never shown)";
    out.Print();
    uint32_t tokenLength = text::Length(g_settings.token);
    if (tokenLength < kMinimumTokenLength) {
        Say(tokenLength == 0 ? "refused: the Token key is missing or empty"
                             : "refused: the token is shorter than 32 characters");
        found.starts = false;
    }
    found.asWritten = SayTokenKeptWhole(g_written, g_settings) && found.asWritten;
}

int SayVerdict(const Findings &found) {
    if (!found.starts) {
        Say("verdict: delivery would not start; the log would say "
            "\"Bridge disabled: Endpoint/Token missing or invalid\"");
        return 1;
    }
    if (!found.asWritten) {
        Say("verdict: delivery would start, but not as written: every event would fail or go "
            "elsewhere");
        return 1;
    }
    if (!found.logWritable) {
        Say("verdict: delivery would start, but without a log");
        return 1;
    }
    Say("verdict: delivery would start");
    return 0;
}

}  // namespace

int CheckSettingsFile(const char *path) {
    char fullPath[260];
    if (!FindSettingsFile(path, fullPath)) return 1;
    // The verdict comes from the plug-in's own read; the written values,
    // read with more room, show what that read would cut.
    LoadBridgeSettings(fullPath, g_settings);
    ReadWrittenSettings(fullPath, g_written);
    Findings found = {true, true, false};
    SayEndpoint(found);
    SayToken(found);
    SayAirports(g_settings.airports);
    WarnAirportsCut(g_written, g_settings);
    found.logWritable = SayLogWritable(fullPath);
    return SayVerdict(found);
}

}  // namespace host
