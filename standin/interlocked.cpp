// The Interlocked intrinsics of Visual Studio's compiler, as plain functions
// on POSIX, so that the product's atomics compile unchanged here.
#include "platform/interlocked.h"

extern "C" {

char _InterlockedExchange8(char volatile *target, char value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

char _InterlockedCompareExchange8(char volatile *target, char exchange, char comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

}  // extern "C"
