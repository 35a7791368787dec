// The object model behind WaitForSingleObject and WaitForMultipleObjects.
//
// One process-wide dispatcher mutex guards the state of every waitable object. That makes a
// wait-all simple and atomic: under the one lock a waiter checks all of its objects and, if
// every one is signalled, takes them all before anyone else can look; it never holds part of
// them while it blocks.
//
// A waiter that has to block queues itself on each of its objects. As on Windows, the thread
// that signals an object completes the waits it now satisfies, oldest first, and then wakes
// those waiters through their own condition variables. So a waiter is released even if the
// object is reset right after the signal, and an auto-reset event or a semaphore count goes to
// exactly one waiter.
//
// Invariant (under the dispatcher mutex): no queued waiter is satisfiable. Only a signal can
// break it, and the signal restores it before the lock is released.
//
// Contention on the one lock is acceptable: the system waits on a handful of objects, and the
// hold times are a few comparisons.
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/handle_table.h"

namespace platform {

std::mutex& DispatcherMutex();

struct WaitBlock;  // A blocked waiter; see waitable.cc.

// A kernel object that can be waited for (event, semaphore, thread).
class Waitable : public KernelObject {
 public:
  explicit Waitable(ObjectKind kind) : KernelObject(kind) {}

  // Both require DispatcherMutex().
  virtual bool IsSignaled() const = 0;
  // Takes what a satisfied wait takes (an auto-reset event's signal, a semaphore count).
  virtual void Acquire() = 0;

  // Queue of blocked waiters, oldest first; DispatcherMutex() held.
  void AddWaiter(WaitBlock* waiter);
  void RemoveWaiter(WaitBlock* waiter);

  // Takes DispatcherMutex().
  size_t CountBlockedWaiters() const override;

 protected:
  // Call with DispatcherMutex() held whenever the object may have become signalled.
  void SatisfyWaiters();

 private:
  std::vector<WaitBlock*> waiters_;  // Guarded by DispatcherMutex().
};

// The waitable object behind a handle; null with ERROR_INVALID_HANDLE for a handle that is
// not open or names an object that cannot be waited on.
std::shared_ptr<Waitable> LookupWaitable(HANDLE handle);

// Waits for any (or all) of `objects` for up to `milliseconds` (INFINITE: no limit) and
// returns WAIT_OBJECT_0 + index (0 for a wait-all) or WAIT_TIMEOUT. The caller has checked
// the arguments: 1 to MAXIMUM_WAIT_OBJECTS objects, none twice in a wait-all. Must not be
// called with DispatcherMutex() held.
DWORD WaitForObjects(std::span<const std::shared_ptr<Waitable>> objects, bool wait_all,
                     DWORD milliseconds);

}  // namespace platform
