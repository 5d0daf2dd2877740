// Every handler of the plug-in's virtual table called once, as the client's
// compiler calls it, to see that each pops exactly its own arguments.
#pragma once

#include <stdint.h>

namespace host {

struct Runner;

struct SlotTally {
    uint32_t called = 0;
    uint32_t answered = 0;
    uint32_t clientCalls = 0;
    uint32_t clientDefaults = 0;  // calls that reached the client's own default handlers
    char moves[256] = {};         // each call that moved the stack: "+4 in slot 18, ..."
};

// Calls each of the 22 handlers of the live object once.
void CallEverySlot(Runner &r, SlotTally &tally);

}  // namespace host
