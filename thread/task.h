// Thread::CTask: a unit of work posted to a message loop.
//
// Whoever holds a task owns it; posting hands it to the loop, which runs it once on the
// loop's thread and then destroys it, or destroys it without running it when the loop goes
// first. So a task's destructor is where it gives back what it holds, on whichever thread.
#pragma once

namespace Thread {

class CTask {
 public:
  CTask() = default;
  virtual ~CTask() = default;  // slot 0
  CTask(const CTask&) = delete;
  CTask& operator=(const CTask&) = delete;

  virtual void Run() = 0;  // slot 1
};

}  // namespace Thread
