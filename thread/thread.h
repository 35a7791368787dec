// Thread::CThread: a named thread that runs a message loop until it is stopped.
//
// Lifecycle: created -> started (StartWithOptions returned 1: the loop exists) -> stopping
// (StopSoon posted the quit task) -> stopped (Stop joined the thread); it may then be started
// again. The loop lives exactly as long as the thread procedure; the proxy the thread hands
// out may outlive it, after which posts are discarded.
//
// Thread safety: StartWithOptions, Stop and the destructor belong to one controlling thread,
// not the thread itself. StopSoon and message_loop_proxy() may be called from any thread once
// StartWithOptions has returned.
#pragma once

#include <atomic>

#include "base/ref_counted.h"
#include "browserplatform/types.h"
#include "thread/thread_message_loop.h"
#include "thread/thread_message_loop_proxy.h"

namespace base {
class CKernelEvent;
}

namespace Thread {

class CThread {
 public:
  // Start options, fields in their historical order.
  struct Options {
    DWORD message_loop_type = CThreadMessageLoop::TYPE_DEFAULT;  // 1 UI, 2 I/O, else default
    DWORD stack_size = 0;                                        // bytes; 0: the default
    // COM initialisation of the new thread for the life of its loop, with these COINIT flags;
    // 0xFFFFFFFF asks for OLE, which is the single-threaded apartment.
    BOOL com_init = FALSE;
    DWORD com_init_flags = 0;
    const char* name = nullptr;  // replaces the constructor's name when not null
  };

  // `name` (null: none) is copied, cut to 63 characters.
  explicit CThread(const char* name);
  // Stops the thread if it still runs and waits for it. Must not run on the thread itself
  // while the thread procedure still uses the object.
  virtual ~CThread();  // slot 0
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;

  // Starts the thread and returns 1 once its loop exists (a task posted right after runs);
  // 0 when the thread cannot be created (logged) or it is started already.
  BOOL StartWithOptions(const Options& options);
  // Posts the quit task, waits for the thread to end (every task posted before has run) and
  // closes its handle: 1. 0 without waiting when the thread is not started or another stop
  // is under way, or when called on the thread itself.
  BOOL Stop();
  // Posts the quit task without waiting: 1; 0 when a stop is under way already (a quit task
  // was posted and Stop has not completed) or there is no loop.
  BOOL StopSoon();

  // The proxy of the loop the thread runs (or ran); null before the first start.
  base::scoped_refptr<CThreadMessageLoopProxy> message_loop_proxy() const { return proxy_; }
  DWORD thread_id() const { return thread_id_; }
  const char* thread_name() const { return name_; }

 protected:
  // Runs `loop` until it quits, on the new thread.
  virtual void Run(CThreadMessageLoop* loop);  // slot 1

 private:
  struct StartupData {
    Options options;
    base::CKernelEvent* event;  // signalled once the loop exists
  };

  static unsigned ThreadMain(void* argument);
  // Waits for the ended thread and closes its handle.
  void Join();

  std::atomic<LONG> stopping_{0};
  std::atomic<bool> started_{false};
  // Valid from the start until the new thread signals the start-up event; only that thread
  // reads it.
  StartupData* startup_data_ = nullptr;
  std::atomic<CThreadMessageLoop*> message_loop_{nullptr};  // owned by the thread procedure
  base::scoped_refptr<CThreadMessageLoopProxy> proxy_;
  DWORD thread_id_ = 0;
  HANDLE thread_ = INVALID_HANDLE_VALUE;
  char name_[64] = {};
};

}  // namespace Thread
