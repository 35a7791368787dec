// Process-wide state of the window machinery: registered classes, the window table and each
// thread's message queue.
//
// A window handle is a key into the table, never a pointer, so a stale or forged HWND is
// simply not found. Handle values are never reused within a process.
//
// Everything here is guarded by DispatcherMutex(), the lock of the message queues too: a
// post looks the window up and queues the message in one step, so it cannot race with the
// window's destruction and leave a message for a window that is gone.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "browserplatform/winuser.h"
#include "platform/message_queue.h"

namespace platform {

struct Window {
  ATOM atom;
  WNDPROC proc;
  std::shared_ptr<MessageQueue> queue;  // of the owning thread
};

class WindowRegistry {
 public:
  WindowRegistry() = default;
  WindowRegistry(const WindowRegistry&) = delete;
  WindowRegistry& operator=(const WindowRegistry&) = delete;

  // The one registry of the process.
  static WindowRegistry& Get();

  // All of the following require DispatcherMutex(). Failures return 0 / null / false and
  // store the Win32 error code in *error.
  ATOM RegisterClass(const std::u16string& name, WNDPROC proc, DWORD* error);
  bool UnregisterClass(LPCWSTR name_or_atom, DWORD* error);
  HWND CreateWindow(LPCWSTR class_name_or_atom, std::shared_ptr<MessageQueue> queue, DWORD* error);
  // The window behind `hwnd`, or null.
  const Window* Find(HWND hwnd) const;
  void DestroyWindow(HWND hwnd);
  // Destroys every window whose queue is `queue`.
  void DestroyWindowsOf(const MessageQueue* queue);

 private:
  struct WindowClass {
    std::u16string name;
    WNDPROC proc;
    size_t window_count = 0;
  };

  // The atom of a class named by name or atom, or 0.
  ATOM FindClass(LPCWSTR name_or_atom) const;
  void EraseWindow(std::unordered_map<uintptr_t, Window>::iterator it);

  std::map<ATOM, WindowClass> classes_;
  std::unordered_map<std::u16string, ATOM> atoms_by_name_;  // keys folded to lower case
  ATOM next_atom_ = 0xC000;
  std::unordered_map<uintptr_t, Window> windows_;
  uintptr_t next_window_ = 0x10000;
};

// The calling thread's queue, created on first use and closed, with the thread's windows
// destroyed, when the thread ends.
std::shared_ptr<MessageQueue> CurrentMessageQueue();

}  // namespace platform
