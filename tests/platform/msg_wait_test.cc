// MsgWaitForMultipleObjectsEx: objects, new or available input, time-outs and bad arguments.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "browserplatform/handleapi.h"
#include "browserplatform/synchapi.h"
#include "browserplatform/winuser.h"
#include "platform/handle_table.h"
#include "tests/common/eventually.h"
#include "tests/platform/window_test_util.h"

namespace {

using window_test::OnFreshThread;
using window_test::ScopedClass;
using window_test::ScopedWindow;

constexpr DWORD kLongWait = 10000;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

class MsgWaitTest : public ::testing::Test {
 protected:
  ScopedClass window_class_{u"MsgWaitTest"};
};

TEST_F(MsgWaitTest, AMessagePostedFromAnotherThreadEndsTheWait) {
  OnFreshThread([&] {
    ScopedWindow window(window_class_.name());
    ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE handles[] = {event.get()};
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, handles, 30, QS_ALLINPUT, 0), WAIT_TIMEOUT);

    std::thread poster([&] {
      // Posted once the wait below is blocked on its objects, the event among them.
      EXPECT_TRUE(testing_support::Eventually(
          [&] { return platform::BlockedWaiterCountForTesting(event.get()) == 1; }));
      EXPECT_TRUE(PostMessageW(window.get(), WM_USER + 1, 0, 0));
    });
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, handles, kLongWait, QS_ALLINPUT, 0),
              WAIT_OBJECT_0 + 1);
    poster.join();
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
  });
}

TEST_F(MsgWaitTest, ASignalledObjectWinsOverInput) {
  OnFreshThread([&] {
    ScopedWindow window(window_class_.name());
    ScopedHandle unsignalled(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedHandle signalled(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    ASSERT_TRUE(PostMessageW(window.get(), WM_USER, 0, 0));
    HANDLE handles[] = {unsignalled.get(), signalled.get()};
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, handles, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
              WAIT_OBJECT_0 + 1);
    // The auto-reset event was taken; the input is next.
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, handles, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
              WAIT_OBJECT_0 + 2);
  });
}

TEST_F(MsgWaitTest, SeenInputCountsOnlyWithInputAvailable) {
  OnFreshThread([&] {
    ScopedWindow window(window_class_.name());
    ASSERT_TRUE(PostMessageW(window.get(), WM_USER, 0, 0));
    // New input of a kind outside the mask does not count.
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_TIMER, MWMO_INPUTAVAILABLE),
              WAIT_TIMEOUT);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_POSTMESSAGE, 0), WAIT_OBJECT_0);

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));  // now seen, still queued
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, 0), WAIT_TIMEOUT);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
              WAIT_OBJECT_0);
    // A quit mark is posted input too.
    window_test::TakeAll();
    PostQuitMessage(0);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0), WAIT_OBJECT_0);
    window_test::TakeAll();
  });
}

TEST_F(MsgWaitTest, BadArgumentsFail) {
  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE many[MAXIMUM_WAIT_OBJECTS];
  for (HANDLE& handle : many) handle = event.get();
  HANDLE forged[] = {reinterpret_cast<HANDLE>(uintptr_t{0xDEAD0})};
  struct Case {
    const char* what;
    DWORD count;
    const HANDLE* handles;
    DWORD flags;
    DWORD error;
  };
  const Case cases[] = {
      {"64 handles leave no room for the queue", 64, many, 0, ERROR_INVALID_PARAMETER},
      {"null array", 1, nullptr, 0, ERROR_INVALID_PARAMETER},
      {"unknown flag", 0, nullptr, 0x10, ERROR_INVALID_PARAMETER},
      {"wait-all", 1, many, MWMO_WAITALL, ERROR_NOT_SUPPORTED},
      {"forged handle", 1, forged, 0, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(c.count, c.handles, 0, QS_ALLINPUT, c.flags), WAIT_FAILED)
        << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(63, many, 0, QS_ALLINPUT, MWMO_ALERTABLE), WAIT_TIMEOUT);
}

}  // namespace
