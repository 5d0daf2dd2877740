#include "capture/event_queue.h"

#include "diag/log_file.h"

void EventQueue::Push(const StandEvent &event, BridgeLog &log) {
    EnterCriticalSection(&queueLock);
    bool dropped = count == kQueueCapacity;
    if (dropped) {
        slots[head] = event;  // the oldest event gives way
        head = (head + 1) % kQueueCapacity;
    } else {
        slots[(head + count) % kQueueCapacity] = event;
        ++count;
    }
    LeaveCriticalSection(&queueLock);

    // Log lines only after the lock is left: the two locks are never held
    // together.
    if (dropped) log.Write("Queue full; oldest event dropped");
    log.WriteEvent("Captured", event, 0);
    SetEvent(wakeEvent);
}

bool EventQueue::TryPop(StandEvent &out) {
    EnterCriticalSection(&queueLock);
    bool found = count > 0;
    if (found) {
        out = slots[head];
        head = (head + 1) % kQueueCapacity;
        --count;
    }
    LeaveCriticalSection(&queueLock);
    return found;
}
