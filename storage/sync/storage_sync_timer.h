// Storage::CStorageSyncTimer: the timer queue of one storage service, in which each dirty
// synchroniser has at most one periodic timer.
//
// The queue is created on first use and deleted for good by Uninit (during UnInitialize):
// after that no timer is created again, so nothing can fire while the final syncs run.
// Timer callbacks run on the queue's worker thread; they must take no lock that a caller of
// DeleteTimer may hold, because DeleteTimer waits for a running callback to finish.
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
  // Deletes a timer; returns only after a running callback of it has finished.
  void DeleteTimer(HANDLE timer);
  // Deletes the queue and all its timers, waiting for running callbacks. Harmless twice.
  void Uninit();

 private:
  HANDLE queue_ = nullptr;
  volatile LONG initialised_ = 0;
  base::CLock lock_;
};

}  // namespace Storage
