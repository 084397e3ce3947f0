// orbel_platform.h: the few kernel services the reader needs, in the shape of
// the Windows calls it was designed around, so that the reader's code reads
// the same on every platform.
//
// Mutexes behave like Windows mutex objects: recursive for the owning thread,
// released only by their owner, and every wait is bounded. A Windows build
// passes these calls to the kernel's own (a handle is then the kernel's
// handle); on Linux they are built on std::mutex and std::condition_variable.
// The header never includes <windows.h>: the names live in orbel::platform
// and callers name them with it.
//
// Thread safety: every function may be called from any thread. A handle must
// stay open while any thread waits on it or holds it.
#pragma once

#include <cstdint>

namespace orbel {
namespace platform {

struct MutexObject;
using MutexHandle = MutexObject*;

// A new unowned, unnamed mutex. The arguments keep the kernel call's shape:
// security attributes must be null, initial ownership false, the name null or
// empty (named mutexes are not supported). Answers null when the arguments ask
// for something unsupported or the object cannot be made.
MutexHandle CreateMutexA(const void* securityAttributes, bool initialOwner, const char* name);

// Waits at most timeoutMs milliseconds for the mutex. Answers true when the
// calling thread now holds it (once more, if it held it already); false when
// the wait expired or the handle is null. On false the caller holds nothing
// and must not release.
bool WaitForSingleObject(MutexHandle mutex, std::uint32_t timeoutMs);

// Gives up one hold of the mutex. Answers false, and changes nothing, when
// the calling thread does not hold it.
bool ReleaseMutex(MutexHandle mutex);

// Frees the mutex. It must not be held or waited for any more.
void CloseHandle(MutexHandle mutex);

// Suspends the calling thread for at least ms milliseconds.
void Sleep(std::uint32_t ms);

// Milliseconds of a clock that advances with elapsed wall time and never
// jumps (not process time, not calendar time).
std::int64_t MonotonicMilliSeconds();

// Holds a mutex for a scope when the bounded wait succeeds. owns() tells
// whether it did; the destructor releases only what was taken.
class ScopedWait {
 public:
  ScopedWait(MutexHandle mutex, std::uint32_t timeoutMs)
      : mMutex(mutex), mOwns(WaitForSingleObject(mutex, timeoutMs)) {}
  ScopedWait(const ScopedWait&) = delete;
  ScopedWait& operator=(const ScopedWait&) = delete;
  ~ScopedWait() {
    if (mOwns) ReleaseMutex(mMutex);
  }
  bool owns() const { return mOwns; }

 private:
  MutexHandle mMutex;
  bool mOwns;
};

}  // namespace platform
}  // namespace orbel
