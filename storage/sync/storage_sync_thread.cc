#include "storage/sync/storage_sync_thread.h"

#include <utility>

#include "base/logging.h"
#include "browserplatform/handleapi.h"
#include "browserplatform/process.h"

namespace Storage {
namespace {

unsigned StopAndReleaseMain(void* argument) {
  // Joins the sync thread, which is no longer this one, then frees it here.
  std::unique_ptr<base::scoped_refptr<CStorageSyncThread>> thread(
      static_cast<base::scoped_refptr<CStorageSyncThread>*>(argument));
  (*thread)->Stop();
  return 0;
}

}  // namespace

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

bool CStorageSyncThread::IsCurrentThread() const {
  return thread_->thread_id() != 0 && thread_->thread_id() == GetCurrentThreadId();
}

void CStorageSyncThread::StopAndRelease(base::scoped_refptr<CStorageSyncThread> thread) {
  if (!thread) return;
  if (!thread->IsCurrentThread()) {
    thread->Stop();
    return;
  }
  auto handed_over = std::make_unique<base::scoped_refptr<CStorageSyncThread>>(std::move(thread));
  uintptr_t helper = _beginthreadex(nullptr, 0, &StopAndReleaseMain, handed_over.get(), 0, nullptr);
  if (helper != 0) {
    handed_over.release();  // the helper's now
    CloseHandle(reinterpret_cast<HANDLE>(helper));
    return;
  }
  // Without a helper the thread is told to end, and its object is left behind: freeing it here
  // would pull the loop from under the task that is running.
  base::Log(base::kLogLevelError, base::kLogCategoryNone,
            u"sync thread left running: no thread to stop it (%u)", GetLastError());
  (*handed_over)->thread_->StopSoon();
  handed_over.release();
}

}  // namespace Storage
