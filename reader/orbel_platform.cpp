#include "orbel_platform.h"

#include <chrono>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#endif

namespace orbel {
namespace platform {

namespace {
bool IsSupported(const void* securityAttributes, bool initialOwner, const char* name) {
  return securityAttributes == nullptr && !initialOwner && (name == nullptr || name[0] == '\0');
}
}  // namespace

#if defined(_WIN32)

// A MutexHandle is the kernel's HANDLE itself; MutexObject is never defined.
namespace {
HANDLE Kernel(MutexHandle mutex) { return reinterpret_cast<HANDLE>(mutex); }
}  // namespace

MutexHandle CreateMutexA(const void* securityAttributes, bool initialOwner, const char* name) {
  if (!IsSupported(securityAttributes, initialOwner, name)) return nullptr;
  // An empty name makes an unnamed mutex, as a null one does.
  return reinterpret_cast<MutexHandle>(::CreateMutexA(nullptr, FALSE, nullptr));
}

bool WaitForSingleObject(MutexHandle mutex, std::uint32_t timeoutMs) {
  if (mutex == nullptr) return false;
  // WAIT_ABANDONED: a thread ended while holding it; the caller holds it now.
  const DWORD result = ::WaitForSingleObject(Kernel(mutex), timeoutMs);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

bool ReleaseMutex(MutexHandle mutex) {
  if (mutex == nullptr) return false;
  return ::ReleaseMutex(Kernel(mutex)) != FALSE;
}

void CloseHandle(MutexHandle mutex) {
  if (mutex != nullptr) ::CloseHandle(Kernel(mutex));
}

void Sleep(std::uint32_t ms) { ::Sleep(ms); }

#else

struct MutexObject {
  std::mutex guard;  // protects owner and depth
  std::condition_variable released;
  std::thread::id owner;  // default id: nobody
  std::uint32_t depth = 0;
};

MutexHandle CreateMutexA(const void* securityAttributes, bool initialOwner, const char* name) {
  if (!IsSupported(securityAttributes, initialOwner, name)) return nullptr;
  return new (std::nothrow) MutexObject();
}

bool WaitForSingleObject(MutexHandle mutex, std::uint32_t timeoutMs) {
  if (mutex == nullptr) return false;
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex->guard);
  if (mutex->depth > 0 && mutex->owner == self) {
    ++mutex->depth;
    return true;
  }
  const bool free = mutex->released.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                             [mutex] { return mutex->depth == 0; });
  if (!free) return false;
  mutex->owner = self;
  mutex->depth = 1;
  return true;
}

bool ReleaseMutex(MutexHandle mutex) {
  if (mutex == nullptr) return false;
  std::unique_lock<std::mutex> lock(mutex->guard);
  if (mutex->depth == 0 || mutex->owner != std::this_thread::get_id()) return false;
  if (--mutex->depth == 0) {
    mutex->owner = std::thread::id();
    lock.unlock();
    mutex->released.notify_one();
  }
  return true;
}

void CloseHandle(MutexHandle mutex) { delete mutex; }

void Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#endif

// steady_clock is QueryPerformanceCounter on Windows, CLOCK_MONOTONIC on Linux.
std::int64_t MonotonicMilliSeconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace platform
}  // namespace orbel
