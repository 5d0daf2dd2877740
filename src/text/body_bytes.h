// Which bytes of a text the JSON body carries. Delivery writes the body by
// this rule and capture judges by it whether a field would arrive as
// anything, so it lives below both.
#pragma once

#include "text/text.h"

namespace text {

// The body keeps every byte except the control bytes JSON has no short
// escape for; BS, TAB, LF, FF and CR it keeps as escapes.
inline bool BodyKeeps(unsigned char c) {
    return c >= 0x20 || c == 8 || c == 9 || c == 10 || c == 12 || c == 13;
}

// Whether the body would show any byte of `field` but whitespace: a field
// of dropped bytes and blanks alone arrives as "" or as blanks, which is no
// value either.
inline bool BodyShowsSomethingOf(const char *field) {
    for (const char *p = field; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (BodyKeeps(c) && !IsWhitespace(c)) return true;
    }
    return false;
}

}  // namespace text
