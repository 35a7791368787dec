// Posting, peeking, queue status and window timers over the per-thread queues.
#include <mutex>

#include "browserplatform/clock.h"
#include "browserplatform/process.h"
#include "browserplatform/winuser.h"
#include "platform/window_registry.h"

namespace {

using platform::DispatcherMutex;
using platform::MessageClock;
using platform::WindowRegistry;

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

template <class Result>
Result Fail(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

// The calling thread's window `hwnd`, or null with the last error set; DispatcherMutex() held.
const platform::Window* OwnWindow(HWND hwnd) {
  const platform::Window* window = WindowRegistry::Get().Find(hwnd);
  if (!window) return Fail<const platform::Window*>(ERROR_INVALID_WINDOW_HANDLE, nullptr);
  if (window->queue->thread_id() != GetCurrentThreadId()) {
    return Fail<const platform::Window*>(ERROR_ACCESS_DENIED, nullptr);
  }
  return window;
}

}  // namespace

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const MSG msg{hwnd, message, wparam, lparam, GetTickCount(), {0, 0}, 0};
  // A thread message goes to the caller's own queue, which may not exist yet.
  std::shared_ptr<platform::MessageQueue> own_queue;
  if (hwnd == nullptr) own_queue = platform::CurrentMessageQueue();

  std::lock_guard<std::mutex> lock(DispatcherMutex());
  platform::MessageQueue* queue = own_queue.get();
  if (!queue) {
    const platform::Window* window = WindowRegistry::Get().Find(hwnd);
    if (!window) return Fail<BOOL>(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    queue = window->queue.get();
  }
  return queue->Post(msg) ? TRUE : Fail<BOOL>(ERROR_NOT_ENOUGH_QUOTA, FALSE);
}

void PostQuitMessage(int exit_code) {
  std::shared_ptr<platform::MessageQueue> queue = platform::CurrentMessageQueue();
  std::lock_guard<std::mutex> lock(DispatcherMutex());
  queue->PostQuit(exit_code);
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove) {
  if (msg == nullptr) return Fail<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
  std::shared_ptr<platform::MessageQueue> queue = platform::CurrentMessageQueue();
  std::lock_guard<std::mutex> lock(DispatcherMutex());
  if (hwnd != nullptr && hwnd != kThreadMessagesOnly && !WindowRegistry::Get().Find(hwnd)) {
    return Fail<BOOL>(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  }
  const platform::MessageFilter filter{hwnd, first, last};
  return queue->Peek(filter, (remove & PM_REMOVE) != 0, MessageClock::now(), msg) ? TRUE : FALSE;
}

DWORD GetQueueStatus(UINT flags) {
  if ((flags & ~(QS_ALLINPUT | QS_ALLPOSTMESSAGE)) != 0) return Fail<DWORD>(ERROR_INVALID_FLAGS, 0);
  std::shared_ptr<platform::MessageQueue> queue = platform::CurrentMessageQueue();
  std::lock_guard<std::mutex> lock(DispatcherMutex());
  return queue->QueryStatus(flags, MessageClock::now());
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC timer_proc) {
  if (hwnd == nullptr || timer_proc != nullptr) return Fail<UINT_PTR>(ERROR_NOT_SUPPORTED, 0);
  if (elapse < USER_TIMER_MINIMUM) elapse = USER_TIMER_MINIMUM;
  if (elapse > USER_TIMER_MAXIMUM) elapse = USER_TIMER_MAXIMUM;
  std::lock_guard<std::mutex> lock(DispatcherMutex());
  const platform::Window* window = OwnWindow(hwnd);
  if (!window) return 0;
  window->queue->SetTimer(hwnd, id, elapse, MessageClock::now());
  return id != 0 ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> lock(DispatcherMutex());
  const platform::Window* window = OwnWindow(hwnd);
  if (!window) return FALSE;
  return window->queue->KillTimer(hwnd, id) ? TRUE : Fail<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
}
