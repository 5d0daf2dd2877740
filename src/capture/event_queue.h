// The 256-slot ring between the client's thread (Push) and the delivery
// worker (TryPop). A push onto a full ring overwrites the oldest event, so
// the client's thread never waits for delivery.
#pragma once

#include <stdint.h>

#include "capture/stand_event.h"
#include "platform/win32.h"

struct BridgeLog;

const uint32_t kQueueCapacity = 256;

struct EventQueue {
    uint32_t head;   // slot of the oldest event, 0..255
    uint32_t count;  // 0..256
    StandEvent slots[kQueueCapacity];
    CRITICAL_SECTION queueLock;  // guards head, count and slots, nothing else
    HANDLE wakeEvent;       // auto-reset; signalled by every push

    // Queues a copy of `event`, then logs (never under the lock) and wakes
    // the worker.
    void Push(const StandEvent &event, BridgeLog &log);
    // Moves the oldest event into `out`; false when the ring is empty.
    bool TryPop(StandEvent &out);
};
