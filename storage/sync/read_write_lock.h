// Storage::CReadWriteLock: the reader/writer lock of the key-value, key-value-ex and icon
// caches.
//
// State lives in one 32-bit word changed only by compare-and-swap:
//   bits  0-10  active readers      bits 11-21  queued readers
//   bit   22    writer              bit  23     reserved (0)
//   bits 24-30  queued writers      bit  31     writer pending (new readers must queue)
// Each count changes inside its own bits; no carry or borrow reaches a neighbour.
//
// Uncontended acquire and release are one compare-and-swap each and no kernel call. Waiters
// register in the word, then sleep on two semaphores: readers on the shared gate, writers on
// both gates at once (a wait-all). A release hands one queued writer a count on the exclusive
// gate and every queued reader (plus that writer) a count on the shared gate; they all retry,
// the first compare-and-swap wins and the others register again. A queued writer holds new
// readers back through the writer-pending bit.
//
// Limits: 2047 active and 2047 queued readers, 127 queued writers. Every caller in the system
// uses the scoped guards, which wait without time-out.
//
// Without gates: when a semaphore cannot be created (a full handle table), the constructor
// logs it ("assert;", level 64) and the lock works as one critical section instead. Every
// holder, shared or exclusive, then holds it alone: readers no longer overlap, but exclusion
// stays exact and a waiter blocks instead of spinning. In that mode a finite time-out is not
// waited out (a contended acquire with one fails at once), and the state word shows the
// holders only: nobody registers as waiting.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/lock.h"
#include "base/thread_annotations.h"
#include "browserplatform/types.h"

namespace Storage {

class LOCKABLE CReadWriteLock {
 public:
  CReadWriteLock();
  ~CReadWriteLock();
  CReadWriteLock(const CReadWriteLock&) = delete;
  CReadWriteLock& operator=(const CReadWriteLock&) = delete;

  // True when the lock is held; false only after `timeout_ms` ran out (INFINITE: never).
  bool AcquireShared(DWORD timeout_ms) SHARED_TRYLOCK_FUNCTION(true);
  bool AcquireExclusive(DWORD timeout_ms) EXCLUSIVE_TRYLOCK_FUNCTION(true);
  void ReleaseShared() SHARED_UNLOCK_FUNCTION();
  void ReleaseExclusive() UNLOCK_FUNCTION();

  uint32_t state_for_testing() const { return state_.load(std::memory_order_acquire); }

 private:
  void Wake(uint32_t old_state);
  // The lock without gates: `serial_` held for every holder, from the acquire to the release
  // (across calls, which the analysis cannot follow).
  bool AcquireAlone(DWORD timeout_ms, bool exclusive) NO_THREAD_SAFETY_ANALYSIS;
  void ReleaseAlone(bool exclusive) NO_THREAD_SAFETY_ANALYSIS;

  std::atomic<uint32_t> state_{0};
  HANDLE shared_gate_ = nullptr;
  HANDLE exclusive_gate_ = nullptr;
  bool without_gates_ = false;  // set by the constructor only
  base::CLock serial_;
};

// Without a time-out the acquire always succeeds, which the analysis cannot see.
class SCOPED_LOCKABLE CSharedLockGuard {
 public:
  explicit CSharedLockGuard(CReadWriteLock& lock)
      SHARED_LOCK_FUNCTION(lock) NO_THREAD_SAFETY_ANALYSIS : lock_(lock) {
    lock_.AcquireShared(INFINITE);
  }
  ~CSharedLockGuard() UNLOCK_FUNCTION() NO_THREAD_SAFETY_ANALYSIS { lock_.ReleaseShared(); }
  CSharedLockGuard(const CSharedLockGuard&) = delete;
  CSharedLockGuard& operator=(const CSharedLockGuard&) = delete;

 private:
  CReadWriteLock& lock_;
};

class SCOPED_LOCKABLE CExclusiveLockGuard {
 public:
  explicit CExclusiveLockGuard(CReadWriteLock& lock)
      EXCLUSIVE_LOCK_FUNCTION(lock) NO_THREAD_SAFETY_ANALYSIS : lock_(lock) {
    lock_.AcquireExclusive(INFINITE);
  }
  ~CExclusiveLockGuard() UNLOCK_FUNCTION() NO_THREAD_SAFETY_ANALYSIS { lock_.ReleaseExclusive(); }
  CExclusiveLockGuard(const CExclusiveLockGuard&) = delete;
  CExclusiveLockGuard& operator=(const CExclusiveLockGuard&) = delete;

 private:
  CReadWriteLock& lock_;
};

}  // namespace Storage
