// base::CByteLock: a mutex in one byte, for objects that exist by the million (one value object
// per stored key), where a critical section's 64 bytes would outweigh the data it guards; and
// CByteAutoLock, which holds one for a scope.
//
// Not re-entrant. Taking a free lock is one compare-and-swap and releasing it one exchange; a
// thread that finds the lock held marks it contended and sleeps until the holder lets go
// (C++20 atomic wait), so a holder that is descheduled costs its waiters no spinning.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/thread_annotations.h"

namespace base {

class LOCKABLE CByteLock {
 public:
  CByteLock() = default;
  CByteLock(const CByteLock&) = delete;
  CByteLock& operator=(const CByteLock&) = delete;

  void Lock() EXCLUSIVE_LOCK_FUNCTION() {
    uint8_t expected = kFree;
    if (state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      return;
    }
    // From here on the lock is taken as contended, so that its release wakes the next waiter.
    while (state_.exchange(kContended, std::memory_order_acquire) != kFree) {
      state_.wait(kContended, std::memory_order_relaxed);
    }
  }

  void Unlock() UNLOCK_FUNCTION() {
    if (state_.exchange(kFree, std::memory_order_release) == kContended) state_.notify_one();
  }

 private:
  enum : uint8_t { kFree, kHeld, kContended };
  std::atomic<uint8_t> state_{kFree};
};

class SCOPED_LOCKABLE CByteAutoLock {
 public:
  explicit CByteAutoLock(CByteLock& lock) EXCLUSIVE_LOCK_FUNCTION(lock) : lock_(lock) {
    lock_.Lock();
  }
  ~CByteAutoLock() UNLOCK_FUNCTION() { lock_.Unlock(); }
  CByteAutoLock(const CByteAutoLock&) = delete;
  CByteAutoLock& operator=(const CByteAutoLock&) = delete;

 private:
  CByteLock& lock_;
};

}  // namespace base
