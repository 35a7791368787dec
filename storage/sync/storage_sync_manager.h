// Storage::CStorageSyncManager: the background sync thread of one storage service, on which
// every posted import and sync of the service's synchronisers runs, one after another, in
// posting order. The thread starts on the first post.
#pragma once

#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/types.h"

namespace Storage {

class CStorageSyncBase;
class CStorageSyncThread;

class CStorageSyncManager : public base::CRefCountedThreadSafe<CStorageSyncManager> {
 public:
  CStorageSyncManager();
  ~CStorageSyncManager() override;

  // Creates and starts the sync thread once; TRUE when it runs. A failed start is retried by
  // the next call with a new thread object.
  BOOL EnsureThread();
  // Queue `sync`'s performImport / performSync on the sync thread (the task holds a reference
  // to `sync` until it has run or been discarded). FALSE when the thread cannot run it.
  BOOL PostImport(CStorageSyncBase* sync);
  BOOL PostSync(CStorageSyncBase* sync);
  // Stops the thread after the tasks posted before; waits for it. 0 without a thread.
  BOOL StopThread();

 private:
  BOOL Post(CStorageSyncBase* sync, void (CStorageSyncBase::*operation)());

  base::scoped_refptr<CStorageSyncThread> thread_;
  volatile LONG started_ = 0;
  base::CLock lock_;
};

}  // namespace Storage
