// Thread::CThreadMessageLoopForUI: a loop whose pump is CMessagePumpForUI, so that window
// messages of the thread are dispatched between its tasks.
#pragma once

#include "thread/message_pump_for_ui.h"
#include "thread/thread_message_loop.h"

namespace Thread {

class CThreadMessageLoopForUI : public CThreadMessageLoop {
 public:
  explicit CThreadMessageLoopForUI(const char* name) : CThreadMessageLoop(name, TYPE_UI) {}

  CMessagePumpForUI* pump_ui() const { return static_cast<CMessagePumpForUI*>(pump()); }
};

}  // namespace Thread
