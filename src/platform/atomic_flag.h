// A boolean shared between threads, through the Interlocked intrinsics: no
// runtime library is needed for them. Each access is a full barrier.
#pragma once

#include "platform/interlocked.h"

struct AtomicFlag {
    mutable char value;  // mutable: a read is a locked exchange too

    void Set(bool on) { _InterlockedExchange8(&value, static_cast<char>(on)); }
    bool IsSet() const {
        // Exchanging 0 for 0 changes nothing and reads the byte under the lock.
        return _InterlockedCompareExchange8(&value, 0, 0) != 0;
    }
    // Sets the flag and tells whether this call was the one that set it.
    bool Claim() { return _InterlockedExchange8(&value, 1) == 0; }
    // Clears the flag and tells whether it was set.
    bool Clear() { return _InterlockedExchange8(&value, 0) != 0; }
};
