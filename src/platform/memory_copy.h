// memcpy without the C library's headers: the product build has none, and
// src/platform/runtime.cpp defines the function for it.
#pragma once

#include <stddef.h>

#if defined(_WIN32)
extern "C" void *memcpy(void *destination, const void *source, size_t count);
#else
#include <string.h>
#endif
