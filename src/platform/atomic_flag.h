// A boolean shared between the client's thread and the worker, through the
// compiler's builtins: no runtime library is needed for them.
#pragma once

#include <stdint.h>

struct AtomicFlag {
    uint8_t value;

    void Set(bool on) { __atomic_store_n(&value, static_cast<uint8_t>(on), __ATOMIC_SEQ_CST); }
    bool IsSet() const { return __atomic_load_n(&value, __ATOMIC_SEQ_CST) != 0; }
};
