// Thread::CMessagePump: the wait-and-dispatch engine under a message loop.
//
// The loop hands itself in as the CDelegate; the pump calls DoWork, DoDelayedWork and
// DoIdleWork as long as they report work and sleeps in its own way (an event, the window
// message queue, a completion port) when none does. ScheduleWork wakes it from any thread.
//
// Thread safety: ScheduleWork may be called from any thread; everything else only on the
// thread that runs the pump. The reference count is not atomic: the owning loop holds the
// long-lived reference and changes the count only under its incoming-queue lock when another
// thread wakes the pump.
#pragma once

#include <cstdint>

#include "base/ref_counted.h"
#include "browserplatform/types.h"

namespace Thread {

class CMessagePump : public base::CRefCounted<CMessagePump> {
 public:
  class CDelegate {
   public:
    virtual ~CDelegate() = default;  // slot 0
    // Runs one piece of work; true when there was some.
    virtual bool DoWork() = 0;  // slot 1
    // Runs due delayed work and stores the time of the next (0: none) in
    // *next_delayed_work_time; true when work ran.
    virtual bool DoDelayedWork(int64_t* next_delayed_work_time) = 0;  // slot 2
    // Called when the other two found nothing; true to go round again instead of sleeping.
    virtual bool DoIdleWork() = 0;  // slot 3
  };

  CMessagePump() = default;

  // Runs the loop for `delegate` until Quit is called in this run. Runs may nest: a delegate
  // call may run the pump again, and Quit ends only the innermost run.
  virtual void Run(CDelegate* delegate);
  // Ends the innermost run once the delegate call in progress returns. Pump thread only.
  virtual void Quit();
  // Makes the running pump call DoWork soon. Any thread.
  virtual void ScheduleWork() = 0;
  // Asks for DoDelayedWork at `delayed_work_time` (microseconds of
  // base::MonotonicMicroseconds()). Pump thread only.
  virtual void ScheduleDelayedWork(int64_t delayed_work_time) = 0;

 protected:
  struct RunState {
    CDelegate* delegate;
    LONG should_quit;
    int run_depth;
  };

  ~CMessagePump() override = default;

  virtual void DoRunLoop() = 0;

  // Milliseconds until the delayed-work time, rounded up and at least 0; -1 when there is
  // none.
  int GetCurrentDelay() const;

  int64_t delayed_work_time_ = 0;  // 0: no delayed work
  RunState* state_ = nullptr;      // the innermost run
};

}  // namespace Thread
