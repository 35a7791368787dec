#include "thread/thread_quit_task.h"

#include "thread/thread_message_loop.h"

namespace Thread {

void CThreadQuitTask::Run() {
  if (CThreadMessageLoop* loop = CThreadMessageLoop::current()) loop->Quit();
}

}  // namespace Thread
