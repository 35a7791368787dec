// Posted messages, WM_QUIT, window timers and the queue status of one thread's queue.
#include <gtest/gtest.h>

#include <vector>

#include "browserplatform/synchapi.h"
#include "browserplatform/winuser.h"
#include "tests/platform/window_test_util.h"

namespace {

using window_test::OnFreshThread;
using window_test::ScopedClass;
using window_test::ScopedWindow;
using window_test::TakeAll;

constexpr DWORD kLongWait = 10000;

std::vector<UINT> Numbers(const std::vector<MSG>& messages) {
  std::vector<UINT> numbers;
  for (const MSG& msg : messages) numbers.push_back(msg.message);
  return numbers;
}

class MessageQueueTest : public ::testing::Test {
 protected:
  ScopedClass window_class_{u"MessageQueueTest"};
};

TEST_F(MessageQueueTest, PostedMessagesComeOutInOrderThroughTheFilter) {
  OnFreshThread([&] {
    ScopedWindow a(window_class_.name());
    ScopedWindow b(window_class_.name());
    ASSERT_TRUE(PostMessageW(a.get(), WM_USER + 1, 1, 10));
    ASSERT_TRUE(PostMessageW(b.get(), WM_USER + 2, 2, 20));
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 3, 3, 30));  // a thread message
    ASSERT_TRUE(PostMessageW(a.get(), WM_USER + 4, 4, 40));

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 10);
    EXPECT_EQ(msg.hwnd, a.get());
    EXPECT_FALSE(PeekMessageW(nullptr, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    struct Case {
      HWND hwnd;
      UINT first;
      UINT last;
      UINT expected;  // first match, left in the queue
    };
    const Case cases[] = {
        {nullptr, 0, 0, WM_USER + 1},
        {b.get(), 0, 0, WM_USER + 2},
        {reinterpret_cast<HWND>(intptr_t{-1}), 0, 0, WM_USER + 3},
        {nullptr, WM_USER + 3, WM_USER + 4, WM_USER + 3},
        {a.get(), WM_USER + 2, WM_USER + 9, WM_USER + 4},
        {nullptr, WM_USER + 4, WM_USER + 4, WM_USER + 4},
    };
    for (const Case& c : cases) {
      ASSERT_TRUE(PeekMessageW(&msg, c.hwnd, c.first, c.last, PM_NOREMOVE)) << c.expected;
      EXPECT_EQ(msg.message, c.expected);
    }
    EXPECT_FALSE(PeekMessageW(&msg, b.get(), WM_USER + 3, WM_USER + 9, PM_NOREMOVE));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER + 5, WM_USER + 4, PM_NOREMOVE));

    ASSERT_TRUE(PeekMessageW(&msg, a.get(), WM_USER + 4, WM_USER + 4, PM_REMOVE));
    EXPECT_EQ(Numbers(TakeAll()), (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
  });
}

TEST_F(MessageQueueTest, QuitComesOnlyWhenNoPostedMessageIsPending) {
  OnFreshThread([&] {
    ScopedWindow window(window_class_.name());
    PostQuitMessage(3);
    PostQuitMessage(-7);  // replaces the code
    ASSERT_TRUE(PostMessageW(window.get(), WM_USER, 0, 0));

    MSG msg;
    // A window filter never sees WM_QUIT.
    ASSERT_TRUE(PeekMessageW(&msg, window.get(), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER);
    EXPECT_FALSE(PeekMessageW(&msg, window.get(), 0, 0, PM_NOREMOVE));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE));

    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(static_cast<int>(msg.wParam), -7);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  });
}

TEST_F(MessageQueueTest, TimersDeliverAfterPostedMessagesUntilKilled) {
  OnFreshThread([&] {
    ScopedWindow window(window_class_.name());
    const UINT_PTR id = 0xABCDEF;
    // Long enough that no period passes between two checks on a slow (sanitizer) build.
    ASSERT_EQ(SetTimer(window.get(), id, 100, nullptr), id);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));

    ASSERT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, kLongWait, QS_TIMER, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(PostMessageW(window.get(), WM_USER, 0, 0));
    std::vector<MSG> taken = TakeAll();
    ASSERT_EQ(Numbers(taken), (std::vector<UINT>{WM_USER, WM_TIMER}));
    EXPECT_EQ(taken[1].hwnd, window.get());
    EXPECT_EQ(taken[1].wParam, id);
    EXPECT_EQ(taken[1].lParam, 0);
    // Taking it restarted the period.
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));

    ASSERT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, kLongWait, QS_TIMER, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(PeekMessageW(&msg, window.get(), WM_TIMER, WM_TIMER, PM_NOREMOVE));
    // A due timer is not delivered once killed.
    ASSERT_TRUE(KillTimer(window.get(), id));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(KillTimer(window.get(), id));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    EXPECT_EQ(SetTimer(nullptr, 1, 10, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(SetTimer(window.get(), 0, 10, nullptr), 1u);
  });
}

TEST_F(MessageQueueTest, QueueStatusReportsKindsAndWhatIsNew) {
  OnFreshThread([&] {
    ScopedWindow window(window_class_.name());
    EXPECT_EQ(GetQueueStatus(QS_ALLINPUT), 0u);
    ASSERT_TRUE(PostMessageW(window.get(), WM_USER, 0, 0));

    constexpr DWORD kPosted = QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
    EXPECT_EQ(GetQueueStatus(kPosted), (kPosted << 16) | kPosted);
    EXPECT_EQ(GetQueueStatus(QS_ALLINPUT), QS_POSTMESSAGE << 16);  // seen now
    EXPECT_EQ(GetQueueStatus(QS_SENDMESSAGE), 0u);                 // there is no SendMessage

    TakeAll();
    EXPECT_EQ(GetQueueStatus(QS_ALLINPUT), 0u);
    EXPECT_EQ(GetQueueStatus(0x8000), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  });
}

TEST_F(MessageQueueTest, AFullQueueRefusesPosts) {
  OnFreshThread([&] {
    ScopedWindow window(window_class_.name());
    for (int i = 0; i < 10000; ++i) {
      ASSERT_TRUE(PostMessageW(window.get(), WM_USER, i, 0)) << i;
    }
    EXPECT_FALSE(PostMessageW(window.get(), WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_TRUE(PostMessageW(window.get(), WM_USER, 0, 0));
  });
}

}  // namespace
