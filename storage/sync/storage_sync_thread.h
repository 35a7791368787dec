// Storage::CStorageSyncThread: the one background thread of a storage service, a
// Thread::CThread with the default loop, no name and no COM initialisation.
#pragma once

#include <memory>

#include "base/ref_counted.h"
#include "thread/task.h"
#include "thread/thread.h"

namespace Storage {

class CStorageSyncThread : public base::CRefCountedThreadSafe<CStorageSyncThread> {
 public:
  CStorageSyncThread();

  BOOL Start();
  // Queues `task` on the thread's loop: TRUE. FALSE, with the task destroyed unrun, when the
  // thread was never started or has stopped: the caller must then run the work elsewhere or
  // do without it.
  BOOL PostTask(std::unique_ptr<Thread::CTask> task);
  // Runs every task posted before, then ends the thread and waits for it. 0 when the thread
  // is not running, or when called on the thread itself.
  BOOL Stop();
  // True on the thread itself.
  bool IsCurrentThread() const;

  // Stops `thread` and drops the reference. On the thread itself, which cannot wait for its
  // own end, a helper thread does both once the task in progress has returned.
  static void StopAndRelease(base::scoped_refptr<CStorageSyncThread> thread);

 private:
  ~CStorageSyncThread() override;

  std::unique_ptr<Thread::CThread> thread_;
};

}  // namespace Storage
