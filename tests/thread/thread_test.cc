// Thread::CThread with its loop and proxy: start, posting, stop, registration and log lines.
#include "thread/thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "browserplatform/combaseapi.h"
#include "browserplatform/process.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/fake_sandbox.h"
#include "tests/thread/thread_test_util.h"

namespace {

using testing_support::CapturingLogController;
using Thread::CThread;
using Thread::CThreadMessageLoop;
using thread_test::MakeTask;
using thread_test::Signal;
using thread_test::Watchdog;

// The loop the manager service has for `thread_id`.
void* RegisteredLoop(DWORD thread_id) {
  IMessageLoopManager* manager = nullptr;
  EXPECT_EQ(Util::Com::GetService(IID_IMessageLoopManager, reinterpret_cast<void**>(&manager)),
            S_OK);
  if (!manager) return nullptr;
  void* loop = nullptr;
  EXPECT_EQ(manager->GetLoop(thread_id, &loop), S_OK);
  manager->Release();
  return loop;
}

CThread::Options OptionsOfType(DWORD type) {
  CThread::Options options;
  options.message_loop_type = type;
  return options;
}

std::u16string Utf16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class ThreadLoopTypeTest : public ::testing::TestWithParam<DWORD> {};

TEST_P(ThreadLoopTypeTest, ATaskPostedRightAfterStartRunsOnTheRegisteredLoop) {
  Watchdog watchdog;
  CThread thread("runner");
  ASSERT_TRUE(thread.StartWithOptions(OptionsOfType(GetParam())));
  ASSERT_TRUE(thread.message_loop_proxy());
  const DWORD thread_id = thread.thread_id();
  EXPECT_NE(thread_id, GetCurrentThreadId());

  Signal ran;
  DWORD ran_on = 0;
  CThreadMessageLoop* current = nullptr;
  EXPECT_TRUE(thread.message_loop_proxy()->PostTask(MakeTask([&] {
    ran_on = GetCurrentThreadId();
    current = CThreadMessageLoop::current();
    ran.Notify();
  })));
  ASSERT_TRUE(ran.WaitFor());
  EXPECT_EQ(ran_on, thread_id);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->type(), GetParam());
  EXPECT_EQ(current->name(), "runner");
  EXPECT_EQ(RegisteredLoop(thread_id), current);

  EXPECT_TRUE(thread.Stop());
  EXPECT_EQ(RegisteredLoop(thread_id), nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllLoopTypes, ThreadLoopTypeTest,
                         ::testing::Values(CThreadMessageLoop::TYPE_DEFAULT,
                                           CThreadMessageLoop::TYPE_UI,
                                           CThreadMessageLoop::TYPE_IO));

TEST(ThreadTest, StopRunsEveryTaskPostedBeforeItAndASecondStopDoesNothing) {
  Watchdog watchdog;
  CThread thread("stopper");
  for (int round = 0; round < 2; ++round) {  // a stopped thread can be started again
    ASSERT_TRUE(thread.StartWithOptions(CThread::Options{}));
    std::vector<int> order;  // touched by the loop thread only until Stop returns
    for (int i = 0; i < 200; ++i) {
      thread.message_loop_proxy()->PostTask(MakeTask([&order, i] { order.push_back(i); }));
    }
    EXPECT_TRUE(thread.Stop());
    ASSERT_EQ(order.size(), 200u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_FALSE(thread.Stop());
    EXPECT_FALSE(thread.StopSoon());
  }
  CThread never_started("idle");
  EXPECT_FALSE(never_started.Stop());
}

// The loop runs inside the requested COM initialisation: a task asking for the same model again
// is told it is already there, and for the other model that the thread is in another one.
TEST(ThreadTest, ComInitialisationCoversTheLoop) {
  Watchdog watchdog;
  struct Case {
    BOOL com_init;
    DWORD flags;
    HRESULT multithreaded;  // what CoInitializeEx(COINIT_MULTITHREADED) gives inside a task
  };
  const Case kCases[] = {
      {FALSE, COINIT_MULTITHREADED, S_OK},
      {TRUE, COINIT_MULTITHREADED, S_FALSE},
      {TRUE, 0xFFFFFFFF, RPC_E_CHANGED_MODE},  // OLE: the single-threaded apartment
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.com_init << " " << c.flags);
    CThread thread("com");
    CThread::Options options;
    options.com_init = c.com_init;
    options.com_init_flags = c.flags;
    ASSERT_TRUE(thread.StartWithOptions(options));
    HRESULT result = E_UNEXPECTED;
    thread.message_loop_proxy()->PostTask(MakeTask([&result] {
      result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      if (SUCCEEDED(result)) CoUninitialize();
    }));
    EXPECT_TRUE(thread.Stop());
    EXPECT_EQ(result, c.multithreaded);
  }
}

TEST(ThreadTest, StopAfterStopSoonDoesNotWaitAndTheDestructorJoins) {
  Watchdog watchdog;
  std::atomic<bool> ran{false};
  {
    CThread thread("soon");
    ASSERT_TRUE(thread.StartWithOptions(CThread::Options{}));
    thread.message_loop_proxy()->PostTask(MakeTask([&] { ran = true; }));
    EXPECT_TRUE(thread.StopSoon());
    EXPECT_FALSE(thread.StopSoon());
    EXPECT_FALSE(thread.Stop());
  }
  EXPECT_TRUE(ran);
}

TEST(ThreadTest, APostThroughAProxyWhoseLoopIsGoneDestroysTheTaskUnrun) {
  Watchdog watchdog;
  CThread thread("gone");
  ASSERT_TRUE(thread.StartWithOptions(CThread::Options{}));
  base::scoped_refptr<Thread::CThreadMessageLoopProxy> proxy = thread.message_loop_proxy();
  ASSERT_TRUE(thread.Stop());

  bool ran = false;
  DWORD destroyed_on = 0;
  EXPECT_FALSE(
      proxy->PostTask(MakeTask([&] { ran = true; }, [&] { destroyed_on = GetCurrentThreadId(); })));
  EXPECT_FALSE(ran);
  EXPECT_EQ(destroyed_on, GetCurrentThreadId());
  EXPECT_FALSE(proxy->PostTask(nullptr));
}

TEST(ThreadTest, TasksStillQueuedWhenTheLoopGoesAreDestroyedUnrun) {
  Watchdog watchdog;
  std::atomic<int> ran{0};
  std::atomic<int> destroyed{0};
  {
    // A loop made and dropped on this thread, never run.
    CThreadMessageLoop loop("unrun", CThreadMessageLoop::TYPE_DEFAULT);
    for (int i = 0; i < 3; ++i) loop.PostTask(MakeTask([&] { ++ran; }, [&] { ++destroyed; }));
    EXPECT_EQ(CThreadMessageLoop::current(), &loop);
  }
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(destroyed, 3);
  EXPECT_EQ(CThreadMessageLoop::current(), nullptr);
}

// Loops made inside a task of a running thread, and dropped again, leave the thread's own
// loop registered; otherwise its quit task finds no loop and Stop waits for ever.
TEST(ThreadTest, LoopsMadeInsideATaskLeaveTheThreadsLoopRegistered) {
  Watchdog watchdog;
  for (bool innermost_first : {true, false}) {
    SCOPED_TRACE(innermost_first ? "dropped innermost first" : "dropped in the order made");
    CThread thread("outer");
    ASSERT_TRUE(thread.StartWithOptions(CThread::Options{}));
    Signal done;
    std::vector<std::string> wrong;  // written by the task before `done`
    thread.message_loop_proxy()->PostTask(MakeTask([&] {
      CThreadMessageLoop* outer = CThreadMessageLoop::current();
      auto expect_current = [&](CThreadMessageLoop* expected, const char* when) {
        if (CThreadMessageLoop::current() != expected) wrong.push_back(when);
      };
      auto first = std::make_unique<CThreadMessageLoop>("first", CThreadMessageLoop::TYPE_DEFAULT);
      auto second = std::make_unique<CThreadMessageLoop>("second", CThreadMessageLoop::TYPE_IO);
      expect_current(second.get(), "with both made");
      if (innermost_first) {
        second.reset();
        expect_current(first.get(), "after the innermost went");
      } else {
        first.reset();
        expect_current(second.get(), "after the outer one of the two went");
      }
      first.reset();
      second.reset();
      expect_current(outer, "after both went");
      // Put the thread's loop back, so that a failure here fails this test alone.
      if (CThreadMessageLoop::current() != outer) {
        IMessageLoopManager* manager = nullptr;
        Util::Com::GetService(IID_IMessageLoopManager, reinterpret_cast<void**>(&manager));
        manager->RegisterLoop(GetCurrentThreadId(), outer);
        manager->Release();
      }
      done.Notify();
    }));
    ASSERT_TRUE(done.WaitFor());
    EXPECT_THAT(wrong, ::testing::IsEmpty());
    EXPECT_TRUE(thread.Stop());
  }
}

TEST(ThreadTest, SevenPostsToABusyLoopNoteTheQueueFromTheSeventh) {
  Watchdog watchdog;
  CapturingLogController log;
  CThread thread("busy");
  ASSERT_TRUE(thread.StartWithOptions(CThread::Options{}));
  Signal running;
  Signal release;
  thread.message_loop_proxy()->PostTask(MakeTask([&] {
    running.Notify();
    EXPECT_TRUE(release.WaitFor());
  }));
  ASSERT_TRUE(running.WaitFor());
  Signal drained;
  for (int i = 0; i < 6; ++i) thread.message_loop_proxy()->PostTask(MakeTask(nullptr));
  thread.message_loop_proxy()->PostTask(MakeTask([&] { drained.Notify(); }));
  release.Notify();
  // Only then is the incoming queue empty again for the quit task that Stop posts.
  ASSERT_TRUE(drained.WaitFor());
  EXPECT_TRUE(thread.Stop());

  std::vector<testing_support::LogLine> notes = log.lines(u"threadmsgloop;");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].level, 37u);
  EXPECT_EQ(notes[0].text, u"now PendingTask number is 6, threadname = busy");
}

TEST(ThreadTest, StartAndStopWriteTheirLogLines) {
  Watchdog watchdog;
  CapturingLogController log;
  CThread thread("ignored");
  CThread::Options options;
  const std::string long_name(100, 'n');
  options.name = long_name.c_str();
  ASSERT_TRUE(thread.StartWithOptions(options));
  EXPECT_EQ(std::string(thread.thread_name()), long_name.substr(0, 63));
  const std::u16string id = Utf16(std::to_string(thread.thread_id()));
  ASSERT_TRUE(thread.Stop());

  std::vector<testing_support::LogLine> lines = log.lines();
  auto has = [&](DWORD level, const std::u16string& category, const std::u16string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const testing_support::LogLine& line) {
      return line.level == level && line.category == category && line.text == text;
    });
  };
  EXPECT_TRUE(has(5, u"function;", u"Thread::CThread::StartWithOptions() {"));
  EXPECT_TRUE(
      has(16, u"thread;", u"thread info | TID:" + id + u" NAME:" + Utf16(long_name.substr(0, 63))));
  EXPECT_TRUE(has(32, u"oldlog;", u"Start Stop Thread " + id + u"\n"));
  EXPECT_TRUE(has(32, u"oldlog;", u"Stop Thread " + id + u" soon\n"));
  EXPECT_TRUE(has(32, u"oldlog;", u"Finish Stop Thread " + id + u"\n"));

  CapturingLogController unnamed_log;
  CThread unnamed(nullptr);
  ASSERT_TRUE(unnamed.StartWithOptions(CThread::Options{}));
  ASSERT_TRUE(unnamed.Stop());
  std::vector<testing_support::LogLine> thread_lines = unnamed_log.lines(u"thread;");
  ASSERT_EQ(thread_lines.size(), 1u);
  EXPECT_EQ(thread_lines[0].level, 64u);
  EXPECT_EQ(thread_lines[0].text, u"线程没有关联名字，请在创建线程时指定名字");
}

TEST(ThreadTest, KernelObjectsGoThroughAnActiveSandbox) {
  Watchdog watchdog;
  testing_support::FakeSandbox sandbox(true, true, false);
  for (DWORD type : {CThreadMessageLoop::TYPE_DEFAULT, CThreadMessageLoop::TYPE_IO}) {
    CThread thread("sandboxed");
    ASSERT_TRUE(thread.StartWithOptions(OptionsOfType(type)));
    Signal ran;
    thread.message_loop_proxy()->PostTask(MakeTask([&] { ran.Notify(); }));
    ASSERT_TRUE(ran.WaitFor());
    ASSERT_TRUE(thread.Stop());
  }
  std::vector<std::string> calls = sandbox.calls();
  for (const char* name :
       {"Internal_OV_Shared_CreateEvent", "Internal_OV_Shared_SetEvent",
        "Internal_OV_Shared_WaitForSingleObject", "Internal_OV_Shared_WaitForThread",
        "Internal_OV_Shared_CreateIoCompletionPort",
        "Internal_OV_Shared_PostQueuedCompletionStatus",
        "Internal_OV_Shared_GetQueuedCompletionStatus", "Internal_OV_Shared_CloseWaitableObject"}) {
    EXPECT_NE(std::find(calls.begin(), calls.end(), name), calls.end()) << name;
  }
}

}  // namespace
