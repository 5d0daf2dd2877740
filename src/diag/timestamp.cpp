#include "diag/timestamp.h"

#include "text/text.h"

void WriteUtcTimestamp(const SYSTEMTIME &time, UtcTimestamp &field) {
    text::BoundedText out(field);
    out.AppendDecimal(time.wYear, 4);
    out.Append('-');
    out.AppendDecimal(time.wMonth, 2);
    out.Append('-');
    out.AppendDecimal(time.wDay, 2);
    out.Append('T');
    out.AppendDecimal(time.wHour, 2);
    out.Append(':');
    out.AppendDecimal(time.wMinute, 2);
    out.Append(':');
    out.AppendDecimal(time.wSecond, 2);
    out.Append('.');
    out.AppendDecimal(time.wMilliseconds, 3);
    out.Append('Z');
}

void FormatUtcTimestamp(UtcTimestamp &field) {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    WriteUtcTimestamp(now, field);
}
