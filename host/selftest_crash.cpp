// A plug-in that crashes the self-test, on any thread, must still leave a
// verdict and a failing exit status: the crash is a failed check of its
// own, named with the exception and the module it happened in.
#include "host/host_win32_extra.h"
#include "host/selftest.h"

namespace host {

namespace {

SelfTest *g_guarded;

void AppendHex(SeenText &seen, uint32_t value) {
    static const char kHex[] = "0123456789ABCDEF";
    seen << "0x";
    for (int shift = 28; shift >= 0; shift -= 4) seen.out.Append(kHex[(value >> shift) & 15]);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS *pointers) {
    SelfTest &t = *g_guarded;
    const EXCEPTION_RECORD &record = *pointers->ExceptionRecord;
    SeenText seen;
    seen << "exception ";
    AppendHex(seen, record.ExceptionCode);
    seen << " at ";
    AppendHex(seen, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record.ExceptionAddress)));
    HMODULE module = nullptr;
    char name[kSelfTestPath] = {};
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | 2 /* unchanged count */,
                           static_cast<const char *>(record.ExceptionAddress), &module) &&
        GetModuleFileNameA(module, name, sizeof name - 1))
        seen << " in " << name;
    Row(t.table, "no crash", "the run ends by itself", seen.text, false);
    PrintVerdict(t.table, RunMilliseconds(t), t.files.folder[0] ? t.files.folder : nullptr);
    ExitProcess(1);
    return 0;
}

}  // namespace

void GuardAgainstCrashes(SelfTest &t) {
    g_guarded = &t;
    SetUnhandledExceptionFilter(OnCrash);
}

}  // namespace host
