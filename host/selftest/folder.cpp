#include "host/selftest/folder.h"

#include "diag/log_file.h"
#include "host/digits.h"
#include "host/host_win32_extra.h"
#include "host/runner.h"
#include "text/text.h"

namespace host {

namespace {

const char kFolderPrefix[] = "ZeltanDokSelfTest-";  // then 8 hex digits
const uint32_t kPlugInName = sizeof "ZeltanDokBridge.dll" - 1;  // copy 0's file name
const uint32_t kFolderTries = 4;
// How long the clean-up and a rewrite keep trying, and their pause between
// tries.
const uint32_t kRemoveMilliseconds = 5000;
const uint32_t kRemovePauseMilliseconds = 100;

const char kTokenAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Deletes what the folder holds; the names of what stays go into `left`.
void RemoveFiles(const char *folder, text::BoundedText &left) {
    char pattern[kSelfTestPath];
    if (!Join(pattern, folder, "*")) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const char *name = found.cFileName;
        if (SameText(name, ".") || SameText(name, "..")) continue;
        char path[kSelfTestPath];
        // Normal first: a read-only file would not be deleted.
        if (!Join(path, folder, name) || !SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) ||
            !DeleteFileA(path)) {
            if (left.length) left.Append(", ");
            left.Append(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
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
    uint32_t start = GetTickCount();
    HANDLE file;
    while ((file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr)) == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                    error == ERROR_ACCESS_DENIED;
        if (!busy || GetTickCount() - start >= kRemoveMilliseconds) return false;
        Sleep(kRemovePauseMilliseconds);
    }
    DWORD written = 0;
    bool ok = WriteFile(file, data, length, &written, nullptr) && written == length;
    CloseHandle(file);
    return ok;
}

const char *ChooseTempFolder(SelfTestFolder &folder, const char *&advice) {
    advice = "set TMP and TEMP to a short folder of plain letters and digits, for example "
             "mkdir C:\\Temp, set TMP=C:\\Temp and set TEMP=C:\\Temp in this command "
             "prompt, then run the self-test again";
    WCHAR wide[kSelfTestPath];
    DWORD length = GetTempPathW(kSelfTestPath, wide);
    if (length == 0) return "Windows names no temp folder";
    if (length >= kSelfTestPath) return "the temp folder's path is too long for the plug-in";
    // Plain flags: with UTF-8 as the code page (a Windows 10 option) any
    // other flag fails the call. The way back shows a '?' or a best-fit
    // letter all the same.
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), folder.temp,
                                    kSelfTestPath - 1, nullptr, nullptr);
    folder.temp[bytes > 0 ? bytes : 0] = '\0';
    if (bytes <= 0) return "the temp folder's path is too long for the plug-in";
    WCHAR back[kSelfTestPath];
    int returned = MultiByteToWideChar(CP_ACP, 0, folder.temp, bytes, back, kSelfTestPath);
    // The plug-in reads its own path through GetModuleFileNameA: a letter
    // the code page lacks arrives as '?', and no file of that name exists.
    bool same = returned == static_cast<int>(length);
    for (int i = 0; same && i < returned; ++i) same = wide[i] == back[i];
    if (!same)
        return "the temp folder's path has a letter outside this computer's ANSI code page, "
               "so the plug-in could not find its settings or log there";
    text::BoundedText temp(folder.temp, kSelfTestPath, static_cast<uint32_t>(bytes));
    if (folder.temp[bytes - 1] != '\\') temp.Append('\\');
    // The copy's path must fit the plug-in's buffers whole, or the plug-in
    // would derive its settings' and log's names from a cut one.
    uint32_t copyPath = temp.length + sizeof kFolderPrefix - 1 + 8 + 1 + kPlugInName;
    if (copyPath >= kPathCapacity) return "the temp folder's path is too long for the plug-in";
    advice = nullptr;
    return nullptr;
}

const char *MakeSelfTestFolder(SelfTestFolder &folder) {
    // The token's bytes, then 4 for each try at a folder name.
    BYTE random[kSelfTestTokenLength + 4 * kFolderTries];
    if (BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return "no random numbers from BCrypt";
    for (uint32_t i = 0; i < kSelfTestTokenLength; ++i)
        folder.token[i] = kTokenAlphabet[random[i] & 63];
    folder.token[kSelfTestTokenLength] = '\0';
    for (uint32_t at = kSelfTestTokenLength; at < sizeof random; at += 4) {
        text::BoundedText path(folder.folder);
        path.Append(folder.temp);
        path.Append(kFolderPrefix);
        for (uint32_t i = at; i < at + 4; ++i) {
            path.Append(HexDigit(random[i] >> 4));
            path.Append(HexDigit(random[i]));
        }
        if (CreateDirectoryA(folder.folder, nullptr)) return nullptr;
    }
    folder.folder[0] = '\0';
    return "cannot create a folder in the temp folder";
}

bool CopyPlugIn(const char *source, const char *target) {
    return CopyFileA(source, target, TRUE) && SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
}

bool RemoveSelfTestFolder(const SelfTestFolder &folder, char (&left)[512]) {
    left[0] = '\0';
    if (!folder.folder[0]) return true;
    uint32_t start = GetTickCount();
    for (;;) {
        text::BoundedText stays(left);
        RemoveFiles(folder.folder, stays);
        if (RemoveDirectoryA(folder.folder)) return true;
        if (GetTickCount() - start >= kRemoveMilliseconds) {
            if (stays.length) stays.Append(" in ");
            stays.Append(folder.folder);
            return false;
        }
        Sleep(kRemovePauseMilliseconds);
    }
}

}  // namespace host
