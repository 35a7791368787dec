// Thread::CMessagePumpDefault: sleeps on an auto-reset event (through the sandbox layer when
// it asks for that) that ScheduleWork signals.
#pragma once

#include "base/kernel_event.h"
#include "thread/message_pump.h"

namespace Thread {

class CMessagePumpDefault : public CMessagePump {
 public:
  CMessagePumpDefault();

  void ScheduleWork() override;
  void ScheduleDelayedWork(int64_t delayed_work_time) override;

 protected:
  ~CMessagePumpDefault() override = default;
  void DoRunLoop() override;

 private:
  // Auto-reset: a wake-up that comes while the pump is busy is kept for its next sleep and
  // then used up, so no flag is needed beside it.
  base::CKernelEvent event_;
};

}  // namespace Thread
