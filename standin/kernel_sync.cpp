// Locks, events, threads, Sleep and module references.
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <set>
#include <string>
#include <thread>

#include "standin/kernel_objects.h"
#include "standin/resets.h"
#include "standin/standin.h"

using standin::detail::AddHandle;
using standin::detail::FindWaitable;
using standin::detail::HandleKind;
using standin::detail::WaitableObject;

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION), "mutex fits the lock");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION), "mutex alignment");

pthread_mutex_t *MutexIn(CRITICAL_SECTION *lock) {
    return std::launder(reinterpret_cast<pthread_mutex_t *>(lock->opaque));
}

// A thread's run is a manual-reset event that stays clear until the
// routine returns.
struct ThreadObject : WaitableObject {
    ThreadObject() : WaitableObject(HandleKind::Thread, true, false) {}
};

struct EventObject : WaitableObject {
    EventObject(bool manual, bool initial) : WaitableObject(HandleKind::Event, manual, initial) {}
};

// What the new thread owns: its routine and its own reference to the
// thread object, so that an early CloseHandle leaves it something to signal.
struct ThreadStart {
    LPTHREAD_START_ROUTINE routine;
    void *parameter;
    std::shared_ptr<ThreadObject> self;
};

void Signal(WaitableObject &object) {
    {
        std::lock_guard<std::mutex> hold(object.mutex);
        object.signalled = true;
    }
    object.changed.notify_all();
}

void *RunThread(void *raw) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(raw));
    start->routine(start->parameter);
    Signal(*start->self);
    return nullptr;
}

struct SleepLog {
    std::mutex mutex;
    std::vector<DWORD> pauses;
    bool real = true;
    std::function<void(DWORD)> hook;
};

SleepLog &Sleeps() {
    static SleepLog &log = *new SleepLog;  // never destroyed; see kernel_objects.cpp
    return log;
}

// Read relaxed, like the lock's mark below, so that it orders no threads.
std::atomic<void (*)(CRITICAL_SECTION *)> enterLockHook{nullptr};

std::atomic<int> moduleReferences{0};
std::atomic<bool> moduleHandleExFails{false};
std::atomic<bool> createEventFails{false};
std::atomic<bool> createThreadFails{false};
// Not reset: a wait a worker of an earlier test still blocks in counts until it wakes.
std::atomic<int> blockedEventWaits{0};
std::atomic<DWORD> lastEventWaitResult{WAIT_FAILED};

// Every critical section by address: Windows keeps a record per lock
// (its debug information), so deleting one twice or initialising one that
// is still live corrupts that record even when the counts balance.
struct LockRecord {
    std::mutex mutex;
    std::set<const CRITICAL_SECTION *> live;
    std::vector<std::string> misuses;
};

LockRecord &Locks() {
    static LockRecord &record = *new LockRecord;  // never destroyed; see kernel_objects.cpp
    return record;
}

// False when the lock was already live (init) or not live (delete).
bool Track(const CRITICAL_SECTION *lock, bool initialising) {
    standin::detail::KernelAllocation kernel;  // Windows' own record of the lock
    LockRecord &record = Locks();
    std::lock_guard<std::mutex> hold(record.mutex);
    bool wasLive = record.live.count(lock) != 0;
    if (initialising) {
        record.live.insert(lock);
        if (wasLive) record.misuses.push_back("InitializeCriticalSection of a live lock");
        return !wasLive;
    }
    record.live.erase(lock);
    if (!wasLive) record.misuses.push_back("DeleteCriticalSection of a lock that is not live");
    return wasLive;
}

// A word past the mutex says whether the lock is live, for Enter and Leave.
// It is read relaxed: taking the record's mutex there would order every
// thread that takes any lock and hide real races from ThreadSanitizer.
const uint32_t kLiveMark = 0x4c495645u;  // "LIVE"
const size_t kMarkOffset = sizeof(CRITICAL_SECTION) - sizeof(uint32_t);
static_assert(sizeof(pthread_mutex_t) <= kMarkOffset, "the mark lies past the mutex");

uint32_t *MarkIn(CRITICAL_SECTION *lock) {
    return reinterpret_cast<uint32_t *>(lock->opaque + kMarkOffset);
}

bool UsableLock(CRITICAL_SECTION *lock, const char *misuse) {
    if (__atomic_load_n(MarkIn(lock), __ATOMIC_RELAXED) == kLiveMark) return true;
    standin::detail::KernelAllocation kernel;
    LockRecord &record = Locks();
    std::lock_guard<std::mutex> hold(record.mutex);
    record.misuses.push_back(misuse);
    return false;
}

// Stands for the plug-in's own image; every module handle names it.
char moduleImage;

const DWORD kUnchangedRefcount = 0x00000002u;  // GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT

}  // namespace

// ---- critical sections ----

// Windows critical sections may be entered again by their owner.
void WINAPI InitializeCriticalSection(CRITICAL_SECTION *lock) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (lock->opaque) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
    Track(lock, true);
    __atomic_store_n(MarkIn(lock), kLiveMark, __ATOMIC_RELAXED);
}

// On Windows a lock that is not live holds stale debug information, or
// none: entering it corrupts memory or blocks for ever.
void WINAPI EnterCriticalSection(CRITICAL_SECTION *lock) {
    if (!UsableLock(lock, "EnterCriticalSection of a lock that is not live")) return;
    pthread_mutex_lock(MutexIn(lock));
    if (auto hook = enterLockHook.load(std::memory_order_relaxed)) hook(lock);
}

void WINAPI LeaveCriticalSection(CRITICAL_SECTION *lock) {
    if (UsableLock(lock, "LeaveCriticalSection of a lock that is not live"))
        pthread_mutex_unlock(MutexIn(lock));
}

void WINAPI DeleteCriticalSection(CRITICAL_SECTION *lock) {
    if (!Track(lock, false)) return;
    __atomic_store_n(MarkIn(lock), 0u, __ATOMIC_RELAXED);
    pthread_mutex_destroy(MutexIn(lock));
}

// ---- events and threads ----

HANDLE WINAPI CreateEventA(void *, BOOL manualReset, BOOL initialState, const char *) {
    if (createEventFails) return nullptr;
    standin::detail::KernelAllocation kernel;
    return AddHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

BOOL WINAPI SetEvent(HANDLE event) {
    std::shared_ptr<WaitableObject> object = FindWaitable(event);
    if (!object || object->kind != HandleKind::Event) return FALSE;
    Signal(*object);
    return TRUE;
}

// Detached at once: the thread object, not a join, tells when it ended.
HANDLE WINAPI CreateThread(void *, SIZE_T, LPTHREAD_START_ROUTINE routine, void *parameter,
                           DWORD creationFlags, DWORD *threadId) {
    if (!routine || creationFlags != 0) return nullptr;  // no suspended start
    if (createThreadFails) return nullptr;
    standin::detail::KernelAllocation kernel;
    auto self = std::make_shared<ThreadObject>();
    auto *start = new ThreadStart{routine, parameter, self};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunThread, start) != 0) {
        delete start;
        return nullptr;
    }
    pthread_detach(thread);
    static std::atomic<DWORD> nextId{1};
    if (threadId) *threadId = nextId++;
    return AddHandle(self);
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<WaitableObject> object = FindWaitable(handle);
    if (!object) return WAIT_FAILED;
    std::unique_lock<std::mutex> hold(object->mutex);
    const bool onEvent = object->kind == HandleKind::Event;
    const bool blocks = onEvent && !object->signalled;
    if (blocks) ++blockedEventWaits;
    auto isSignalled = [&] { return object->signalled; };
    DWORD result = WAIT_OBJECT_0;
    if (milliseconds == INFINITE) {
        object->changed.wait(hold, isSignalled);
    } else {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        if (!object->changed.wait_until(hold, deadline, isSignalled)) result = WAIT_TIMEOUT;
    }
    if (blocks) --blockedEventWaits;
    if (onEvent) lastEventWaitResult = result;
    if (result == WAIT_OBJECT_0 && !object->manualReset) object->signalled = false;
    return result;
}

// ---- Sleep ----

void WINAPI Sleep(DWORD milliseconds) {
    standin::detail::KernelAllocation records;  // the record of pauses is the stand-in's
    SleepLog &log = Sleeps();
    bool real;
    std::function<void(DWORD)> hook;
    {
        std::lock_guard<std::mutex> hold(log.mutex);
        log.pauses.push_back(milliseconds);
        real = log.real;
        hook = log.hook;
    }
    if (hook) hook(milliseconds);  // outside the lock: a hook may call back in
    if (real) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- module references ----

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) { return TRUE; }

BOOL WINAPI GetModuleHandleExA(DWORD flags, const char *, HMODULE *module) {
    if (!module) return FALSE;
    if (moduleHandleExFails) {
        *module = nullptr;
        return FALSE;
    }
    *module = &moduleImage;
    if (!(flags & kUnchangedRefcount)) ++moduleReferences;
    return TRUE;
}

// The count may go below zero: a reference given back twice shows up there.
BOOL WINAPI FreeLibrary(HMODULE module) {
    if (!module) return FALSE;
    --moduleReferences;
    return TRUE;
}

// On Windows this never returns: it unmaps the module and ends the thread.
// Here it gives the reference back and returns, and the caller's own return
// (the next statement of every thread routine that calls it) ends the thread.
void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD) { FreeLibrary(module); }

// ---- controls ----

namespace standin {

void SetRealSleep(bool really) {
    SleepLog &log = Sleeps();
    std::lock_guard<std::mutex> hold(log.mutex);
    log.real = really;
}

std::vector<DWORD> SleepsRecorded() {
    SleepLog &log = Sleeps();
    std::lock_guard<std::mutex> hold(log.mutex);
    return log.pauses;
}

void SetSleepHook(std::function<void(DWORD)> hook) {
    SleepLog &log = Sleeps();
    std::lock_guard<std::mutex> hold(log.mutex);
    log.hook = std::move(hook);
}

void SetEnterLockHook(void (*hook)(CRITICAL_SECTION *)) {
    enterLockHook.store(hook, std::memory_order_relaxed);
}

int ModuleReferences() { return moduleReferences.load(); }

void FailModuleHandleEx(bool fail) { moduleHandleExFails = fail; }

void FailCreateEvent(bool fail) { createEventFails = fail; }

void FailCreateThread(bool fail) { createThreadFails = fail; }

int BlockedEventWaits() { return blockedEventWaits.load(); }

DWORD LastEventWaitResult() { return lastEventWaitResult.load(); }

int LiveCriticalSections() {
    LockRecord &record = Locks();
    std::lock_guard<std::mutex> hold(record.mutex);
    return static_cast<int>(record.live.size());
}

std::vector<std::string> CriticalSectionMisuses() {
    LockRecord &record = Locks();
    std::lock_guard<std::mutex> hold(record.mutex);
    return record.misuses;
}

namespace detail {

void ResetSync() {
    {
        SleepLog &log = Sleeps();
        std::lock_guard<std::mutex> hold(log.mutex);
        log.pauses.clear();
        log.real = true;
        log.hook = nullptr;
    }
    enterLockHook.store(nullptr, std::memory_order_relaxed);
    moduleReferences = 0;
    moduleHandleExFails = false;
    createEventFails = false;
    createThreadFails = false;
    lastEventWaitResult = WAIT_FAILED;
    LockRecord &locks = Locks();
    std::lock_guard<std::mutex> hold(locks.mutex);
    locks.live.clear();
    locks.misuses.clear();
}

}  // namespace detail
}  // namespace standin
