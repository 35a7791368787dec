// Costs of the thread runtime.
//
//   PostAndRun/<n>        n tasks posted through the proxy of a CThread with the default loop,
//                         until the last has run; items/s is tasks posted and run per second
//   WakeUpLatency/<pump>  one task posted to an idle loop until it has run, for the default
//                         (event), UI (window message) and I/O (completion port) pumps
#include <benchmark/benchmark.h>

#include <memory>

#include "browserplatform/handleapi.h"
#include "browserplatform/synchapi.h"
#include "thread/task.h"
#include "thread/thread.h"

namespace {

class NoopTask : public Thread::CTask {
 public:
  void Run() override {}
};

class SignalTask : public Thread::CTask {
 public:
  explicit SignalTask(HANDLE event) : event_(event) {}
  void Run() override { SetEvent(event_); }

 private:
  HANDLE event_;
};

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

bool StartThread(Thread::CThread& thread, DWORD loop_type) {
  Thread::CThread::Options options;
  options.message_loop_type = loop_type;
  return thread.StartWithOptions(options) != 0;
}

void BM_PostAndRun(benchmark::State& state) {
  Thread::CThread thread("bench");
  if (!StartThread(thread, Thread::CThreadMessageLoop::TYPE_DEFAULT)) {
    state.SkipWithError("thread did not start");
    return;
  }
  ScopedHandle done(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  auto proxy = thread.message_loop_proxy();
  const int64_t count = state.range(0);
  for (auto _ : state) {
    for (int64_t i = 1; i < count; ++i) proxy->PostTask(std::make_unique<NoopTask>());
    proxy->PostTask(std::make_unique<SignalTask>(done.get()));
    WaitForSingleObject(done.get(), INFINITE);
  }
  state.SetItemsProcessed(state.iterations() * count);
  thread.Stop();
}
BENCHMARK(BM_PostAndRun)->Arg(1)->Arg(100)->Arg(10000)->UseRealTime();

void BM_WakeUpLatency(benchmark::State& state) {
  Thread::CThread thread("bench");
  if (!StartThread(thread, static_cast<DWORD>(state.range(0)))) {
    state.SkipWithError("thread did not start");
    return;
  }
  ScopedHandle done(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  auto proxy = thread.message_loop_proxy();
  for (auto _ : state) {
    proxy->PostTask(std::make_unique<SignalTask>(done.get()));
    WaitForSingleObject(done.get(), INFINITE);
  }
  thread.Stop();
}
BENCHMARK(BM_WakeUpLatency)
    ->ArgName("pump")
    ->Arg(Thread::CThreadMessageLoop::TYPE_DEFAULT)
    ->Arg(Thread::CThreadMessageLoop::TYPE_UI)
    ->Arg(Thread::CThreadMessageLoop::TYPE_IO)
    ->UseRealTime();

}  // namespace
