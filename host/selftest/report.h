// The self-test's output: a header line that names the plug-in file and the
// system, one table row per check, and a one-line verdict.
#pragma once

#include <stdint.h>

namespace host {

struct CheckTable {
    uint32_t checks;
    uint32_t failed;
    char failedNames[512];  // the first failing checks' names, for the verdict
};

// "self-test of <path>: <size> bytes, SHA-256 <hex>; Windows <version> build <n>"
void PrintSelfTestHeader(const char *pluginPath);
void PrintTableHead();
// One row: check | expected | seen | ok (or FAILED). Returns `ok`.
bool Row(CheckTable &table, const char *check, const char *expected, const char *seen, bool ok);
// "verdict: ..." with the run's time; names the folder kept on failure.
void PrintVerdict(const CheckTable &table, uint32_t milliseconds, const char *keptFolder);

}  // namespace host
