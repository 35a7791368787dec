// _beginthreadex over detached pthreads.
//
// Nobody joins at the pthread level: the thread handle is a waitable object that the thread
// signals when its start function returns, and the thread owns a reference to it, so either
// side may finish first without leaks or blocking.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "browserplatform/process.h"
#include "platform/waitable.h"
#include "platform/win_error.h"

namespace platform {
namespace {

class Thread final : public Waitable {
 public:
  Thread() : Waitable(ObjectKind::kThread) {}

  bool IsSignaled() const override { return finished_; }
  void Acquire() override {}

  void Finish(DWORD exit_code) {
    std::lock_guard<std::mutex> lock(DispatcherMutex());
    exit_code_ = exit_code;
    finished_ = true;
    SatisfyWaiters();
  }

  DWORD ExitCode() const {
    std::lock_guard<std::mutex> lock(DispatcherMutex());
    return finished_ ? exit_code_ : STILL_ACTIVE;
  }

 private:
  bool finished_ = false;  // Guarded by DispatcherMutex().
  DWORD exit_code_ = 0;    // Guarded by DispatcherMutex().
};

// The creator waits here until the new thread has published its id.
struct IdHandshake {
  std::mutex mutex;
  std::condition_variable published;
  bool has_id = false;
  DWORD id = 0;
};

struct StartContext {
  std::shared_ptr<Thread> thread;
  unsigned (*start)(void*);
  void* argument;
  IdHandshake* handshake;  // Lives on the creator's stack until has_id is seen.
};

void* ThreadMain(void* raw_context) {
  std::unique_ptr<StartContext> context(static_cast<StartContext*>(raw_context));
  {
    std::lock_guard<std::mutex> lock(context->handshake->mutex);
    context->handshake->id = GetCurrentThreadId();
    context->handshake->has_id = true;
    context->handshake->published.notify_one();
  }
  context->handshake = nullptr;
  unsigned exit_code = context->start(context->argument);
  context->thread->Finish(exit_code);
  return nullptr;
}

size_t RoundStackSize(unsigned requested) {
  const auto page = sysconf(_SC_PAGESIZE);
  const auto minimum = sysconf(_SC_THREAD_STACK_MIN);
  size_t page_size = page > 0 ? static_cast<size_t>(page) : 4096;
  size_t size = requested;
  if (minimum > 0 && size < static_cast<size_t>(minimum)) size = static_cast<size_t>(minimum);
  // Sanitizer runtimes need room of their own on each stack; Windows does not go below the
  // 64 KiB allocation granularity either.
  if (size < 64 * 1024) size = 64 * 1024;
  return (size + page_size - 1) / page_size * page_size;
}

uintptr_t FailThreadStart(int error) {
  errno = error;
  FailWithErrno(error);
  return 0;
}

// Starts the detached thread; 0 on success, else the pthread error.
int StartDetached(unsigned stack_size, std::unique_ptr<StartContext>& context) {
  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error != 0) return error;
  error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (error == 0 && stack_size != 0) {
    error = pthread_attr_setstacksize(&attributes, RoundStackSize(stack_size));
  }
  pthread_t thread;
  if (error == 0) error = pthread_create(&thread, &attributes, ThreadMain, context.get());
  // On success the thread owns the context.
  if (error == 0) context.release();
  pthread_attr_destroy(&attributes);
  return error;
}

}  // namespace
}  // namespace platform

uintptr_t _beginthreadex(void*, unsigned stack_size, unsigned (*start)(void*), void* argument,
                         unsigned init_flag, unsigned* thread_id) {
  using platform::FailThreadStart;
  if (start == nullptr || init_flag != 0) return FailThreadStart(EINVAL);

  auto thread = std::make_shared<platform::Thread>();
  HANDLE handle = platform::InsertHandle(thread);
  if (!handle) return FailThreadStart(ENOMEM);

  platform::IdHandshake handshake;
  auto context = std::make_unique<platform::StartContext>(
      platform::StartContext{thread, start, argument, &handshake});
  int error = platform::StartDetached(stack_size, context);
  if (error != 0) {
    platform::RemoveHandle(handle);
    return FailThreadStart(error);
  }
  {
    std::unique_lock<std::mutex> lock(handshake.mutex);
    handshake.published.wait(lock, [&] { return handshake.has_id; });
  }
  if (thread_id) *thread_id = handshake.id;
  return reinterpret_cast<uintptr_t>(handle);
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

BOOL GetExitCodeThread(HANDLE handle, DWORD* exit_code) {
  if (!exit_code) return platform::FailWith(ERROR_INVALID_PARAMETER);
  auto thread = platform::LookupHandleAs<platform::Thread>(handle, platform::ObjectKind::kThread);
  if (!thread) return FALSE;
  *exit_code = thread->ExitCode();
  return TRUE;
}
