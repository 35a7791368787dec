// Window classes, message-only windows, handle checks and dispatching.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "browserplatform/libloaderapi.h"
#include "browserplatform/shell.h"
#include "browserplatform/synchapi.h"
#include "browserplatform/winuser.h"
#include "tests/platform/window_test_util.h"

namespace {

using window_test::OnFreshThread;
using window_test::ScopedClass;
using window_test::ScopedWindow;

TEST(WindowClassTest, RegisterRefusesBadDescriptionsAndDuplicateNames) {
  const std::u16string too_long(257, u'x');
  struct Case {
    const char* what;
    WNDCLASSEXW wc;
  };
  WNDCLASSEXW wrong_size = window_test::ClassOf(u"WindowClassTest.A");
  wrong_size.cbSize = 48;
  WNDCLASSEXW no_proc = window_test::ClassOf(u"WindowClassTest.A", nullptr);
  const Case cases[] = {
      {"cbSize of 32-bit Windows", wrong_size},
      {"null procedure", no_proc},
      {"null name", window_test::ClassOf(nullptr)},
      {"empty name", window_test::ClassOf(u"")},
      {"atom as name", window_test::ClassOf(MAKEINTATOM(0xC001))},
      {"257 characters", window_test::ClassOf(too_long.c_str())},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(RegisterClassExW(&c.wc), 0) << c.what;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
  }
  SetLastError(0);
  EXPECT_EQ(RegisterClassExW(nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  const std::u16string longest(256, u'y');
  ScopedClass longest_class(longest);
  EXPECT_GE(longest_class.atom(), 0xC000);

  ScopedClass first(u"WindowClassTest.Duplicate");
  WNDCLASSEXW same_other_case = window_test::ClassOf(u"windowclasstest.DUPLICATE");
  EXPECT_EQ(RegisterClassExW(&same_other_case), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
}

TEST(WindowClassTest, AClassWithWindowsStaysUntilTheLastWindowIsDestroyed) {
  WNDCLASSEXW wc = window_test::ClassOf(u"WindowClassTest.Lifetime");
  ATOM atom = RegisterClassExW(&wc);
  ASSERT_NE(atom, 0);

  HWND by_name = window_test::NewWindow(u"windowclasstest.lifetime");
  HWND by_atom = window_test::NewWindow(MAKEINTATOM(atom));
  ASSERT_NE(by_name, nullptr);
  ASSERT_NE(by_atom, nullptr);
  EXPECT_NE(by_name, by_atom);

  EXPECT_FALSE(UnregisterClassW(u"WindowClassTest.Lifetime", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
  EXPECT_TRUE(DestroyWindow(by_name));
  EXPECT_FALSE(UnregisterClassW(MAKEINTATOM(atom), nullptr));
  EXPECT_TRUE(DestroyWindow(by_atom));
  EXPECT_TRUE(UnregisterClassW(MAKEINTATOM(atom), nullptr));

  for (LPCWSTR name : {u"WindowClassTest.Lifetime", static_cast<LPCWSTR>(nullptr)}) {
    EXPECT_FALSE(UnregisterClassW(name, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
  }
  EXPECT_EQ(window_test::NewWindow(u"WindowClassTest.Lifetime"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST(WindowTest, OnlyMessageOnlyWindowsAreCreated) {
  ScopedClass window_class(u"WindowTest.Parent");
  for (HWND parent : {static_cast<HWND>(nullptr), reinterpret_cast<HWND>(uintptr_t{0x10000})}) {
    EXPECT_EQ(CreateWindowExW(0, window_class.name(), nullptr, 0, 0, 0, 0, 0, parent, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  }
}

TEST(WindowTest, DestroyedAndForgedHandlesAreRefusedEverywhere) {
  OnFreshThread([] {
    ScopedClass window_class(u"WindowTest.Stale");
    HWND destroyed = window_test::NewWindow(window_class.name());
    ASSERT_NE(destroyed, nullptr);
    ASSERT_TRUE(PostMessageW(destroyed, WM_USER, 1, 2));
    ASSERT_TRUE(SetTimer(destroyed, 1, 10, nullptr));
    ASSERT_TRUE(DestroyWindow(destroyed));
    // What the window had pending went with it. Not a wait for an event: the 10 ms timer, had
    // it outlived the window, has time to fire.
    Sleep(20);
    EXPECT_TRUE(window_test::TakeAll().empty());

    for (HWND hwnd : {destroyed, reinterpret_cast<HWND>(uintptr_t{0xDEAD0})}) {
      SetLastError(0);
      EXPECT_FALSE(PostMessageW(hwnd, WM_USER, 0, 0));
      EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
      EXPECT_FALSE(DestroyWindow(hwnd));
      EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
      EXPECT_EQ(SetTimer(hwnd, 1, 10, nullptr), 0u);
      EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
      EXPECT_FALSE(KillTimer(hwnd, 1));
      EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
      MSG msg{hwnd, WM_USER, 0, 0, 0, {0, 0}, 0};
      EXPECT_EQ(DispatchMessageW(&msg), 0);
      EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
      EXPECT_FALSE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
      EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    }
    EXPECT_TRUE(window_test::recorded.empty());
  });
}

TEST(WindowTest, OtherThreadsMayPostButNotDestroyDispatchOrSetTimers) {
  ScopedClass window_class(u"WindowTest.Owner");
  OnFreshThread([&] {
    ScopedWindow window(window_class.name());
    std::thread([hwnd = window.get()] {
      EXPECT_TRUE(PostMessageW(hwnd, WM_USER + 7, 70, 700));
      EXPECT_FALSE(DestroyWindow(hwnd));
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
      EXPECT_EQ(SetTimer(hwnd, 1, 10, nullptr), 0u);
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
      MSG msg{hwnd, WM_USER, 0, 0, 0, {0, 0}, 0};
      EXPECT_EQ(DispatchMessageW(&msg), 0);
      EXPECT_EQ(GetLastError(), ERROR_WINDOW_OF_OTHER_THREAD);
      // The poster's own queue holds nothing of the window's.
      EXPECT_TRUE(window_test::TakeAll().empty());
    }).join();
    std::vector<MSG> taken = window_test::TakeAll();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].hwnd, window.get());
    EXPECT_EQ(taken[0].message, WM_USER + 7);
    EXPECT_EQ(taken[0].wParam, 70u);
    EXPECT_EQ(taken[0].lParam, 700);
  });
}

TEST(WindowTest, AThreadsWindowsEndWithIt) {
  ScopedClass window_class(u"WindowTest.Orphan");
  HWND orphan = nullptr;
  OnFreshThread([&] { orphan = window_test::NewWindow(window_class.name()); });
  ASSERT_NE(orphan, nullptr);
  EXPECT_FALSE(PostMessageW(orphan, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  // Nor does the class count it any more.
  EXPECT_TRUE(UnregisterClassW(window_class.name(), nullptr));
}

TEST(WindowTest, DispatchCallsTheWindowProcedureWithTheMessage) {
  OnFreshThread([] {
    ScopedClass window_class(u"WindowTest.Dispatch");
    ScopedWindow window(window_class.name());
    ASSERT_TRUE(PostMessageW(window.get(), WM_USER + 1, 11, -12));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_FALSE(CallMsgFilterW(&msg, 0x5001));
    EXPECT_EQ(DispatchMessageW(&msg), static_cast<LRESULT>(WM_USER + 1 + 1000));
    ASSERT_EQ(window_test::recorded.size(), 1u);
    EXPECT_EQ(window_test::recorded[0].hwnd, window.get());
    EXPECT_EQ(window_test::recorded[0].message, WM_USER + 1);
    EXPECT_EQ(window_test::recorded[0].wParam, 11u);
    EXPECT_EQ(window_test::recorded[0].lParam, -12);

    // A thread message has no procedure to go to.
    MSG thread_message{nullptr, WM_USER, 0, 0, 0, {0, 0}, 0};
    EXPECT_EQ(DispatchMessageW(&thread_message), 0);
    EXPECT_EQ(DispatchMessageW(nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(window_test::recorded.size(), 1u);

    EXPECT_EQ(DefWindowProcW(window.get(), WM_NCCREATE, 0, 0), TRUE);
    EXPECT_EQ(DefWindowProcW(window.get(), WM_USER + 1, 0, 0), 0);
  });
}

TEST(ModuleHandleTest, NullNamesTheExecutable) {
  HMODULE module = GetModuleHandleW(nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetModuleHandleW(nullptr), module);
  char16_t from_handle[1024];
  char16_t executable[1024];
  ASSERT_GT(GetModuleFileNameW(module, from_handle, 1024), 0u);
  ASSERT_GT(GetModuleFileNameW(nullptr, executable, 1024), 0u);
  EXPECT_EQ(std::u16string(from_handle), std::u16string(executable));

  EXPECT_EQ(GetModuleHandleW(u"kernel32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
