#include "storage/sync/storage_sync_manager.h"

#include <utility>

#include "storage/sync/storage_sync_base.h"
#include "storage/sync/storage_sync_thread.h"
#include "thread/ptr_task.h"

namespace Storage {

CStorageSyncManager::CStorageSyncManager() = default;

CStorageSyncManager::~CStorageSyncManager() {
  base::scoped_refptr<CStorageSyncThread> thread;
  {
    base::CAutoLock guard(lock_);
    thread.swap(thread_);
  }
  // After UnInitialize the thread has stopped already and this does nothing.
  if (thread) CStorageSyncThread::StopAndRelease(std::move(thread));
}

BOOL CStorageSyncManager::EnsureThread() {
  if (started_.load(std::memory_order_acquire)) return TRUE;
  base::CAutoLock guard(lock_);
  if (!started_.load(std::memory_order_relaxed)) {
    // A failed start is retried by the next post with a new thread object.
    thread_ = base::scoped_refptr<CStorageSyncThread>(new CStorageSyncThread);
    if (thread_->Start()) started_.store(1, std::memory_order_release);
  }
  return started_.load(std::memory_order_relaxed) ? TRUE : FALSE;
}

BOOL CStorageSyncManager::PostImport(CStorageSyncBase* sync) {
  return Post(sync, &CStorageSyncBase::performImport);
}

BOOL CStorageSyncManager::PostSync(CStorageSyncBase* sync) {
  return Post(sync, &CStorageSyncBase::performSync);
}

BOOL CStorageSyncManager::Post(CStorageSyncBase* sync, void (CStorageSyncBase::*operation)()) {
  if (sync == nullptr || !EnsureThread()) return FALSE;
  base::scoped_refptr<CStorageSyncThread> thread = this->thread();
  if (!thread) return FALSE;
  return thread->PostTask(std::make_unique<Thread::CPtrTask<CStorageSyncBase>>(sync, operation));
}

BOOL CStorageSyncManager::StopThread() {
  base::scoped_refptr<CStorageSyncThread> thread = this->thread();
  return thread ? thread->Stop() : FALSE;
}

base::scoped_refptr<CStorageSyncThread> CStorageSyncManager::thread() {
  base::CAutoLock guard(lock_);
  return thread_;
}

}  // namespace Storage
