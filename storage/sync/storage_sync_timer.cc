#include "storage/sync/storage_sync_timer.h"

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
  HANDLE queue;
  {
    base::CAutoLock guard(lock_);
    queue = queue_;
  }
  // Not under our lock: waiting for a callback while holding it could block Uninit.
  if (queue != nullptr && timer != nullptr) {
    DeleteTimerQueueTimer(queue, timer, INVALID_HANDLE_VALUE);
  }
}

void CStorageSyncTimer::Uninit() {
  base::CPerformanceTrace trace(u"Storage::CStorageSyncTimer::Uninit");
  HANDLE queue;
  {
    base::CAutoLock guard(lock_);
    queue = queue_;
    queue_ = nullptr;
  }
  if (queue != nullptr) DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE);
}

}  // namespace Storage
