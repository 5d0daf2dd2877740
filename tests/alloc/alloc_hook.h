// Counts heap allocations by replacing malloc, calloc and realloc (and so
// operator new, which uses them). Only for programs built without
// sanitizers, which bring allocators of their own. Heap use of the
// stand-in that stands for Windows' kernel objects or WinHTTP's own heap is
// left out: it is the platform's, not the product's.
#pragma once

namespace alloc_hook {

enum class Scope { ThisThread, AllThreads };

// Starts counting from zero.
void Start(Scope scope);
// Stops counting; returns the allocations counted since Start.
int Stop();

// While one exists, the current thread's allocations are not counted (a test
// thread that watches the counted work).
class NotCounted {
public:
    NotCounted();
    ~NotCounted();
};

}  // namespace alloc_hook
