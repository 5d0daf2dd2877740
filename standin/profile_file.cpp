// GetPrivateProfileStringA: one value from an .ini file, read the way
// Windows reads it where the settings depend on it.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "standin/standin.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool ReadWhole(const char *fileName, std::string &contents) {
    int fd = open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[16384];
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        contents.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

// The next line of `rest`, which loses it. A lone CR ends a line too, so
// CRLF files read like LF ones (the empty line between is skipped).
std::string_view NextLine(std::string_view &rest) {
    size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return line;
}

// A header is "[name]" with anything after the bracket ignored; a line
// opening a bracket it never closes is no header.
bool SectionHeader(std::string_view line, std::string_view &name) {
    if (line.empty() || line.front() != '[') return false;
    size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = Trim(line.substr(1, close - 1));
    return true;
}

// Only the first section of the name counts: a key that sits in a later
// duplicate of it is not found, and of a repeated key the first wins.
bool FindValue(std::string_view contents, std::string_view section, std::string_view key,
               std::string_view &value) {
    bool inSection = false;
    while (!contents.empty()) {
        std::string_view line = Trim(NextLine(contents));
        if (line.empty() || line.front() == ';') continue;
        std::string_view name;
        if (SectionHeader(line, name)) {
            if (inSection) return false;
            inSection = SameName(name, section);
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        if (SameName(Trim(line.substr(0, equals)), key)) {
            value = Trim(line.substr(equals + 1));
            return true;
        }
    }
    return false;
}

// Windows drops one pair of matching quotes, single or double, around a value.
std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

DWORD CopyOut(std::string_view text, char *out, DWORD size) {
    if (!out || size == 0) return 0;
    // A NUL byte in the file ends the value the caller will see; the
    // result counts what the caller can see.
    text = text.substr(0, text.find('\0'));
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

}  // namespace

// The listing forms (null section or key) are not used by the product and
// return an empty string here. A UTF-8 byte order mark is not skipped, just
// as Windows does not: it spoils a header on the first line.
DWORD WINAPI GetPrivateProfileStringA(const char *section, const char *key,
                                      const char *defaultValue, char *value, DWORD size,
                                      const char *fileName) {
    if (!section || !key) return CopyOut("", value, size);
    std::string contents;
    std::string_view found;
    if (fileName && ReadWhole(fileName, contents) && FindValue(contents, section, key, found))
        return CopyOut(Unquote(found), value, size);
    // Windows cuts trailing blanks off the default.
    std::string_view fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && IsBlank(fallback.back())) fallback.remove_suffix(1);
    return CopyOut(fallback, value, size);
}
