#include "thread/message_pump.h"

#include <cmath>

#include "base/time.h"

namespace Thread {

void CMessagePump::Run(CDelegate* delegate) {
  RunState state{delegate, 0, state_ ? state_->run_depth + 1 : 1};
  RunState* const outer = state_;
  state_ = &state;
  // The outer run must get its state back even when a delegate call throws.
  struct Restore {
    RunState*& state;
    RunState* outer;
    ~Restore() { state = outer; }
  } restore{state_, outer};
  DoRunLoop();
}

void CMessagePump::Quit() {
  if (state_) state_->should_quit = 1;
}

int CMessagePump::GetCurrentDelay() const {
  if (delayed_work_time_ == 0) return -1;
  double milliseconds =
      std::ceil(static_cast<double>(delayed_work_time_ - base::MonotonicMicroseconds()) / 1000.0);
  if (milliseconds < 0) return 0;
  if (milliseconds > 0x7FFFFFFF) return 0x7FFFFFFF;
  return static_cast<int>(milliseconds);
}

}  // namespace Thread
