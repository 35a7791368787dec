#include "thread/message_pump.h"

#include <cmath>

#include "base/time.h"
#include "thread/scoped_run_state.h"

namespace Thread {

void CMessagePump::Run(CDelegate* delegate) {
  RunState state{delegate, 0, state_ ? state_->run_depth + 1 : 1};
  CScopedRunState<RunState> scope(state_, &state);
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
