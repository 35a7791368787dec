// Helpers for the window-message tests: a class and windows that clean up after themselves,
// and a fresh thread for each scenario, so that every test starts with an empty queue.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "browserplatform/winuser.h"

namespace window_test {

// What RecordingProc saw on this thread, in order.
inline thread_local std::vector<MSG> recorded;

inline LRESULT RecordingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  recorded.push_back(MSG{hwnd, message, wparam, lparam, 0, {0, 0}, 0});
  return static_cast<LRESULT>(message) + 1000;
}

inline WNDCLASSEXW ClassOf(const char16_t* name, WNDPROC proc = RecordingProc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.lpszClassName = name;
  return wc;
}

class ScopedClass {
 public:
  explicit ScopedClass(std::u16string name) : name_(std::move(name)) {
    WNDCLASSEXW wc = ClassOf(name_.c_str());
    atom_ = RegisterClassExW(&wc);
    EXPECT_NE(atom_, 0) << GetLastError();
  }
  ~ScopedClass() {
    if (atom_) UnregisterClassW(name_.c_str(), nullptr);
  }
  ScopedClass(const ScopedClass&) = delete;
  ScopedClass& operator=(const ScopedClass&) = delete;

  const char16_t* name() const { return name_.c_str(); }
  ATOM atom() const { return atom_; }

 private:
  std::u16string name_;
  ATOM atom_ = 0;
};

inline HWND NewWindow(const char16_t* class_name) {
  return CreateWindowExW(0, class_name, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                         nullptr);
}

class ScopedWindow {
 public:
  explicit ScopedWindow(const char16_t* class_name) : hwnd_(NewWindow(class_name)) {
    EXPECT_NE(hwnd_, nullptr) << GetLastError();
  }
  ~ScopedWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  ScopedWindow(const ScopedWindow&) = delete;
  ScopedWindow& operator=(const ScopedWindow&) = delete;

  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// Runs `body` on a new thread and joins it; gtest records failures from any thread.
template <class Body>
void OnFreshThread(Body&& body) {
  std::thread thread(std::forward<Body>(body));
  thread.join();
}

// Removes and returns every message that matches; the queue keeps the rest.
inline std::vector<MSG> TakeAll(HWND hwnd = nullptr, UINT first = 0, UINT last = 0) {
  std::vector<MSG> out;
  MSG msg;
  while (PeekMessageW(&msg, hwnd, first, last, PM_REMOVE)) out.push_back(msg);
  return out;
}

}  // namespace window_test
