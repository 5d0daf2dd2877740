#include "tests/alloc/alloc_hook.h"

#include <stddef.h>

#include <atomic>

#include "standin/standin.h"

extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *block, size_t size);

namespace {

thread_local bool t_counting = false;
thread_local bool t_excluded = false;
std::atomic<bool> g_countAllThreads{false};
std::atomic<int> g_allocations{0};

void Count() {
    if ((t_counting || g_countAllThreads.load(std::memory_order_relaxed)) && !t_excluded &&
        !standin::InsideKernelAllocation())
        g_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" void *malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
extern "C" void *calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
extern "C" void *realloc(void *block, size_t size) {
    Count();
    return __libc_realloc(block, size);
}

namespace alloc_hook {

void Start(Scope scope) {
    g_allocations = 0;
    if (scope == Scope::AllThreads)
        g_countAllThreads = true;
    else
        t_counting = true;
}

NotCounted::NotCounted() { t_excluded = true; }
NotCounted::~NotCounted() { t_excluded = false; }

int Stop() {
    t_counting = false;
    g_countAllThreads = false;
    return g_allocations.load();
}

}  // namespace alloc_hook
