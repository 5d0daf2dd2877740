// The small text routines every subsystem shares.
//
// All texts are 8-bit, NUL-terminated and live in fixed fields. A field of
// capacity N holds at most N - 1 characters; anything that finds no room is
// dropped without a marker.
#pragma once

#include <stdint.h>

namespace text {

// Whitespace is exactly TAB, LF, CR and SPACE; VT and FF are ordinary bytes.
inline bool IsWhitespace(unsigned char c) { return c == 9 || c == 10 || c == 13 || c == 32; }

inline uint32_t Length(const char *s) {
    uint32_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

// Copies the bytes between the first and the last non-whitespace byte of the
// first `sourceLength` bytes of `source`, at most capacity - 1 of them (the
// first ones), and terminates. Trimming comes first and the cut second, so a
// cut text may end in whitespace. A null source gives the empty text.
// `field` may be `source` itself: the copy runs front to back.
void TrimmedCopy(char *field, uint32_t capacity, const char *source, uint32_t sourceLength);
void TrimmedCopy(char *field, uint32_t capacity, const char *source);

// The same, mapping only 'a'..'z' to 'A'..'Z' while copying.
void TrimmedUpperCopy(char *field, uint32_t capacity, const char *source, uint32_t sourceLength);
void TrimmedUpperCopy(char *field, uint32_t capacity, const char *source);

template <uint32_t N>
void TrimmedCopy(char (&field)[N], const char *source) { TrimmedCopy(field, N, source); }
template <uint32_t N>
void TrimmedUpperCopy(char (&field)[N], const char *source) { TrimmedUpperCopy(field, N, source); }

// A text being built in a fixed buffer, one character at a time. Each
// character is stored only while the text holds fewer than capacity - 1
// characters, and a NUL follows every stored character, so the buffer always
// holds a terminated text. Once a character finds no room, every later one
// finds none either, because the length never shrinks.
struct BoundedText {
    char *buffer;
    uint32_t capacity;
    uint32_t length;

    // Starts with the first `startLength` characters already in `buffer`.
    BoundedText(char *buffer, uint32_t capacity, uint32_t startLength = 0);
    template <uint32_t N>
    explicit BoundedText(char (&field)[N]) : BoundedText(field, N) {}

    void Append(char c);
    void Append(const char *s);  // null appends nothing
    // `value` in plain decimal, most significant digit first, padded with
    // leading zeros to at least `minDigits` digits.
    void AppendDecimal(uint32_t value, uint32_t minDigits = 1);
};

}  // namespace text
