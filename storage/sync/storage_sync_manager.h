// Storage::CStorageSyncManager: the background sync thread of one storage service, on which
// every posted import and sync of the service's synchronisers runs, one after another, in
// posting order. The thread starts on the first post.
//
// Lifetime: the service, its creater and every synchroniser hold the manager with counted
// references, so a host may release the service without UnInitialize and keep using a storage.
// The last release stops the thread: at once when it happens on another thread, and through a
// short-lived helper thread when it happens on the sync thread itself (a task that held the
// last synchroniser), which cannot wait for its own end.
//
// Thread safety: any thread. `lock_` guards the thread object; `started_` is read without it
// first (double-checked).
#pragma once

#include <atomic>

#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/types.h"

namespace Storage {

class CStorageSyncBase;
class CStorageSyncThread;

class CStorageSyncManager : public base::CRefCountedThreadSafe<CStorageSyncManager> {
 public:
  CStorageSyncManager();

  // Creates and starts the sync thread once; TRUE when it runs. A failed start is retried by
  // the next call with a new thread object.
  BOOL EnsureThread();
  // Queue `sync`'s performImport / performSync on the sync thread (the task holds a reference
  // to `sync` until it has run or been discarded). FALSE when the thread cannot run it: it
  // could not start, or it has been stopped.
  BOOL PostImport(CStorageSyncBase* sync);
  BOOL PostSync(CStorageSyncBase* sync);
  // Stops the thread after the tasks posted before; waits for it. 0 without a thread, or
  // when called on the sync thread itself.
  BOOL StopThread();

 private:
  ~CStorageSyncManager() override;

  BOOL Post(CStorageSyncBase* sync, void (CStorageSyncBase::*operation)());
  base::scoped_refptr<CStorageSyncThread> thread();

  base::CLock lock_;
  base::scoped_refptr<CStorageSyncThread> thread_ GUARDED_BY(lock_);
  std::atomic<LONG> started_{0};
};

}  // namespace Storage
