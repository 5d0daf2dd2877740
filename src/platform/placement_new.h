// Placement new without the C++ library: the product build has none.
#pragma once

#if defined(_WIN32)
#include <stddef.h>
inline void *operator new(size_t, void *where) noexcept { return where; }
#else
#include <new>
#endif
