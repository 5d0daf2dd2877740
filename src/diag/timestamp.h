// UTC time as ISO 8601 text with milliseconds, e.g. 2024-01-02T03:04:05.006Z.
#pragma once

#include "platform/win32.h"

typedef char UtcTimestamp[32];

// Writes `time` into `field`. Widths are minimums: a five-digit year or an
// out-of-range field keeps all its digits, and the text stops at 31 chars.
void WriteUtcTimestamp(const SYSTEMTIME &time, UtcTimestamp &field);

// Stamps `field` with the current time. Safe on any thread: no state.
void FormatUtcTimestamp(UtcTimestamp &field);
