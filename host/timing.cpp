#include "host/timing.h"

#include "host/console.h"
#include "host/host_win32.h"

namespace host {

uint32_t CounterNow() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.u.LowPart;
}

uint32_t CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.u.LowPart;
}

namespace {

// Ascending, in place. Shell sort: no library, and fast enough for the
// counts we time.
void SortTicks(uint32_t *ticks, uint32_t count) {
    for (uint32_t gap = count / 2; gap > 0; gap /= 2)
        for (uint32_t i = gap; i < count; ++i)
            for (uint32_t j = i; j >= gap && ticks[j - gap] > ticks[j]; j -= gap) {
                uint32_t t = ticks[j];
                ticks[j] = ticks[j - gap];
                ticks[j - gap] = t;
            }
}

}  // namespace

void PrintBurst(uint32_t *ticks, uint32_t count, uint32_t total) {
    SortTicks(ticks, count);
    ConsoleLine out;
    out << "burst: count " << count << " frequency " << CounterFrequency() << " total " << total
        << " p50 " << ticks[count / 2] << " p99 " << ticks[count - 1 - count / 100] << " max "
        << ticks[count - 1];
    out.Print();
}

}  // namespace host
