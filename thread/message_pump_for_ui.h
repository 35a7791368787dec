// Thread::CMessagePumpForUI: sleeps in the thread's window-message queue and dispatches
// window messages between tasks.
//
// Work is signalled by posting message 0x401 to the pump's message-only window, and at most
// one such message is queued at a time: the have-work flag is set by whoever posts it and
// cleared when the pump takes it, before the work runs, so no wake-up is lost. Each round of
// the run loop handles one window message and one task, so neither starves the other.
//
// A WM_QUIT taken by the pump ends the innermost run and is posted again for the run outside
// it (and for any loop the thread runs after).
//
// Thread safety: construct, run and destroy on one thread (the window belongs to it);
// ScheduleWork from any thread.
#pragma once

#include "browserplatform/winuser.h"
#include "thread/message_pump.h"

namespace Thread {

class CMessagePumpForUI : public CMessagePump {
 public:
  // The window message that carries a wake-up; wParam is the pump.
  static constexpr UINT kMsgHaveWork = WM_USER + 1;

  // Registers the window class "Browser_MessagePumpWindow" (another pump may have done that
  // already) and creates the pump's message-only window.
  CMessagePumpForUI();

  void ScheduleWork() override;
  void ScheduleDelayedWork(int64_t delayed_work_time) override;

  HWND message_hwnd() const { return message_hwnd_; }

 protected:
  // Destroys the window and unregisters the class (which stays while another pump's window
  // uses it).
  ~CMessagePumpForUI() override;
  void DoRunLoop() override;

 private:
  static LRESULT WndProcThunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  void HandleWorkMessage();
  void HandleTimerMessage();
  void WaitForWork();
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& msg);
  bool ProcessPumpReplacementMessage();

  volatile LONG have_work_ = 0;  // changed with interlocked operations only
  HWND message_hwnd_ = nullptr;
};

}  // namespace Thread
