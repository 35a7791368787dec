// Thread::CThreadQuitTask: ends the run of the loop it runs on once that loop is idle.
#pragma once

#include "thread/task.h"

namespace Thread {

class CThreadQuitTask : public CTask {
 public:
  // Finds the calling thread's loop through the message-loop manager and asks its innermost
  // run to quit; the tasks posted before this one have run by then, and the loop still runs
  // those queued behind it before it goes idle and returns. Without a registered loop nothing
  // happens.
  void Run() override;
};

}  // namespace Thread
