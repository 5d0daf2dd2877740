#include "host/timing.h"

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

// Shell sort: no library, and fast enough for the counts we time.
void SortTicks(uint32_t *ticks, uint32_t count) {
    for (uint32_t gap = count / 2; gap > 0; gap /= 2)
        for (uint32_t i = gap; i < count; ++i)
            for (uint32_t j = i; j >= gap && ticks[j - gap] > ticks[j]; j -= gap) {
                uint32_t t = ticks[j];
                ticks[j] = ticks[j - gap];
                ticks[j - gap] = t;
            }
}

}  // namespace host
