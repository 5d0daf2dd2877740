#include "host/scenario.h"

#include "host/digits.h"

namespace host {

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool IsNullWord(const char *w) {
    const char *n = "(null)";
    while (*n && *w == *n) ++w, ++n;
    return *n == '\0' && *w == '\0';
}

void SplitWords(char *p, char *lineEnd, ScenarioLine &line) {
    while (p < lineEnd) {
        while (p < lineEnd && IsSeparator(*p)) *p++ = '\0';
        if (p >= lineEnd) break;
        if (line.count == kMaxWords) {
            line.tooManyWords = true;
            break;
        }
        char *word = p;
        while (p < lineEnd && !IsSeparator(*p)) ++p;
        if (p < lineEnd) *p++ = '\0';
        line.words[line.count++] = DecodeWord(word);
    }
}

}  // namespace

const char *DecodeWord(char *word) {
    if (IsNullWord(word)) return nullptr;
    char *out = word;
    for (char *in = word; *in;) {
        if (*in != '\\' || in[1] == '\0') {
            *out++ = *in++;
            continue;
        }
        char kind = in[1];
        in += 2;
        switch (kind) {
        case 's': *out++ = ' '; break;
        case 't': *out++ = '\t'; break;
        case 'n': *out++ = '\n'; break;
        case 'r': *out++ = '\r'; break;
        case 'x': {
            int high = HexValue(in[0]);
            int low = high < 0 ? -1 : HexValue(in[1]);
            if (low < 0) {
                *out++ = 'x';  // not a byte escape: keep the letter
                break;
            }
            *out++ = static_cast<char>(high * 16 + low);
            in += 2;
            break;
        }
        default: *out++ = kind; break;  // \\ and any other escaped byte
        }
    }
    *out = '\0';
    return word;
}

bool ScenarioReader::Next(ScenarioLine &line) {
    while (next_ < end_) {
        char *start = next_;
        char *lineEnd = start;
        while (lineEnd < end_ && *lineEnd != '\n') ++lineEnd;
        next_ = lineEnd < end_ ? lineEnd + 1 : end_;
        if (lineEnd < end_) *lineEnd = '\0';
        ++number_;

        char *p = start;
        while (p < lineEnd && IsSeparator(*p)) ++p;
        if (p == lineEnd || *p == '#') continue;

        line.number = number_;
        line.count = 0;
        line.tooManyWords = false;
        SplitWords(p, lineEnd, line);
        return true;
    }
    return false;
}

}  // namespace host
