#include "thread/thread_message_loop_proxy.h"

#include "thread/thread_message_loop.h"

namespace Thread {

bool CThreadMessageLoopProxy::PostTask(std::unique_ptr<CTask> task) {
  base::CAutoLock lock(lock_);
  if (!loop_ || !task) return false;  // the task goes with this frame
  loop_->PostTask(std::move(task));
  return true;
}

void CThreadMessageLoopProxy::WillDestroyCurrentMessageLoop() {
  base::CAutoLock lock(lock_);
  loop_ = nullptr;
}

}  // namespace Thread
