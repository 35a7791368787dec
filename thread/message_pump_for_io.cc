#include "thread/message_pump_for_io.h"

#include "base/sandbox_routing.h"
#include "browserplatform/synchapi.h"

namespace Thread {

CMessagePumpForIO::CMessagePumpForIO() : port_(base::CreateCompletionPort()) {}

CMessagePumpForIO::~CMessagePumpForIO() {
  if (port_) base::CloseCompletionPort(port_);
}

void CMessagePumpForIO::ScheduleWork() {
  if (InterlockedExchange(&have_work_, 1)) return;  // a wake-up is queued already
  // The pump's address doubles as the overlapped pointer; it is never dereferenced.
  auto* self = reinterpret_cast<OVERLAPPED*>(this);
  if (!base::PostCompletion(port_, 0, reinterpret_cast<ULONG_PTR>(this), self)) {
    // Nothing was queued, so the flag must not claim otherwise.
    InterlockedExchange(&have_work_, 0);
  }
}

void CMessagePumpForIO::ScheduleDelayedWork(int64_t delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
}

void CMessagePumpForIO::DoRunLoop() {
  for (;;) {
    bool more_work_is_plausible = state_->delegate->DoWork();
    if (state_->should_quit) break;
    more_work_is_plausible |= WaitForIOCompletion(0);
    if (state_->should_quit) break;
    more_work_is_plausible |= state_->delegate->DoDelayedWork(&delayed_work_time_);
    if (state_->should_quit) break;
    if (more_work_is_plausible) continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit) break;
    if (more_work_is_plausible) continue;

    int delay = GetCurrentDelay();
    WaitForIOCompletion(delay < 0 ? INFINITE : static_cast<DWORD>(delay));
  }
}

bool CMessagePumpForIO::WaitForIOCompletion(DWORD timeout_ms) {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  if (!base::GetCompletion(port_, &bytes, &key, &overlapped, timeout_ms) && overlapped == nullptr) {
    return false;  // time-out or failure: nothing taken
  }
  if (key == reinterpret_cast<ULONG_PTR>(this)) {
    InterlockedExchange(&have_work_, 0);
  }
  return true;
}

}  // namespace Thread
