// Files, opened for appending the way the log does, and the module's name.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <mutex>

#include "standin/kernel_objects.h"
#include "standin/resets.h"
#include "standin/standin.h"

using standin::detail::AddHandle;
using standin::detail::FindHandle;
using standin::detail::HandleKind;
using standin::detail::KernelObject;

namespace {

struct FileObject : KernelObject {
    explicit FileObject(int fd) : KernelObject(HandleKind::File), descriptor(fd) {}
    ~FileObject() override { close(descriptor); }
    const int descriptor;
};

int DescriptorOf(HANDLE file) {
    std::shared_ptr<KernelObject> object = FindHandle(file, HandleKind::File);
    return object ? static_cast<FileObject &>(*object).descriptor : -1;
}

const DWORD kInvalidSetFilePointer = 0xFFFFFFFFu;

struct ModuleName {
    std::mutex mutex;
    bool set = false;
    std::string path;
};

ModuleName &Name() {
    static ModuleName &name = *new ModuleName;  // never destroyed; see kernel_objects.cpp
    return name;
}

}  // namespace

// Only the one mode the product uses; anything else fails loudly rather
// than doing something Windows would not.
HANDLE WINAPI CreateFileA(const char *fileName, DWORD access, DWORD, void *, DWORD disposition,
                          DWORD, HANDLE) {
    standin::detail::KernelAllocation kernel;
    if (!fileName || access != GENERIC_WRITE || disposition != OPEN_ALWAYS)
        return INVALID_HANDLE_VALUE;
    int fd = open(fileName, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    return AddHandle(std::make_shared<FileObject>(fd));
}

// Without distanceHigh the distance is a signed 32-bit offset, as on Windows.
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG *distanceHigh, DWORD moveMethod) {
    static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    int fd = DescriptorOf(file);
    if (fd < 0 || moveMethod > FILE_END) return kInvalidSetFilePointer;
    int64_t offset = distanceHigh
                         ? static_cast<int64_t>((static_cast<uint64_t>(*distanceHigh) << 32) |
                                                static_cast<uint32_t>(distance))
                         : distance;
    off_t at = lseek(fd, static_cast<off_t>(offset), kWhence[moveMethod]);
    if (at < 0) return kInvalidSetFilePointer;
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
    return static_cast<DWORD>(at);
}

BOOL WINAPI WriteFile(HANDLE file, const void *buffer, DWORD bytesToWrite, DWORD *bytesWritten,
                      void *overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    int fd = DescriptorOf(file);
    if (fd < 0 || overlapped || (!buffer && bytesToWrite)) return FALSE;
    const char *bytes = static_cast<const char *>(buffer);
    DWORD done = 0;
    while (done < bytesToWrite) {
        ssize_t n = write(fd, bytes + done, bytesToWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<DWORD>(n);
    }
    if (bytesWritten) *bytesWritten = done;
    return done == bytesToWrite ? TRUE : FALSE;
}

// A name that does not fit is cut and the result equals size, as on Vista
// and later (XP left it unterminated).
DWORD WINAPI GetModuleFileNameA(HMODULE, char *fileName, DWORD size) {
    ModuleName &name = Name();
    std::lock_guard<std::mutex> hold(name.mutex);
    if (!name.set || !fileName || size == 0) return 0;
    if (name.path.size() < size) {
        memcpy(fileName, name.path.c_str(), name.path.size() + 1);
        return static_cast<DWORD>(name.path.size());
    }
    memcpy(fileName, name.path.data(), size - 1);
    fileName[size - 1] = '\0';
    return size;
}

namespace standin {

void SetModulePath(const std::string &path) {
    ModuleName &name = Name();
    std::lock_guard<std::mutex> hold(name.mutex);
    name.set = true;
    name.path = path;
}

namespace detail {

void ResetFiles() {
    ModuleName &name = Name();
    std::lock_guard<std::mutex> hold(name.mutex);
    name.set = false;
    name.path.clear();
}

}  // namespace detail
}  // namespace standin
