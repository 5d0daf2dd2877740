// The processor's locked exchange on one byte, under the names Visual
// Studio's compiler gives it; cl and clang-cl turn each call into a single
// locked instruction. The native build gets real functions of the same
// names from standin/.
#pragma once

extern "C" {
char _InterlockedExchange8(char volatile *target, char value);
char _InterlockedCompareExchange8(char volatile *target, char exchange, char comparand);
}

#if defined(_MSC_VER)
#pragma intrinsic(_InterlockedExchange8, _InterlockedCompareExchange8)
#endif
