#include "storage/sync/storage_sync_thread.h"

namespace Storage {

CStorageSyncThread::CStorageSyncThread() : thread_(std::make_unique<Thread::CThread>(nullptr)) {}

CStorageSyncThread::~CStorageSyncThread() = default;

BOOL CStorageSyncThread::Start() {
  Thread::CThread::Options options;
  options.message_loop_type = 0;  // the default loop
  options.stack_size = 0;
  options.com_init = FALSE;
  options.com_init_flags = 0xFFFFFFFF;
  options.name = nullptr;
  return thread_->StartWithOptions(options);
}

BOOL CStorageSyncThread::PostTask(std::unique_ptr<Thread::CTask> task) {
  base::scoped_refptr<Thread::CThreadMessageLoopProxy> proxy = thread_->message_loop_proxy();
  if (!proxy) return FALSE;
  return proxy->PostTask(std::move(task)) ? TRUE : FALSE;
}

BOOL CStorageSyncThread::Stop() { return thread_->Stop(); }

}  // namespace Storage
