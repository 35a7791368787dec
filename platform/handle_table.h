// Process-wide table of kernel-object handles.
//
// A HANDLE is an index into this table, never a raw pointer, so a stale, closed or forged
// handle is refused with ERROR_INVALID_HANDLE instead of touching freed memory. Objects are
// shared: an operation that looks a handle up keeps the object alive until it returns, even
// if another thread closes the handle meanwhile (a thread waiting on an event that is closed
// under it goes on waiting, as on Windows).
#pragma once

#include <memory>

#include "browserplatform/types.h"

namespace platform {

enum class ObjectKind {
  kEvent,
  kSemaphore,
  kThread,
  kFile,
  kTimerQueue,
  kTimer,
  kCompletionPort,
  kMessageQueue,  // waitable, but never in the table: a thread's window-message queue
};

class KernelObject {
 public:
  explicit KernelObject(ObjectKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  ObjectKind kind() const { return kind_; }

  // Threads blocked in a wait on this object now (tests); objects nobody waits on say 0.
  virtual size_t CountBlockedWaiters() const { return 0; }

 private:
  const ObjectKind kind_;
};

// Inserts an object; returns a new handle, or nullptr (ERROR_NOT_ENOUGH_MEMORY) when the table
// is full.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// Looks a handle up and checks its kind; null with ERROR_INVALID_HANDLE otherwise.
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle, ObjectKind kind) {
  std::shared_ptr<KernelObject> object = LookupHandle(handle);
  if (!object) return nullptr;
  if (object->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(std::move(object));
}

// Removes a handle and returns its object (the caller drops the last reference outside the
// table's lock); null with ERROR_INVALID_HANDLE for an unknown handle.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// Test seam: the table counts as full (InsertHandle fails with ERROR_NOT_ENOUGH_MEMORY) while
// `limit` or more handles are open, so that tests can make kernel-object creation fail.
// kNoHandleLimit lifts the cap. Any thread.
inline constexpr size_t kNoHandleLimit = SIZE_MAX;
BROWSER_PLATFORM_API void SetHandleLimitForTesting(size_t limit);
// The number of handles open now.
BROWSER_PLATFORM_API size_t OpenHandleCountForTesting();

// Test seam: how many threads are blocked in a wait on the object behind `handle` (a wait
// function on an event, semaphore or thread, GetQueuedCompletionStatus on a port), so that a
// test can see a thread block instead of sleeping; 0 for a bad handle. A waiter whose wait has
// been satisfied no longer counts, even before it has returned.
BROWSER_PLATFORM_API size_t BlockedWaiterCountForTesting(HANDLE handle);

}  // namespace platform
