// Thread::CThreadMessageLoop: the task loop of one thread, driven by a message pump.
//
// Other threads post tasks into the incoming queue; the loop thread swaps the whole incoming
// queue into its work queue when that runs dry and runs the tasks one per DoWork, in posting
// order. The pump is woken only when the incoming queue goes from empty to non-empty, so a
// burst of posts costs one wake-up.
//
// Every loop registers itself with the message-loop manager service under the id of the
// thread that constructs it, so code on that thread finds it with current(). Loops made on a
// thread that has one already (inside a task) take its place until they go; a loop that goes
// hands the registration back to the loop it replaced, whatever order the loops of a thread
// go in, and the thread's first loop leaves none behind.
//
// Thread safety: PostTask from any thread, as long as the loop exists; other threads should
// post through proxy(), which stays safe after the loop is gone. Everything else belongs to
// the loop's thread: construct, run and destroy it there.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "base/lock.h"
#include "base/ref_counted.h"
#include "thread/message_pump.h"
#include "thread/task.h"
#include "thread/thread_message_loop_proxy.h"

namespace Thread {

// A task in a queue. Every task of this system is immediate (no delayed run time) and
// nestable.
struct PendingTask {
  std::unique_ptr<CTask> task;
  int64_t delayed_run_time = 0;
  int sequence_num = 0;
  bool nestable = true;
};

class CThreadMessageLoop : public CMessagePump::CDelegate {
 public:
  // The loop type picks the pump.
  enum Type : DWORD {
    TYPE_DEFAULT = 0,  // CMessagePumpDefault
    TYPE_UI = 1,       // CMessagePumpForUI
    TYPE_IO = 2,       // CMessagePumpForIO
  };

  // `name` (may be null) names the loop in log lines. A registration failure with the
  // manager service is logged and the loop works on, but current() does not find it.
  CThreadMessageLoop(const char* name, DWORD type);
  // Detaches the proxy, destroys every task still queued without running it, unregisters.
  ~CThreadMessageLoop() override;
  CThreadMessageLoop(const CThreadMessageLoop&) = delete;
  CThreadMessageLoop& operator=(const CThreadMessageLoop&) = delete;

  // The loop registered for the calling thread, or null when there is none (or the manager
  // service cannot be reached).
  static CThreadMessageLoop* current();

  // Queues `task` to run on the loop's thread (null is ignored). Any thread.
  void PostTask(std::unique_ptr<CTask> task);
  // Runs tasks until Quit is called from this run (or a task inside it). Runs may nest.
  void Run();
  // Makes the innermost run return once no task is left. Loop thread only.
  void Quit();

  DWORD type() const { return type_; }
  const std::string& name() const { return name_; }
  // Null only when the proxy could not be made (logged).
  base::scoped_refptr<CThreadMessageLoopProxy> proxy() const { return proxy_; }

  // CMessagePump::CDelegate.
  bool DoWork() override;
  bool DoDelayedWork(int64_t* next_delayed_work_time) override;
  bool DoIdleWork() override;

 protected:
  CMessagePump* pump() const { return pump_.get(); }

 private:
  struct RunState {
    int run_depth;
    bool quit_received;
  };

  void ReloadWorkQueue();

  LONG nestable_tasks_allowed_ = 1;  // 0 while a task runs
  const DWORD type_;
  const std::string name_;
  const DWORD thread_id_;  // the one the loop is registered under
  // The loop that was registered for the thread when this one was made (null: none). Loops
  // of one thread form a chain through it, touched on that thread only.
  CThreadMessageLoop* replaced_loop_;
  base::CLock incoming_queue_lock_;
  std::deque<PendingTask> incoming_queue_ GUARDED_BY(incoming_queue_lock_);
  int next_sequence_num_ GUARDED_BY(incoming_queue_lock_) = 0;
  std::deque<PendingTask> work_queue_;
  // Its count is not atomic: the reference is copied and dropped only under
  // incoming_queue_lock_ while other threads may post.
  base::scoped_refptr<CMessagePump> pump_;
  RunState* state_ = nullptr;  // the innermost run
  base::scoped_refptr<CThreadMessageLoopProxy> proxy_;
};

}  // namespace Thread
