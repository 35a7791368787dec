#include "storage/sync/storage_sync_timer.h"

#include <utility>

#include "base/trace.h"
#include "browserplatform/synchapi.h"

namespace Storage {

CStorageSyncTimer::~CStorageSyncTimer() {
  // A service dropped without UnInitialize still must not leave callbacks running.
  if (queue_) DeleteTimerQueueEx(queue_, INVALID_HANDLE_VALUE);
}

BOOL CStorageSyncTimer::LazyInit() {
  base::CPerformanceTrace trace(u"Storage::CStorageSyncTimer::LazyInit");
  if (InterlockedCompareExchange(&initialised_, 0, 0)) return TRUE;
  base::CAutoLock guard(lock_);
  if (!initialised_) {
    queue_ = CreateTimerQueue();
    InterlockedExchange(&initialised_, 1);
  }
  return TRUE;
}

HANDLE CStorageSyncTimer::CreateTimer(WAITORTIMERCALLBACK callback, void* context,
                                      DWORD period_ms) {
  LazyInit();
  base::CAutoLock guard(lock_);
  if (queue_ == nullptr) return nullptr;
  HANDLE timer = nullptr;
  if (!CreateTimerQueueTimer(&timer, queue_, callback, context, period_ms, period_ms, 0)) {
    return nullptr;
  }
  return timer;
}

void CStorageSyncTimer::DeleteTimer(HANDLE timer) {
  LazyInit();
  if (timer == nullptr) return;
  HANDLE queue;
  {
    base::CAutoLock guard(lock_);
    queue = queue_;
  }
  // Not under lock_: the call waits for a running callback.
  if (queue != nullptr) {
    if (DeleteTimerQueueTimer(queue, timer, INVALID_HANDLE_VALUE)) return;
    // Called from the timer's own callback: deleted, and it cannot wait for itself.
    if (GetLastError() == ERROR_IO_PENDING) return;
  }
  // No queue, or Uninit took it before our call reached it: then the timer goes with the
  // queue, and Uninit, which holds deletion_lock_ from before it takes the queue, is the one
  // that waits for its callback. Wait for that deletion to end.
  base::CAutoLock wait(deletion_lock_);
}

void CStorageSyncTimer::Uninit() {
  base::CPerformanceTrace trace(u"Storage::CStorageSyncTimer::Uninit");
  base::CAutoLock deletion(deletion_lock_);
  HANDLE queue;
  {
    base::CAutoLock guard(lock_);
    queue = std::exchange(queue_, nullptr);
    // Also when the queue was never made: none is made after this.
    InterlockedExchange(&initialised_, 1);
  }
  if (queue != nullptr) DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE);
}

}  // namespace Storage
