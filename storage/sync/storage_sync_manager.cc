#include "storage/sync/storage_sync_manager.h"

#include "browserplatform/synchapi.h"
#include "storage/sync/storage_sync_base.h"
#include "storage/sync/storage_sync_thread.h"
#include "thread/ptr_task.h"

namespace Storage {

CStorageSyncManager::CStorageSyncManager() = default;

CStorageSyncManager::~CStorageSyncManager() = default;

BOOL CStorageSyncManager::EnsureThread() {
  if (InterlockedCompareExchange(&started_, 0, 0)) return TRUE;
  base::CAutoLock guard(lock_);
  if (!started_) {
    // A failed start is retried by the next post with a new thread object.
    thread_ = base::scoped_refptr<CStorageSyncThread>(new CStorageSyncThread);
    if (thread_ && thread_->Start()) InterlockedExchange(&started_, 1);
  }
  return started_ ? TRUE : FALSE;
}

BOOL CStorageSyncManager::PostImport(CStorageSyncBase* sync) {
  return Post(sync, &CStorageSyncBase::performImport);
}

BOOL CStorageSyncManager::PostSync(CStorageSyncBase* sync) {
  return Post(sync, &CStorageSyncBase::performSync);
}

BOOL CStorageSyncManager::Post(CStorageSyncBase* sync, void (CStorageSyncBase::*operation)()) {
  if (sync == nullptr || !EnsureThread()) return FALSE;
  base::scoped_refptr<CStorageSyncThread> thread;
  {
    base::CAutoLock guard(lock_);
    thread = thread_;
  }
  if (!thread) return FALSE;
  return thread->PostTask(std::make_unique<Thread::CPtrTask<CStorageSyncBase>>(sync, operation));
}

BOOL CStorageSyncManager::StopThread() {
  base::scoped_refptr<CStorageSyncThread> thread;
  {
    base::CAutoLock guard(lock_);
    thread = thread_;
  }
  return thread ? thread->Stop() : FALSE;
}

}  // namespace Storage
