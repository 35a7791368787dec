// base::CLock: a critical section (re-entrant for the thread that holds it, spin count 2000),
// and CAutoLock, which holds one for a scope.
#pragma once

#include "base/thread_annotations.h"
#include "browserplatform/synchapi.h"

namespace base {

class LOCKABLE CLock {
 public:
  // A failed initialisation is logged ("assert;", level 64) and the last error kept; the lock
  // is still usable, as the platform's critical sections cannot fail to work once created.
  CLock();
  ~CLock();
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;

  void Lock() EXCLUSIVE_LOCK_FUNCTION();
  // True when the calling thread now holds the lock; false at once when another thread does.
  bool TryLock() EXCLUSIVE_TRYLOCK_FUNCTION(true);
  void Unlock() UNLOCK_FUNCTION();

 private:
  CRITICAL_SECTION section_;
};

class SCOPED_LOCKABLE CAutoLock {
 public:
  explicit CAutoLock(CLock& lock) EXCLUSIVE_LOCK_FUNCTION(lock) : lock_(lock) { lock_.Lock(); }
  ~CAutoLock() UNLOCK_FUNCTION() { lock_.Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CLock& lock_;
};

}  // namespace base
