// Timer queues: one worker thread per queue over a deadline-ordered schedule.
//
// Thread safety: a queue's mutex guards its schedule, its timers' mutable state and which
// timer is running. The worker takes the next due timer, re-arms it if periodic, marks it
// running and calls it with the mutex released, so a callback may use every call of its own
// queue. Deleting a running timer waits on `callback_done_` until the worker clears the mark,
// unless the deleting thread is the worker itself.
//
// Ownership: the worker and the queue's handle object share the core; a timer refers to its
// core and the core holds its live timers. Deleting the queue clears the core's side of that
// cycle.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "browserplatform/synchapi.h"
#include "browserplatform/timerqueue.h"
#include "platform/handle_table.h"
#include "platform/no_destructor.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

class TimerQueueCore;

class Timer final : public KernelObject {
 public:
  using Schedule = std::multimap<Clock::time_point, std::shared_ptr<Timer>>;

  Timer(std::shared_ptr<TimerQueueCore> core, WAITORTIMERCALLBACK callback, void* parameter,
        bool only_once)
      : KernelObject(ObjectKind::kTimer),
        core(std::move(core)),
        callback(callback),
        parameter(parameter),
        only_once(only_once) {}

  const std::shared_ptr<TimerQueueCore> core;
  const WAITORTIMERCALLBACK callback;
  void* const parameter;
  const bool only_once;

  // Guarded by the core's mutex.
  HANDLE handle = nullptr;
  Clock::duration period{};                // Zero for a one-shot timer.
  std::optional<Schedule::iterator> slot;  // Its schedule entry while armed.
  bool deleted = false;
  std::vector<HANDLE> completion_events;  // Set when the running callback returns.
};

void SetEvents(const std::vector<HANDLE>& events) {
  for (HANDLE event : events) SetEvent(event);
}

// The first planned time after `now`: a late worker skips the calls it missed.
Clock::time_point NextPlannedTime(Clock::time_point planned, Clock::duration period,
                                  Clock::time_point now) {
  Clock::time_point next = planned + period;
  if (next <= now) next += ((now - next) / period + 1) * period;
  return next;
}

class TimerQueueCore : public std::enable_shared_from_this<TimerQueueCore> {
 public:
  TimerQueueCore() = default;
  TimerQueueCore(const TimerQueueCore&) = delete;
  TimerQueueCore& operator=(const TimerQueueCore&) = delete;

  BOOL AddTimer(HANDLE* new_timer, WAITORTIMERCALLBACK callback, void* parameter, DWORD due_ms,
                DWORD period_ms, ULONG flags) {
    auto timer = std::make_shared<Timer>(shared_from_this(), callback, parameter,
                                         (flags & WT_EXECUTEONLYONCE) != 0);
    HANDLE handle = InsertHandle(timer);
    if (!handle) return FALSE;
    std::unique_lock<std::mutex> lock(mutex_);
    DWORD error = ERROR_SUCCESS;
    if (stopping_ || timer->deleted) {
      error = ERROR_INVALID_HANDLE;
    } else if (!StartWorkerLocked()) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != ERROR_SUCCESS) {
      lock.unlock();
      RemoveHandle(handle);
      return FailWith(error);
    }
    // Stored before the timer is armed, so that even an immediate first call sees it.
    *new_timer = handle;
    timer->handle = handle;
    timers_.insert(timer);
    SetPeriodLocked(*timer, period_ms);
    ArmLocked(timer, Clock::now() + std::chrono::milliseconds(due_ms));
    return TRUE;
  }

  BOOL ChangeTimer(const std::shared_ptr<Timer>& timer, DWORD due_ms, DWORD period_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timer->deleted) return FailWith(ERROR_INVALID_HANDLE);
    DisarmLocked(*timer);
    SetPeriodLocked(*timer, period_ms);
    ArmLocked(timer, Clock::now() + std::chrono::milliseconds(due_ms));
    return TRUE;
  }

  // The caller has already released the timer's handle.
  BOOL DeleteTimer(const std::shared_ptr<Timer>& timer, HANDLE completion_event) {
    std::unique_lock<std::mutex> lock(mutex_);
    timer->deleted = true;
    DisarmLocked(*timer);
    timers_.erase(timer);
    if (running_ != timer.get()) {
      lock.unlock();
      if (completion_event && completion_event != INVALID_HANDLE_VALUE) SetEvent(completion_event);
      return TRUE;
    }
    if (completion_event == INVALID_HANDLE_VALUE) {
      // A callback cannot wait for itself to return.
      if (OnWorkerLocked()) return FailWith(ERROR_IO_PENDING);
      callback_done_.wait(lock, [&] { return running_ != timer.get(); });
      return TRUE;
    }
    if (completion_event) timer->completion_events.push_back(completion_event);
    return FailWith(ERROR_IO_PENDING);
  }

  // Deletes every timer and stops the worker; a second call does nothing.
  BOOL Shutdown(HANDLE completion_event) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) return TRUE;
    stopping_ = true;
    std::vector<HANDLE> handles;
    for (const std::shared_ptr<Timer>& timer : timers_) {
      timer->deleted = true;
      timer->slot.reset();
      handles.push_back(timer->handle);
    }
    schedule_.clear();
    timers_.clear();
    const bool busy = running_ != nullptr;
    const bool wait = completion_event == INVALID_HANDLE_VALUE && !OnWorkerLocked();
    std::thread worker = std::move(worker_);
    const bool has_event = completion_event && completion_event != INVALID_HANDLE_VALUE;
    if (has_event && worker.joinable()) exit_events_.push_back(completion_event);
    wake_.notify_all();
    lock.unlock();

    for (HANDLE handle : handles) RemoveHandle(handle);
    if (has_event && !worker.joinable()) SetEvent(completion_event);
    if (worker.joinable()) {
      if (wait) {
        worker.join();
      } else {
        // The worker holds its own reference to the core and ends after the running callback.
        worker.detach();
      }
    }
    if (busy && !wait) return FailWith(ERROR_IO_PENDING);
    return TRUE;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      if (schedule_.empty()) {
        wake_.wait(lock);
        continue;
      }
      auto next = schedule_.begin();
      const Clock::time_point planned = next->first;
      const Clock::time_point now = Clock::now();
      if (now < planned) {
        wake_.wait_until(lock, planned);
        continue;
      }
      std::shared_ptr<Timer> timer = std::move(next->second);
      schedule_.erase(next);
      timer->slot.reset();
      if (timer->period != Clock::duration::zero()) {
        ArmLocked(timer, NextPlannedTime(planned, timer->period, now));
      }
      running_ = timer.get();
      lock.unlock();
      timer->callback(timer->parameter, TRUE);
      lock.lock();
      running_ = nullptr;
      callback_done_.notify_all();
      if (!timer->completion_events.empty()) {
        std::vector<HANDLE> events = std::move(timer->completion_events);
        timer->completion_events.clear();
        lock.unlock();
        SetEvents(events);
        lock.lock();
      }
    }
    std::vector<HANDLE> events = std::move(exit_events_);
    lock.unlock();
    SetEvents(events);
  }

  bool StartWorkerLocked() {
    if (worker_.joinable()) return true;
    try {
      worker_ = std::thread([core = shared_from_this()] { core->Run(); });
    } catch (const std::system_error&) {
      return false;
    }
    worker_id_ = worker_.get_id();
    return true;
  }

  bool OnWorkerLocked() const { return std::this_thread::get_id() == worker_id_; }

  void SetPeriodLocked(Timer& timer, DWORD period_ms) {
    timer.period = timer.only_once ? Clock::duration::zero()
                                   : Clock::duration(std::chrono::milliseconds(period_ms));
  }

  void ArmLocked(const std::shared_ptr<Timer>& timer, Clock::time_point when) {
    timer->slot = schedule_.emplace(when, timer);
    wake_.notify_one();
  }

  void DisarmLocked(Timer& timer) {
    if (!timer.slot) return;
    schedule_.erase(*timer.slot);
    timer.slot.reset();
  }

  std::mutex mutex_;
  std::condition_variable wake_;           // The worker: schedule changed or stopping.
  std::condition_variable callback_done_;  // Deleters waiting for a running callback.
  // All guarded by mutex_.
  Timer::Schedule schedule_;
  std::unordered_set<std::shared_ptr<Timer>> timers_;  // Live timers, armed or not.
  const Timer* running_ = nullptr;                     // Whose callback runs now.
  bool stopping_ = false;
  std::thread worker_;  // Started with the first timer.
  std::thread::id worker_id_;
  std::vector<HANDLE> exit_events_;  // Set when the worker ends.
};

class TimerQueue final : public KernelObject {
 public:
  TimerQueue() : KernelObject(ObjectKind::kTimerQueue), core(std::make_shared<TimerQueueCore>()) {}
  // A queue released without DeleteTimerQueueEx (CloseHandle by mistake) still stops its
  // worker; after DeleteTimerQueueEx this does nothing.
  ~TimerQueue() override {
    DWORD error = GetLastError();
    core->Shutdown(nullptr);
    SetLastError(error);
  }

  const std::shared_ptr<TimerQueueCore> core;
};

const std::shared_ptr<TimerQueueCore>& DefaultCore() {
  static NoDestructor<std::shared_ptr<TimerQueueCore>> core(std::make_shared<TimerQueueCore>());
  return *core;
}

// The core a queue handle names (null: the default queue); null with ERROR_INVALID_HANDLE.
std::shared_ptr<TimerQueueCore> LookupCore(HANDLE queue) {
  if (!queue) return DefaultCore();
  auto object = LookupHandleAs<TimerQueue>(queue, ObjectKind::kTimerQueue);
  return object ? object->core : nullptr;
}

std::shared_ptr<Timer> LookupTimer(HANDLE queue, HANDLE timer_handle) {
  std::shared_ptr<TimerQueueCore> core = LookupCore(queue);
  if (!core) return nullptr;
  auto timer = LookupHandleAs<Timer>(timer_handle, ObjectKind::kTimer);
  if (!timer) return nullptr;
  if (timer->core != core) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return timer;
}

}  // namespace
}  // namespace platform

HANDLE CreateTimerQueue() {
  return platform::InsertHandle(std::make_shared<platform::TimerQueue>());
}

BOOL CreateTimerQueueTimer(HANDLE* new_timer, HANDLE queue, WAITORTIMERCALLBACK callback,
                           void* parameter, DWORD due_ms, DWORD period_ms, ULONG flags) {
  if (!new_timer || !callback) return platform::FailWith(ERROR_INVALID_PARAMETER);
  std::shared_ptr<platform::TimerQueueCore> core = platform::LookupCore(queue);
  if (!core) return FALSE;
  return core->AddTimer(new_timer, callback, parameter, due_ms, period_ms, flags);
}

BOOL ChangeTimerQueueTimer(HANDLE queue, HANDLE timer_handle, ULONG due_ms, ULONG period_ms) {
  std::shared_ptr<platform::Timer> timer = platform::LookupTimer(queue, timer_handle);
  if (!timer) return FALSE;
  return timer->core->ChangeTimer(timer, due_ms, period_ms);
}

BOOL DeleteTimerQueueTimer(HANDLE queue, HANDLE timer_handle, HANDLE completion_event) {
  std::shared_ptr<platform::Timer> timer = platform::LookupTimer(queue, timer_handle);
  if (!timer) return FALSE;
  // Of two threads deleting the same timer, the one that releases the handle goes on.
  if (!platform::RemoveHandle(timer_handle)) return FALSE;
  return timer->core->DeleteTimer(timer, completion_event);
}

BOOL DeleteTimerQueueEx(HANDLE queue, HANDLE completion_event) {
  auto object =
      platform::LookupHandleAs<platform::TimerQueue>(queue, platform::ObjectKind::kTimerQueue);
  if (!object) return FALSE;
  if (!platform::RemoveHandle(queue)) return FALSE;
  return object->core->Shutdown(completion_event);
}

BOOL DeleteTimerQueue(HANDLE queue) { return DeleteTimerQueueEx(queue, nullptr); }
