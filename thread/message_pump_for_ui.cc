#include "thread/message_pump_for_ui.h"

#include "browserplatform/libloaderapi.h"
#include "browserplatform/synchapi.h"

namespace Thread {
namespace {

constexpr char16_t kWndClass[] = u"Browser_MessagePumpWindow";
// The code CallMsgFilterW gets for messages the pump is about to dispatch.
constexpr int kMessageFilterCode = 0x5001;

UINT_PTR TimerId(CMessagePumpForUI* pump) { return reinterpret_cast<UINT_PTR>(pump); }

}  // namespace

CMessagePumpForUI::CMessagePumpForUI() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WndProcThunk;
  wc.hInstance = instance;
  wc.lpszClassName = kWndClass;
  // The class is shared by the pumps of all threads. When another pump registered it and
  // unregisters it (its window gone) before ours exists, register again and retry once; once
  // our window exists the class cannot go.
  for (int attempt = 0; attempt < 2 && !message_hwnd_; ++attempt) {
    RegisterClassExW(&wc);
    message_hwnd_ = CreateWindowExW(0, kWndClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    instance, nullptr);
  }
}

CMessagePumpForUI::~CMessagePumpForUI() {
  DestroyWindow(message_hwnd_);
  UnregisterClassW(kWndClass, GetModuleHandleW(nullptr));
}

void CMessagePumpForUI::ScheduleWork() {
  if (InterlockedExchange(&have_work_, 1)) return;  // a wake-up is queued already
  if (!PostMessageW(message_hwnd_, kMsgHaveWork, reinterpret_cast<WPARAM>(this), 0)) {
    // Nothing was queued, so the flag must not claim otherwise or the pump would never be
    // woken again.
    InterlockedExchange(&have_work_, 0);
  }
}

void CMessagePumpForUI::ScheduleDelayedWork(int64_t delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
  int delay = GetCurrentDelay();
  if (delay < static_cast<int>(USER_TIMER_MINIMUM)) delay = USER_TIMER_MINIMUM;
  SetTimer(message_hwnd_, TimerId(this), static_cast<UINT>(delay), nullptr);
}

LRESULT CMessagePumpForUI::WndProcThunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  // Both messages carry the pump: the work message in wParam, the timer as its identifier.
  switch (message) {
    case kMsgHaveWork:
      reinterpret_cast<CMessagePumpForUI*>(wparam)->HandleWorkMessage();
      break;
    case WM_TIMER:
      reinterpret_cast<CMessagePumpForUI*>(wparam)->HandleTimerMessage();
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// Reached when a loop other than ours (a nested one that is not a pump's) dispatches the
// work message.
void CMessagePumpForUI::HandleWorkMessage() {
  if (!state_) {
    InterlockedExchange(&have_work_, 0);
    return;
  }
  ProcessPumpReplacementMessage();
  if (state_->delegate->DoWork()) ScheduleWork();
}

void CMessagePumpForUI::HandleTimerMessage() {
  KillTimer(message_hwnd_, TimerId(this));
  if (!state_) return;
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  if (delayed_work_time_ != 0) ScheduleDelayedWork(delayed_work_time_);
}

void CMessagePumpForUI::DoRunLoop() {
  for (;;) {
    bool more_work_is_plausible = ProcessNextWindowsMessage();
    if (state_->should_quit) break;
    more_work_is_plausible |= state_->delegate->DoWork();
    if (state_->should_quit) break;
    more_work_is_plausible |= state_->delegate->DoDelayedWork(&delayed_work_time_);
    // The timer only exists to wake a sleeping pump; a busy one polls delayed work anyway.
    if (more_work_is_plausible && delayed_work_time_ == 0) {
      KillTimer(message_hwnd_, TimerId(this));
    }
    if (state_->should_quit) break;
    if (more_work_is_plausible) continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit) break;
    if (more_work_is_plausible) continue;

    WaitForWork();
  }
}

void CMessagePumpForUI::WaitForWork() {
  int delay = GetCurrentDelay();
  DWORD timeout = delay < 0 ? INFINITE : static_cast<DWORD>(delay);
  DWORD result = MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (result != WAIT_OBJECT_0) return;
  // Mouse input that no peek can take (it belongs to another window's filter) would make
  // the wait above return at once for ever; wait for new input instead.
  DWORD queue_status = GetQueueStatus(QS_MOUSE);
  MSG msg;
  if ((HIWORD(queue_status) & QS_MOUSE) &&
      !PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE)) {
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, 0);
  }
}

bool CMessagePumpForUI::ProcessNextWindowsMessage() {
  // Peeking handles sent messages; if there were any, report work so the loop comes back.
  bool sent_messages_in_queue = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
  MSG msg;
  if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return ProcessMessageHelper(msg);
  return sent_messages_in_queue;
}

bool CMessagePumpForUI::ProcessMessageHelper(const MSG& msg) {
  if (msg.message == WM_QUIT) {
    state_->should_quit = 1;
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  if (msg.message == kMsgHaveWork && msg.hwnd == message_hwnd_) {
    return ProcessPumpReplacementMessage();
  }
  MSG copy = msg;
  if (CallMsgFilterW(&copy, kMessageFilterCode)) return true;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

// The work message has been taken; it stands in for a real message so that a stream of
// tasks cannot starve the window messages queued behind it.
bool CMessagePumpForUI::ProcessPumpReplacementMessage() {
  MSG msg;
  bool have_message = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
  InterlockedExchange(&have_work_, 0);
  if (!have_message) return false;
  // Post the work message again, behind what is queued, before handling this one.
  ScheduleWork();
  return ProcessMessageHelper(msg);
}

}  // namespace Thread
