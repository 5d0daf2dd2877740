#include "host/selftest_folder.h"

#include "host/host_win32_extra.h"
#include "text/text.h"

namespace host {

namespace {

const char kTokenAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

bool RandomBytes(BYTE *buffer, DWORD length) {
    return BCryptGenRandom(nullptr, buffer, length, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

// <temp>\ZeltanDokSelfTest-<8 random hex digits>, made fresh.
const char *MakeFolder(char (&folder)[kSelfTestPath]) {
    char temp[kSelfTestPath];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp - 32) return "no usable temp folder";
    for (uint32_t attempt = 0; attempt < 4; ++attempt) {
        BYTE random[4];
        if (!RandomBytes(random, sizeof random)) return "no random numbers from BCrypt";
        text::BoundedText path(folder);
        path.Append(temp);
        if (path.length && folder[path.length - 1] != '\\') path.Append('\\');
        path.Append("ZeltanDokSelfTest-");
        static const char kHex[] = "0123456789abcdef";
        for (BYTE b : random) {
            path.Append(kHex[b >> 4]);
            path.Append(kHex[b & 15]);
        }
        if (CreateDirectoryA(folder, nullptr)) return nullptr;
    }
    folder[0] = '\0';
    return "cannot create a folder in the temp folder";
}

const char *WriteSettings(SelfTestFolder &folder, unsigned short port) {
    BYTE random[kSelfTestTokenLength];
    if (!RandomBytes(random, sizeof random)) return "no random numbers from BCrypt";
    for (uint32_t i = 0; i < kSelfTestTokenLength; ++i)
        folder.token[i] = kTokenAlphabet[random[i] & 63];
    folder.token[kSelfTestTokenLength] = '\0';

    char settings[256];
    text::BoundedText ini(settings);
    ini.Append("[Bridge]\r\nEndpoint=http://127.0.0.1:");
    ini.AppendDecimal(port);
    ini.Append("/selftest\r\nToken=");
    ini.Append(folder.token);
    ini.Append("\r\nAirports=EDDF,EDDM\r\n");
    if (!WriteWholeFile(folder.settings, settings, ini.length)) return "cannot write the settings";
    return nullptr;
}

}  // namespace

bool Join(char (&field)[kSelfTestPath], const char *folder, const char *name) {
    text::BoundedText path(field);
    path.Append(folder);
    path.Append('\\');
    path.Append(name);
    return path.length == text::Length(folder) + 1 + text::Length(name);
}

bool WriteWholeFile(const char *path, const char *data, uint32_t length) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data, length, &written, nullptr) && written == length;
    CloseHandle(file);
    return ok;
}

const char *MakeSelfTestFolder(SelfTestFolder &folder, const char *pluginPath,
                               unsigned short port) {
    const char *problem = MakeFolder(folder.folder);
    if (problem) return problem;
    if (!Join(folder.plugin, folder.folder, "ZeltanDokBridge.dll") ||
        !Join(folder.settings, folder.folder, "ZeltanDokBridge.ini") ||
        !Join(folder.log, folder.folder, "ZeltanDokBridge.log"))
        return "the temp folder's path is too long";
    if (!CopyFileA(pluginPath, folder.plugin, TRUE)) return "cannot copy the plug-in";
    return WriteSettings(folder, port);
}

bool RemoveSelfTestFolder(const SelfTestFolder &folder) {
    if (!folder.folder[0]) return true;
    const char *files[] = {folder.plugin, folder.settings, folder.log};
    for (const char *file : files)
        if (file[0]) DeleteFileA(file);
    return RemoveDirectoryA(folder.folder) != 0;
}

}  // namespace host
