#include "thread/message_pump_default.h"

#include "base/time.h"

namespace Thread {

CMessagePumpDefault::CMessagePumpDefault() { event_.Create(FALSE, FALSE); }

void CMessagePumpDefault::ScheduleWork() { event_.Set(); }

void CMessagePumpDefault::ScheduleDelayedWork(int64_t delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
}

void CMessagePumpDefault::DoRunLoop() {
  for (;;) {
    bool did_work = state_->delegate->DoWork();
    if (state_->should_quit) break;
    did_work |= state_->delegate->DoDelayedWork(&delayed_work_time_);
    if (state_->should_quit) break;
    if (did_work) continue;

    did_work = state_->delegate->DoIdleWork();
    if (state_->should_quit) break;
    if (did_work) continue;

    if (delayed_work_time_ == 0) {
      event_.Wait(INFINITE);
    } else {
      int64_t delay_ms = (delayed_work_time_ - base::MonotonicMicroseconds()) / 1000;
      if (delay_ms > 0) {
        event_.Wait(delay_ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(delay_ms));
      } else {
        delayed_work_time_ = 0;
      }
    }
  }
}

}  // namespace Thread
