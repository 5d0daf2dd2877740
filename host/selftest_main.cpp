#include "host/selftest.h"

#include "host/console.h"

namespace host {

namespace {

SelfTest g_test;  // the receiver's records alone are some 50 KB

bool StartEverything(SelfTest &t, const char *pluginPath) {
    const char *why = nullptr;
    bool listening = StartReceiver(t.receiver, why);
    char seen[64];
    text::BoundedText port(seen);
    if (listening) {
        port.Append("127.0.0.1:");
        port.AppendDecimal(t.receiver.port);
    }
    if (!Row(t.table, "receiver", "listening on 127.0.0.1", listening ? seen : why, listening))
        return false;
    const char *problem = MakeSelfTestFolder(t.files, pluginPath, t.receiver.port);
    return Row(t.table, "self-test folder", "a fresh folder with the plug-in and settings",
               problem ? problem : t.files.folder, !problem);
}

}  // namespace

int RunSelfTest(const char *pluginPath) {
    SelfTest &t = g_test;
    t.startTicks = CounterNow();
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    t.originDay = static_cast<uint32_t>(DayNumber(now.wYear, now.wMonth, now.wDay));
    PrintSelfTestHeader(pluginPath);
    PrintTableHead();
    if (StartEverything(t, pluginPath) && CheckLoad(t)) {
        CheckHandlerSlots(t);
        CheckDelivery(t);
        CheckUnload(t);
        CheckLogLines(t);
    }
    StopReceiver(t.receiver);
    bool passed = t.table.failed == 0;
    if (passed) {
        bool removed = RemoveSelfTestFolder(t.files);
        passed = Row(t.table, "self-test folder removed", "removed",
                     removed ? "removed" : t.files.folder, removed);
    }
    PrintVerdict(t.table, RunMilliseconds(t),
                 !passed && t.files.folder[0] ? t.files.folder : nullptr);
    return passed ? 0 : 1;
}

}  // namespace host
