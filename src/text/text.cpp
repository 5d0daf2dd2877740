#include "text/text.h"

namespace text {

namespace {

void CopyTrimmed(char *field, uint32_t capacity, const char *source, uint32_t sourceLength,
                 bool upper) {
    if (capacity == 0) return;
    uint32_t first = 0;
    uint32_t end = source ? sourceLength : 0;
    while (first < end && IsWhitespace(static_cast<unsigned char>(source[first]))) ++first;
    while (end > first && IsWhitespace(static_cast<unsigned char>(source[end - 1]))) --end;
    uint32_t n = end - first;
    if (n > capacity - 1) n = capacity - 1;
    for (uint32_t i = 0; i < n; ++i) {
        char c = source[first + i];
        if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        field[i] = c;
    }
    field[n] = '\0';
}

}  // namespace

void TrimmedCopy(char *field, uint32_t capacity, const char *source, uint32_t sourceLength) {
    CopyTrimmed(field, capacity, source, sourceLength, false);
}

void TrimmedCopy(char *field, uint32_t capacity, const char *source) {
    CopyTrimmed(field, capacity, source, Length(source), false);
}

void TrimmedUpperCopy(char *field, uint32_t capacity, const char *source, uint32_t sourceLength) {
    CopyTrimmed(field, capacity, source, sourceLength, true);
}

void TrimmedUpperCopy(char *field, uint32_t capacity, const char *source) {
    CopyTrimmed(field, capacity, source, Length(source), true);
}

BoundedText::BoundedText(char *buffer_, uint32_t capacity_, uint32_t startLength)
    : buffer(buffer_), capacity(capacity_), length(startLength) {
    if (capacity == 0) return;
    if (length > capacity - 1) length = capacity - 1;
    buffer[length] = '\0';
}

void BoundedText::Append(char c) {
    if (capacity == 0 || length >= capacity - 1) return;
    buffer[length++] = c;
    buffer[length] = '\0';
}

void BoundedText::Append(const char *s) {
    if (!s) return;
    while (*s) Append(*s++);
}

void BoundedText::AppendDecimal(uint32_t value, uint32_t minDigits) {
    char digits[10];  // 4294967295 has ten
    uint32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (uint32_t pad = count; pad < minDigits; ++pad) Append('0');
    while (count > 0) Append(digits[--count]);
}

}  // namespace text
