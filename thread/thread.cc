#include "thread/thread.h"

#include <cstring>
#include <memory>

#include "base/kernel_event.h"
#include "base/logging.h"
#include "base/sandbox_routing.h"
#include "base/trace.h"
#include "browserplatform/combaseapi.h"
#include "browserplatform/handleapi.h"
#include "browserplatform/process.h"
#include "thread/thread_message_loop_for_io.h"
#include "thread/thread_message_loop_for_ui.h"
#include "thread/thread_quit_task.h"

namespace Thread {
namespace {

void CopyName(const char* name, char (&out)[64]) {
  std::memset(out, 0, sizeof(out));
  if (name) std::strncpy(out, name, sizeof(out) - 1);
}

std::unique_ptr<CThreadMessageLoop> NewLoop(DWORD type, const char* name) {
  switch (type) {
    case CThreadMessageLoop::TYPE_UI:
      return std::make_unique<CThreadMessageLoopForUI>(name);
    case CThreadMessageLoop::TYPE_IO:
      return std::make_unique<CThreadMessageLoopForIO>(name);
    default:
      return std::make_unique<CThreadMessageLoop>(name, CThreadMessageLoop::TYPE_DEFAULT);
  }
}

}  // namespace

CThread::CThread(const char* name) { CopyName(name, name_); }

CThread::~CThread() {
  if (started_) Stop();
  if (thread_ == INVALID_HANDLE_VALUE) return;
  if (GetCurrentThreadId() == thread_id_) {
    CloseHandle(thread_);  // destroyed by its own thread: it cannot wait for itself
    return;
  }
  // A stop that StopSoon began, or a loop that quit by itself, still leaves a thread to join.
  Join();
}

BOOL CThread::StartWithOptions(const Options& options) {
  base::CFunctionTrace trace(u"Thread::CThread::StartWithOptions");
  if (started_) return 0;
  base::CKernelEvent started_event;
  // Without the event the new thread could read the start-up data after this frame is gone.
  if (!started_event.Create(FALSE, FALSE)) return 0;
  StartupData startup{options, &started_event};
  startup_data_ = &startup;
  if (options.name) CopyName(options.name, name_);

  unsigned id = 0;
  uintptr_t handle = _beginthreadex(nullptr, options.stack_size, ThreadMain, this, 0, &id);
  if (handle == 0) {
    startup_data_ = nullptr;
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"创建线程失败,lasterror=%u",
              GetLastError());
    return 0;  // the event closes with its wrapper
  }
  thread_ = reinterpret_cast<HANDLE>(handle);

  started_event.Wait(INFINITE);
  startup_data_ = nullptr;
  started_ = true;
  // The debugger's thread-naming exception has no counterpart here; the log line names it.
  if (name_[0] != '\0') {
    base::Log(base::kLogLevelInfo, base::kLogCategoryThread, u"thread info | TID:%u NAME:%S",
              thread_id_, name_);
  } else {
    base::Log(base::kLogLevelError, base::kLogCategoryThread,
              u"线程没有关联名字，请在创建线程时指定名字");
  }
  return 1;
}

BOOL CThread::Stop() {
  base::Log(base::kLogLevelOldLog, base::kLogCategoryOldLog, u"Start Stop Thread %d\n", thread_id_);
  if (!started_) return 0;
  // The thread cannot wait for its own end.
  if (GetCurrentThreadId() == thread_id_) return 0;
  if (!StopSoon()) return 0;
  Join();
  stopping_ = 0;
  base::Log(base::kLogLevelOldLog, base::kLogCategoryOldLog, u"Finish Stop Thread %d\n",
            thread_id_);
  return 1;
}

BOOL CThread::StopSoon() {
  base::Log(base::kLogLevelOldLog, base::kLogCategoryOldLog, u"Stop Thread %d soon\n", thread_id_);
  if (stopping_.exchange(1) != 0) return 0;
  CThreadMessageLoop* loop = message_loop_.load();
  if (!loop) {
    // Nothing is on its way to end a thread, so nothing may claim a stop is under way: a
    // later start, and the destructor's join, rely on that.
    stopping_ = 0;
    return 0;
  }
  // Through the proxy: the loop may be going at this moment, and then the task is dropped.
  if (proxy_) {
    proxy_->PostTask(std::make_unique<CThreadQuitTask>());
  } else {
    loop->PostTask(std::make_unique<CThreadQuitTask>());
  }
  return 1;
}

void CThread::Run(CThreadMessageLoop* loop) { loop->Run(); }

void CThread::Join() {
  base::WaitForThreadHandle(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = INVALID_HANDLE_VALUE;
  started_ = false;
}

unsigned CThread::ThreadMain(void* argument) {
  auto* self = static_cast<CThread*>(argument);
  const Options options = self->startup_data_->options;
  std::unique_ptr<CThreadMessageLoop> loop = NewLoop(options.message_loop_type, self->name_);
  self->message_loop_.store(loop.get());
  self->proxy_ = loop->proxy();
  self->thread_id_ = GetCurrentThreadId();
  // The starter may return now; the start-up data is not touched after this.
  self->startup_data_->event->Set();

  bool com_initialised = false;
  if (options.com_init) {
    constexpr DWORD kOle = 0xFFFFFFFF;
    const DWORD flags =
        options.com_init_flags == kOle ? DWORD{COINIT_APARTMENTTHREADED} : options.com_init_flags;
    com_initialised = SUCCEEDED(CoInitializeEx(nullptr, flags));
  }
  self->Run(loop.get());
  if (com_initialised) CoUninitialize();

  self->message_loop_.store(nullptr);
  loop.reset();
  return 0;
}

}  // namespace Thread
