#include "standin/kernel_objects.h"

#include <unordered_map>
#include <utility>

#include "standin/resets.h"
#include "standin/standin.h"

namespace standin {
namespace detail {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> open;
};

// Like every piece of stand-in state, never destroyed: a worker a test left
// running may still call in while the process runs its exit destructors.
HandleTable &Table() {
    static HandleTable &table = *new HandleTable;
    return table;
}

}  // namespace

thread_local int KernelAllocation::depth = 0;

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    HANDLE handle = object.get();
    HandleTable &table = Table();
    std::lock_guard<std::mutex> hold(table.mutex);
    table.open[handle] = std::move(object);
    return handle;
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle, HandleKind kind) {
    HandleTable &table = Table();
    std::lock_guard<std::mutex> hold(table.mutex);
    auto found = table.open.find(handle);
    if (found == table.open.end() || found->second->kind != kind) return nullptr;
    return found->second;
}

std::shared_ptr<WaitableObject> FindWaitable(HANDLE handle) {
    std::shared_ptr<KernelObject> object = FindHandle(handle, HandleKind::Event);
    if (!object) object = FindHandle(handle, HandleKind::Thread);
    return std::static_pointer_cast<WaitableObject>(object);
}

// Handles a test leaked must not count against the next one. Objects still
// in use (a thread that has not ended) live on until their user lets go.
void ResetHandles() {
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> dropped;
    HandleTable &table = Table();
    {
        std::lock_guard<std::mutex> hold(table.mutex);
        dropped.swap(table.open);
    }
}

}  // namespace detail

bool InsideKernelAllocation() { return detail::KernelAllocation::Active(); }

int OpenKernelHandles() {
    detail::HandleTable &table = detail::Table();
    std::lock_guard<std::mutex> hold(table.mutex);
    return static_cast<int>(table.open.size());
}

}  // namespace standin

// The object's own destructor does what its kind needs (a file closes its
// descriptor); it runs outside the table's lock, and only once nobody uses it.
BOOL WINAPI CloseHandle(HANDLE handle) {
    standin::detail::KernelAllocation kernel;
    std::shared_ptr<standin::detail::KernelObject> closing;
    standin::detail::HandleTable &table = standin::detail::Table();
    {
        std::lock_guard<std::mutex> hold(table.mutex);
        auto found = table.open.find(handle);
        if (found == table.open.end()) return FALSE;
        closing = std::move(found->second);
        table.open.erase(found);
    }
    return TRUE;
}
