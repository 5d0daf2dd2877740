// Placement new without the C++ library: the product build has none.
#pragma once

#if defined(_WIN32)
#include <stddef.h>
inline void *operator new(size_t, void *where) noexcept { return where; }
// The form that would undo the placement above if a constructor threw. None
// can (no exceptions), but Visual Studio's compiler warns (C4291) at every
// placement new that has no matching delete to name.
inline void operator delete(void *, void *) noexcept {}
#else
#include <new>
#endif
