// Kernel handles of the stand-in: heap objects shared between the handle
// table and whoever still uses them (a running thread, a wait in progress).
//
// A handle is the object's address. The table owns one reference per open
// handle; CloseHandle drops it, and the object goes when the last user does.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/win32.h"

namespace standin {
namespace detail {

enum class HandleKind { Event, Thread, File };

struct KernelObject {
    explicit KernelObject(HandleKind k) : kind(k) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject &) = delete;
    KernelObject &operator=(const KernelObject &) = delete;

    const HandleKind kind;
};

// Events and threads: a thread is a manual-reset event that its own end sets.
struct WaitableObject : KernelObject {
    WaitableObject(HandleKind k, bool manual, bool initial)
        : KernelObject(k), manualReset(manual), signalled(initial) {}

    std::mutex mutex;
    std::condition_variable changed;
    const bool manualReset;
    bool signalled;
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);

// Marks, for the current thread, heap use that stands for what Windows keeps
// in the kernel (handle objects), so that tests counting the product's own
// allocations can leave it out.
class KernelAllocation {
public:
    KernelAllocation() { ++depth; }
    ~KernelAllocation() { --depth; }
    static bool Active() { return depth > 0; }

private:
    static thread_local int depth;
};
// Null when the handle is not open or is of another kind.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle, HandleKind kind);
std::shared_ptr<WaitableObject> FindWaitable(HANDLE handle);

}  // namespace detail
}  // namespace standin
