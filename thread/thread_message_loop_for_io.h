// Thread::CThreadMessageLoopForIO: a loop whose pump is CMessagePumpForIO, sleeping on an
// I/O completion port.
#pragma once

#include "thread/message_pump_for_io.h"
#include "thread/thread_message_loop.h"

namespace Thread {

class CThreadMessageLoopForIO : public CThreadMessageLoop {
 public:
  explicit CThreadMessageLoopForIO(const char* name) : CThreadMessageLoop(name, TYPE_IO) {}

  CMessagePumpForIO* pump_io() const { return static_cast<CMessagePumpForIO*>(pump()); }
};

}  // namespace Thread
