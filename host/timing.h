// The performance counter and the sort every timing step and the capture
// baseline use, so that their figures read alike.
#pragma once

#include <stdint.h>

namespace host {

// Ticks of the performance counter; only differences are used, and they fit
// 32 bits for anything shorter than minutes.
uint32_t CounterNow();
uint32_t CounterFrequency();

// Sorts the `count` calls' ticks and prints the one line the benchmark reads:
// "burst: count N frequency F total T p50 A p99 B max C".
void PrintBurst(uint32_t *ticks, uint32_t count, uint32_t total);

}  // namespace host
