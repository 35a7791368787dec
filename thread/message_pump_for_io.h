// Thread::CMessagePumpForIO: sleeps on an I/O completion port (made through the sandbox layer
// when it asks for that). A wake-up is a packet whose completion key is the pump itself; at
// most one is queued at a time, as with the UI pump's work message. Packets with other keys
// have no handler in this system and are dropped.
//
// Thread safety: run and destroy on one thread; ScheduleWork from any thread.
#pragma once

#include "thread/message_pump.h"

namespace Thread {

class CMessagePumpForIO : public CMessagePump {
 public:
  CMessagePumpForIO();

  void ScheduleWork() override;
  void ScheduleDelayedWork(int64_t delayed_work_time) override;

 protected:
  ~CMessagePumpForIO() override;
  void DoRunLoop() override;

 private:
  // Takes one packet, waiting up to `timeout_ms`; true when one was taken.
  bool WaitForIOCompletion(DWORD timeout_ms);

  volatile LONG have_work_ = 0;  // changed with interlocked operations only
  HANDLE port_ = nullptr;
};

}  // namespace Thread
