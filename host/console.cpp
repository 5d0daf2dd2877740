#include "host/console.h"

#include "host/digits.h"
#include "host/host_win32.h"

namespace host {

ConsoleLine &ConsoleLine::operator<<(const char *s) {
    text_.Append(s ? s : "(null)");
    return *this;
}

ConsoleLine &ConsoleLine::operator<<(char c) {
    text_.Append(c);
    return *this;
}

ConsoleLine &ConsoleLine::operator<<(uint32_t n) {
    text_.AppendDecimal(n);
    return *this;
}

ConsoleLine &ConsoleLine::Escaped(const char *s) {
    if (!s) return *this << "(null)";
    for (; *s; ++s) {
        unsigned char c = static_cast<unsigned char>(*s);
        if (c >= 32 && c <= 126) {
            text_.Append(static_cast<char>(c));
        } else {
            text_.Append('\\');
            text_.Append('x');
            text_.Append(UpperHexDigit(c >> 4));
            text_.Append(UpperHexDigit(c));
        }
    }
    return *this;
}

void ConsoleLine::Print() {
    // A full line gives up its last characters to the line break, or the
    // next line would run on from it.
    if (text_.length > sizeof buffer_ - 3) text_.length = sizeof buffer_ - 3;
    text_.Append('\r');
    text_.Append('\n');
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer_, text_.length, &written, nullptr);
    text_ = text::BoundedText(buffer_);
}

}  // namespace host
