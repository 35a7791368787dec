#include "platform/waitable.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>

#include "browserplatform/synchapi.h"
#include "platform/no_destructor.h"

namespace platform {

using Objects = std::span<const std::shared_ptr<Waitable>>;

struct WaitBlock {
  Objects objects;
  bool wait_all;
  std::optional<DWORD> result;  // Set by whoever satisfied the wait.
  std::condition_variable wake;
};

namespace {

using Clock = std::chrono::steady_clock;

// Satisfies the wait if it can, taking what it takes; DispatcherMutex() held.
std::optional<DWORD> TrySatisfy(Objects objects, bool wait_all) {
  if (wait_all) {
    for (const auto& object : objects) {
      if (!object->IsSignaled()) return std::nullopt;
    }
    for (const auto& object : objects) object->Acquire();
    return WAIT_OBJECT_0;
  }
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->IsSignaled()) {
      objects[i]->Acquire();
      return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    }
  }
  return std::nullopt;
}

// Keeps a blocked waiter queued on its objects.
class QueuedWaiter {
 public:
  explicit QueuedWaiter(WaitBlock* waiter) : waiter_(waiter) {
    for (const auto& object : waiter_->objects) object->AddWaiter(waiter_);
  }
  ~QueuedWaiter() {
    for (const auto& object : waiter_->objects) object->RemoveWaiter(waiter_);
  }
  QueuedWaiter(const QueuedWaiter&) = delete;
  QueuedWaiter& operator=(const QueuedWaiter&) = delete;

 private:
  WaitBlock* const waiter_;
};

}  // namespace

std::mutex& DispatcherMutex() {
  // Threads may still signal objects while static destructors run at exit.
  static NoDestructor<std::mutex> mutex;
  return *mutex;
}

void Waitable::AddWaiter(WaitBlock* waiter) { waiters_.push_back(waiter); }

void Waitable::RemoveWaiter(WaitBlock* waiter) {
  auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
  if (it != waiters_.end()) waiters_.erase(it);
}

size_t Waitable::CountBlockedWaiters() const {
  std::lock_guard<std::mutex> lock(DispatcherMutex());
  return static_cast<size_t>(std::count_if(
      waiters_.begin(), waiters_.end(), [](const WaitBlock* waiter) { return !waiter->result; }));
}

void Waitable::SatisfyWaiters() {
  for (WaitBlock* waiter : waiters_) {
    // Only waits on this object can have become satisfiable, and none once it is taken.
    if (!IsSignaled()) return;
    if (waiter->result) continue;  // Satisfied already, not yet dequeued.
    waiter->result = TrySatisfy(waiter->objects, waiter->wait_all);
    if (waiter->result) waiter->wake.notify_one();
  }
}

std::shared_ptr<Waitable> LookupWaitable(HANDLE handle) {
  std::shared_ptr<KernelObject> object = LookupHandle(handle);
  if (!object) return nullptr;
  switch (object->kind()) {
    case ObjectKind::kEvent:
    case ObjectKind::kSemaphore:
    case ObjectKind::kThread:
      return std::static_pointer_cast<Waitable>(std::move(object));
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
  }
}

DWORD WaitForObjects(Objects objects, bool wait_all, DWORD milliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock<std::mutex> lock(DispatcherMutex());
  if (auto result = TrySatisfy(objects, wait_all)) return *result;
  if (milliseconds == 0) return WAIT_TIMEOUT;

  WaitBlock waiter{objects, wait_all, std::nullopt, {}};
  QueuedWaiter queued(&waiter);
  auto satisfied = [&] { return waiter.result.has_value(); };
  if (milliseconds == INFINITE) {
    waiter.wake.wait(lock, satisfied);
  } else if (!waiter.wake.wait_until(lock, deadline, satisfied)) {
    return WAIT_TIMEOUT;
  }
  return *waiter.result;
}

}  // namespace platform
