// Thread::CThreadMessageLoopProxy: a counted handle through which any thread posts to a loop,
// and which stays safe to use after the loop is gone: a post then destroys its task at once,
// on the posting thread, without running it.
//
// Thread safety: every operation from any thread. The lock orders a post against the loop's
// destruction: a post either reaches a live loop or destroys the task.
#pragma once

#include <memory>

#include "base/lock.h"
#include "base/ref_counted.h"
#include "thread/task.h"

namespace Thread {

class CThreadMessageLoop;

class CThreadMessageLoopProxy : public base::CRefCountedThreadSafe<CThreadMessageLoopProxy> {
 public:
  // `loop` must call WillDestroyCurrentMessageLoop before it is destroyed.
  explicit CThreadMessageLoopProxy(CThreadMessageLoop* loop) : loop_(loop) {}

  // True when `task` was queued on the live loop. False when the loop is gone (the task is
  // destroyed here, unrun) or `task` is null.
  bool PostTask(std::unique_ptr<CTask> task);

  // Called by the loop as it starts to go; later posts are discarded.
  void WillDestroyCurrentMessageLoop();

 private:
  ~CThreadMessageLoopProxy() override = default;

  base::CLock lock_;
  CThreadMessageLoop* loop_ GUARDED_BY(lock_);
};

}  // namespace Thread
