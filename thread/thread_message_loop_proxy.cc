#include "thread/thread_message_loop_proxy.h"

#include "thread/thread_message_loop.h"

namespace Thread {

void CThreadMessageLoopProxy::PostTask(std::unique_ptr<CTask> task) {
  base::CAutoLock lock(lock_);
  if (loop_) {
    loop_->PostTask(std::move(task));
  } else {
    task.reset();
  }
}

void CThreadMessageLoopProxy::WillDestroyCurrentMessageLoop() {
  base::CAutoLock lock(lock_);
  loop_ = nullptr;
}

}  // namespace Thread
