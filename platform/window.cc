// Window classes, message-only windows and dispatching to window procedures.
#include <mutex>

#include "browserplatform/process.h"
#include "browserplatform/winuser.h"
#include "platform/window_registry.h"

namespace {

constexpr size_t kMaxClassName = 256;

bool IsAtom(LPCWSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// Reads at most kMaxClassName + 1 characters, so that an overlong name is refused without
// walking the whole string.
size_t BoundedLength(LPCWSTR text) {
  size_t length = 0;
  while (length <= kMaxClassName && text[length] != u'\0') ++length;
  return length;
}

template <class Result>
Result Fail(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

}  // namespace

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
  if (wc == nullptr || wc->cbSize != sizeof(WNDCLASSEXW) || wc->lpfnWndProc == nullptr ||
      wc->lpszClassName == nullptr || IsAtom(wc->lpszClassName)) {
    return Fail<ATOM>(ERROR_INVALID_PARAMETER, 0);
  }
  size_t length = BoundedLength(wc->lpszClassName);
  if (length == 0 || length > kMaxClassName) return Fail<ATOM>(ERROR_INVALID_PARAMETER, 0);
  std::u16string name(wc->lpszClassName, length);

  DWORD error = ERROR_SUCCESS;
  ATOM atom;
  {
    std::lock_guard<std::mutex> lock(platform::DispatcherMutex());
    atom = platform::WindowRegistry::Get().RegisterClass(name, wc->lpfnWndProc, &error);
  }
  return atom != 0 ? atom : Fail<ATOM>(error, 0);
}

BOOL UnregisterClassW(LPCWSTR class_name, HINSTANCE) {
  DWORD error = ERROR_SUCCESS;
  bool removed;
  {
    std::lock_guard<std::mutex> lock(platform::DispatcherMutex());
    removed = platform::WindowRegistry::Get().UnregisterClass(class_name, &error);
  }
  return removed ? TRUE : Fail<BOOL>(error, FALSE);
}

HWND CreateWindowExW(DWORD, LPCWSTR class_name, LPCWSTR, DWORD, int, int, int, int, HWND parent,
                     HMENU, HINSTANCE, LPVOID) {
  if (parent != HWND_MESSAGE) return Fail<HWND>(ERROR_NOT_SUPPORTED, nullptr);
  std::shared_ptr<platform::MessageQueue> queue = platform::CurrentMessageQueue();
  DWORD error = ERROR_SUCCESS;
  HWND hwnd;
  {
    std::lock_guard<std::mutex> lock(platform::DispatcherMutex());
    hwnd = platform::WindowRegistry::Get().CreateWindow(class_name, std::move(queue), &error);
  }
  return hwnd ? hwnd : Fail<HWND>(error, nullptr);
}

BOOL DestroyWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(platform::DispatcherMutex());
  platform::WindowRegistry& registry = platform::WindowRegistry::Get();
  const platform::Window* window = registry.Find(hwnd);
  if (!window) return Fail<BOOL>(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  if (window->queue->thread_id() != GetCurrentThreadId()) {
    return Fail<BOOL>(ERROR_ACCESS_DENIED, FALSE);
  }
  registry.DestroyWindow(hwnd);
  return TRUE;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (msg == nullptr) return Fail<LRESULT>(ERROR_INVALID_PARAMETER, 0);
  if (msg->hwnd == nullptr) return 0;
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lock(platform::DispatcherMutex());
    const platform::Window* window = platform::WindowRegistry::Get().Find(msg->hwnd);
    if (!window) return Fail<LRESULT>(ERROR_INVALID_WINDOW_HANDLE, 0);
    if (window->queue->thread_id() != GetCurrentThreadId()) {
      return Fail<LRESULT>(ERROR_WINDOW_OF_OTHER_THREAD, 0);
    }
    proc = window->proc;
  }
  // Outside the lock: the procedure may post, peek, destroy windows or run a nested loop.
  return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcW(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_NCCREATE ? TRUE : 0;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

BOOL CallMsgFilterW(LPMSG, int) { return FALSE; }
