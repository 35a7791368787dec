// The three message pumps: sleeping and waking, the UI pump's single work message, WM_QUIT
// with nested runs, and window messages between tasks.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "browserplatform/synchapi.h"
#include "browserplatform/winuser.h"
#include "tests/thread/thread_test_util.h"
#include "thread/message_pump_default.h"
#include "thread/message_pump_for_io.h"
#include "thread/message_pump_for_ui.h"
#include "thread/thread.h"
#include "thread/thread_message_loop.h"

namespace {

using Thread::CMessagePump;
using Thread::CMessagePumpForUI;
using Thread::CThread;
using Thread::CThreadMessageLoop;
using thread_test::MakeTask;
using thread_test::Signal;
using thread_test::Watchdog;

// Does one piece of work when told to and then quits; counts its idle calls.
class WakeDelegate : public CMessagePump::CDelegate {
 public:
  explicit WakeDelegate(CMessagePump* pump) : pump_(pump) {}

  bool DoWork() override {
    if (!has_work.exchange(false)) return false;
    did_work = true;
    pump_->Quit();
    return true;
  }
  bool DoDelayedWork(int64_t* next_delayed_work_time) override {
    *next_delayed_work_time = 0;
    return false;
  }
  bool DoIdleWork() override {
    ++idle_calls;
    idle.Notify();
    return false;
  }

  std::atomic<bool> has_work{false};
  std::atomic<int> idle_calls{0};
  std::atomic<bool> did_work{false};
  Signal idle;

 private:
  CMessagePump* const pump_;
};

using MakePump = CMessagePump* (*)();

CMessagePump* MakeDefault() { return new Thread::CMessagePumpDefault(); }
CMessagePump* MakeUI() { return new CMessagePumpForUI(); }
CMessagePump* MakeIO() { return new Thread::CMessagePumpForIO(); }

class PumpWakeTest : public ::testing::TestWithParam<MakePump> {};

TEST_P(PumpWakeTest, AnIdlePumpSleepsWithoutTimeOutUntilScheduleWorkFromAnotherThread) {
  Watchdog watchdog;
  std::atomic<CMessagePump*> running{nullptr};
  std::atomic<WakeDelegate*> delegate{nullptr};
  Signal scheduled;
  // The pump is made, run and destroyed on its own thread, which owns the UI pump's window.
  std::thread runner([&] {
    base::scoped_refptr<CMessagePump> pump(GetParam()());
    WakeDelegate wake(pump.get());
    delegate = &wake;
    running = pump.get();
    pump->Run(&wake);
    EXPECT_TRUE(wake.did_work);
    EXPECT_TRUE(scheduled.WaitFor());  // keeps the pump alive until ScheduleWork returned
  });
  while (!delegate.load()) std::this_thread::yield();
  ASSERT_TRUE(delegate.load()->idle.WaitFor());
  const int idle_calls = delegate.load()->idle_calls;
  // Asleep without a time-out: nothing brings it round again on its own. Not a wait for an
  // event: a wrongful wake-up has time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(delegate.load()->idle_calls, idle_calls);

  delegate.load()->has_work = true;
  running.load()->ScheduleWork();
  scheduled.Notify();
  runner.join();
}

INSTANTIATE_TEST_SUITE_P(EachPump, PumpWakeTest, ::testing::Values(MakeDefault, MakeUI, MakeIO));

class LoopTypeTest : public ::testing::TestWithParam<DWORD> {};

TEST_P(LoopTypeTest, PostsFromManyThreadsAllRunInEachPostersOrder) {
  Watchdog watchdog;
  CThread thread("posters");
  CThread::Options options;
  options.message_loop_type = GetParam();
  ASSERT_TRUE(thread.StartWithOptions(options));
  constexpr int kPosters = 4;
  constexpr int kPerPoster = 500;
  std::vector<std::vector<int>> seen(kPosters);  // written by the loop thread only
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      auto proxy = thread.message_loop_proxy();
      for (int i = 0; i < kPerPoster; ++i) {
        proxy->PostTask(MakeTask([&seen, p, i] { seen[p].push_back(i); }));
      }
    });
  }
  for (std::thread& poster : posters) poster.join();
  ASSERT_TRUE(thread.Stop());
  for (const std::vector<int>& one : seen) {
    ASSERT_EQ(one.size(), static_cast<size_t>(kPerPoster));
    for (int i = 0; i < kPerPoster; ++i) EXPECT_EQ(one[i], i);
  }
}

INSTANTIATE_TEST_SUITE_P(AllLoopTypes, LoopTypeTest,
                         ::testing::Values(CThreadMessageLoop::TYPE_DEFAULT,
                                           CThreadMessageLoop::TYPE_UI,
                                           CThreadMessageLoop::TYPE_IO));

TEST(MessagePumpForUITest, ManyScheduleWorkCallsLeaveOneWorkMessageQueued) {
  Watchdog watchdog;
  std::thread owner([] {
    base::scoped_refptr<CMessagePumpForUI> pump(new CMessagePumpForUI());
    ASSERT_NE(pump->message_hwnd(), nullptr);
    std::vector<std::thread> schedulers;
    for (int t = 0; t < 4; ++t) {
      schedulers.emplace_back([&] {
        for (int i = 0; i < 1000; ++i) pump->ScheduleWork();
      });
    }
    for (std::thread& scheduler : schedulers) scheduler.join();

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, CMessagePumpForUI::kMsgHaveWork,
                             CMessagePumpForUI::kMsgHaveWork, PM_NOREMOVE));
    EXPECT_EQ(msg.hwnd, pump->message_hwnd());
    EXPECT_EQ(msg.wParam, reinterpret_cast<WPARAM>(pump.get()));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  });
  owner.join();
}

TEST(MessagePumpForUITest, PumpsOfSeveralThreadsShareTheWindowClass) {
  Watchdog watchdog;
  CThread::Options options;
  options.message_loop_type = CThreadMessageLoop::TYPE_UI;
  for (int round = 0; round < 2; ++round) {  // the class comes back after the last pump went
    std::vector<std::unique_ptr<CThread>> threads;
    for (int i = 0; i < 3; ++i) {
      threads.push_back(std::make_unique<CThread>("ui"));
      ASSERT_TRUE(threads.back()->StartWithOptions(options));
    }
    for (auto& thread : threads) {
      Signal ran;
      thread->message_loop_proxy()->PostTask(MakeTask([&] { ran.Notify(); }));
      EXPECT_TRUE(ran.WaitFor());
      EXPECT_TRUE(thread->Stop());
    }
  }
}

// Starts a nested run from its first DoWork with WM_QUIT waiting for it.
class NestingDelegate : public CMessagePump::CDelegate {
 public:
  explicit NestingDelegate(CMessagePump* pump) : pump_(pump) {}

  bool DoWork() override {
    if (nested_returned) return false;
    if (depth_++ > 0) return false;  // the nested run has no work of its own
    PostQuitMessage(5);
    pump_->Run(this);
    nested_returned = true;
    return true;
  }
  bool DoDelayedWork(int64_t* next_delayed_work_time) override {
    *next_delayed_work_time = 0;
    return false;
  }
  bool DoIdleWork() override { return false; }

  bool nested_returned = false;

 private:
  CMessagePump* const pump_;
  int depth_ = 0;
};

TEST(MessagePumpForUITest, AQuitMessageEndsTheInnermostRunAndIsPostedAgainForTheOuter) {
  Watchdog watchdog;
  std::thread owner([] {
    base::scoped_refptr<CMessagePumpForUI> pump(new CMessagePumpForUI());
    NestingDelegate delegate(pump.get());
    pump->Run(&delegate);  // returns only if the outer run saw WM_QUIT too
    EXPECT_TRUE(delegate.nested_returned);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(static_cast<int>(msg.wParam), 5);
  });
  owner.join();
}

// Records the window messages it is given; the loop's tasks read it on the same thread.
std::vector<int>* g_dispatched_at = nullptr;
int g_tasks_run = 0;

LRESULT RecordingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_USER + 50 && g_dispatched_at) g_dispatched_at->push_back(g_tasks_run);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

TEST(MessagePumpForUITest, AStreamOfTasksDoesNotStarveWindowMessages) {
  Watchdog watchdog;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = u"MessagePumpForUITest.Stream";
  ASSERT_NE(RegisterClassExW(&wc), 0);

  CThread thread("ui");
  CThread::Options options;
  options.message_loop_type = CThreadMessageLoop::TYPE_UI;
  ASSERT_TRUE(thread.StartWithOptions(options));
  constexpr int kStream = 1000;
  std::vector<int> dispatched_at;  // loop thread only until the stream ends
  g_tasks_run = 0;
  HWND hwnd = nullptr;  // loop thread only
  Signal stream_done;
  // Each task posts the next; the first also posts a window message to a window of the loop
  // thread, which must be dispatched long before the stream ends.
  std::function<void()> step = [&] {
    CThreadMessageLoop* loop = CThreadMessageLoop::current();
    if (g_tasks_run == 0) {
      g_dispatched_at = &dispatched_at;
      hwnd = CreateWindowExW(0, wc.lpszClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             nullptr, nullptr);
      EXPECT_TRUE(PostMessageW(hwnd, WM_USER + 50, 0, 0));
    }
    if (++g_tasks_run < kStream) {
      loop->PostTask(MakeTask(step));
    } else {
      g_dispatched_at = nullptr;
      EXPECT_TRUE(DestroyWindow(hwnd));
      stream_done.Notify();
    }
  };
  thread.message_loop_proxy()->PostTask(MakeTask(step));
  ASSERT_TRUE(stream_done.WaitFor());
  ASSERT_TRUE(thread.Stop());
  ASSERT_EQ(dispatched_at.size(), 1u);
  EXPECT_LT(dispatched_at[0], kStream);
  EXPECT_TRUE(UnregisterClassW(wc.lpszClassName, nullptr));
}

}  // namespace
