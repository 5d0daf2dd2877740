// The self-test's output: a header line that names the plug-in file and the
// system, one table row per check, and a one-line verdict.
#pragma once

#include <stdint.h>

#include "platform/win32.h"
#include "text/text.h"

namespace host {

struct CheckTable {
    // Held for each row and the verdict: the watchdog may print them while
    // another thread is printing a row.
    CRITICAL_SECTION lock;
    uint32_t checks;
    uint32_t failed;
    uint32_t notRun;  // rows of copies that did not load
    // Rows are only named, each with whether it needs a request to arrive:
    // `selftest --list`.
    bool listing;
    char failedNames[512];  // the first failing checks' names, for the verdict
};

// "self-test of <path>: <size> bytes, SHA-256 <hex>; Windows <version> build <n>";
// false when the file cannot be read (the line says so instead of its size).
bool PrintSelfTestHeader(const char *pluginPath);
void PrintTableHead();
// One row: check | expected | seen | ok (or FAILED). Returns `ok`.
// `needsRequest`: the row can only pass once a request has arrived.
bool Row(CheckTable &table, const char *check, const char *expected, const char *seen, bool ok,
         bool needsRequest = false);
// A row whose check could not run: check | expected | why | not run.
void NotRunRow(CheckTable &table, const char *check, const char *expected, const char *why,
               bool needsRequest = false);
// "verdict: ..." with the run's time; names the folder kept on failure.
void PrintVerdict(CheckTable &table, uint32_t milliseconds, const char *keptFolder);
// "verdict: CANNOT RUN, <why>; <what to do>": the input or this computer
// keeps the self-test from judging the plug-in. With rows printed, their
// count as well.
void PrintCannotRun(CheckTable &table, const char *why, const char *advice,
                    uint32_t milliseconds, const char *keptFolder);
// A row's "seen" text, built piece by piece.
struct SeenText {
    char text[1024];
    ::text::BoundedText out;  // the namespace, not the member above
    SeenText() : out(text) {}
    SeenText &operator<<(const char *s) { return out.Append(s ? s : "(null)"), *this; }
    SeenText &operator<<(uint32_t n) { return out.AppendDecimal(n), *this; }
};
// "<what> within <n> s": the expected text of a row whose call has a budget.
const char *Within(SeenText &text, const char *what, uint32_t budgetMilliseconds);
// "<what> in <seconds> s", appended.
const char *Took(SeenText &text, const char *what, uint32_t milliseconds);
// "1.2 s"; with 3 decimals "1.012 s" (1 to 3)
void AppendSeconds(text::BoundedText &out, uint32_t milliseconds, uint32_t decimals = 1);
// "0x1b00": exception codes and addresses as Windows tools show them.
void AppendHex(text::BoundedText &out, uint32_t value);

}  // namespace host
