// Hex and decimal digits of the test client's texts: bytes shown as hex
// (escapes, hashes, folder names) and numbers read from words and headers.
#pragma once

#include <stdint.h>

namespace host {

// The lower-case hex digit of the low four bits of `value`.
inline char HexDigit(uint32_t value) { return "0123456789abcdef"[value & 15]; }

// The same in upper case, as the console shows a byte (\xHH).
inline char UpperHexDigit(uint32_t value) {
    char c = HexDigit(value);
    return c > '9' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The value of one hex digit in either case, or -1.
inline int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// The `count` characters at `text` as a decimal number. False, with `value`
// untouched, when there are none, when one is not a digit, or when the number
// passes 4294967295: a number that wrapped would be some other number.
inline bool DecimalValue(const char *text, uint32_t count, uint32_t &value) {
    if (count == 0) return false;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!IsDecimalDigit(text[i])) return false;
        uint32_t digit = static_cast<uint32_t>(text[i] - '0');
        if (sum > (0xFFFFFFFFu - digit) / 10) return false;
        sum = sum * 10 + digit;
    }
    value = sum;
    return true;
}

}  // namespace host
