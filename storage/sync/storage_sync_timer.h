// Storage::CStorageSyncTimer: the timer queue of one storage service, in which each dirty
// synchroniser has at most one periodic timer.
//
// The queue is created on first use and deleted for good by Uninit (during UnInitialize):
// after that no timer is created again, so nothing can fire while the final syncs run.
//
// Callbacks run on the queue's worker thread. DeleteTimer and Uninit wait for running
// callbacks, and their callers may hold locks of their own (a synchroniser holds its lock while
// it deletes its timer). So a callback must take no lock that a caller of DeleteTimer or Uninit
// may hold, and must not call DeleteTimer or Uninit itself: it would wait for itself.
//
// Locks: `lock_` guards the queue handle and is held only to read or change it, never while a
// callback is awaited, so CreateTimer never waits for a callback. Uninit holds
// `deletion_lock_` from before it takes the queue until the deletion has waited for the
// running callbacks; a DeleteTimer that finds the queue gone or going takes `deletion_lock_`
// to wait for that deletion to end. Order: `deletion_lock_`, then `lock_`.
#pragma once

#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/timerqueue.h"

namespace Storage {

class CStorageSyncTimer : public base::CRefCountedThreadSafe<CStorageSyncTimer> {
 public:
  CStorageSyncTimer() = default;
  ~CStorageSyncTimer() override;

  // Creates the queue once; true when the first attempt has run (even if it failed).
  BOOL LazyInit();
  // A periodic timer whose first expiry and period are `period_ms`; null when there is no
  // queue (never created, or Uninit ran) or the timer could not be created.
  HANDLE CreateTimer(WAITORTIMERCALLBACK callback, void* context, DWORD period_ms);
  // Deletes a timer; returns only once no callback of it runs, also when Uninit deletes the
  // queue meanwhile.
  void DeleteTimer(HANDLE timer);
  // Deletes the queue and all its timers, waiting for running callbacks; from then on no
  // queue is made again. A second call waits for the first one's deletion to end.
  void Uninit();

 private:
  base::CLock deletion_lock_;
  base::CLock lock_;
  HANDLE queue_ GUARDED_BY(lock_) = nullptr;
  volatile LONG initialised_ = 0;  // written under lock_
};

}  // namespace Storage
