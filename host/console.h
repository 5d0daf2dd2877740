// Plain text to standard output, one bounded line at a time.
#pragma once

#include "text/text.h"

namespace host {

// A line being built; Print() writes it with CR LF and starts a new one.
class ConsoleLine {
public:
    ConsoleLine() : text_(buffer_) {}
    ConsoleLine &operator<<(const char *s);
    ConsoleLine &operator<<(char c);
    ConsoleLine &operator<<(uint32_t n);
    // Bytes below 32 and above 126 as \xHH, so any text prints on one line.
    ConsoleLine &Escaped(const char *s);
    void Print();

private:
    char buffer_[1024];
    text::BoundedText text_;
};

}  // namespace host
