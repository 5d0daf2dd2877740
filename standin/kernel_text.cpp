// UTF-8 to UTF-16, the one conversion the product makes.
#include "standin/standin.h"

namespace {

const char32_t kReplacement = 0xFFFD;

// One character from `bytes` (count > 0 bytes left). An ill-formed sequence
// becomes one U+FFFD per maximal subpart, the Unicode-recommended practice
// that Windows follows since Vista when MB_ERR_INVALID_CHARS is not given:
// the bytes that could still have begun a valid sequence go together, and
// decoding resumes at the byte that broke it.
size_t DecodeOne(const unsigned char *bytes, size_t count, char32_t &code) {
    unsigned char lead = bytes[0];
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    int following;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        following = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        following = 2;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        following = 3;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        code = kReplacement;
        return 1;
    }
    size_t used = 1;
    for (int i = 0; i < following; ++i, ++used) {
        if (used >= count || bytes[used] < low || bytes[used] > high) {
            code = kReplacement;
            return used;
        }
        code = (code << 6) | (bytes[used] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return used;
}

int UnitsOf(char32_t code) { return code > 0xFFFF ? 2 : 1; }

void Put(char32_t code, WCHAR *out) {
    if (code <= 0xFFFF) {
        out[0] = static_cast<WCHAR>(code);
        return;
    }
    code -= 0x10000;
    out[0] = static_cast<WCHAR>(0xD800 + (code >> 10));
    out[1] = static_cast<WCHAR>(0xDC00 + (code & 0x3FF));
}

// Units the whole source needs; also the writer when `target` is given.
int Convert(const unsigned char *bytes, size_t count, WCHAR *target) {
    int units = 0;
    for (size_t at = 0; at < count;) {
        char32_t code;
        at += DecodeOne(bytes + at, count - at, code);
        if (target) Put(code, target + units);
        units += UnitsOf(code);
    }
    return units;
}

}  // namespace

// Failures return 0, as Windows does (it would also set the last error,
// which the product never reads). A target too small gets nothing written.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, const char *source, int sourceLength,
                               WCHAR *target, int targetCapacity) {
    if (codePage != CP_UTF8 || flags != 0 || !source || sourceLength == 0 || sourceLength < -1 ||
        targetCapacity < 0 || (targetCapacity > 0 && !target))
        return 0;
    size_t count = 0;
    if (sourceLength == -1) {
        while (source[count] != '\0') ++count;
        ++count;  // the terminator is converted and counted too
    } else {
        count = static_cast<size_t>(sourceLength);
    }
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(source);
    int needed = Convert(bytes, count, nullptr);
    if (targetCapacity == 0) return needed;
    if (needed > targetCapacity) return 0;
    return Convert(bytes, count, target);
}
