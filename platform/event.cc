// Manual- and auto-reset events.
#include "browserplatform/synchapi.h"
#include "platform/waitable.h"
#include "platform/win_error.h"

namespace platform {
namespace {

class Event final : public Waitable {
 public:
  Event(bool manual_reset, bool signaled)
      : Waitable(ObjectKind::kEvent), manual_reset_(manual_reset), signaled_(signaled) {}

  bool IsSignaled() const override { return signaled_; }
  void Acquire() override {
    if (!manual_reset_) signaled_ = false;
  }

  void Set() {
    std::lock_guard<std::mutex> lock(DispatcherMutex());
    signaled_ = true;
    SatisfyWaiters();
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(DispatcherMutex());
    signaled_ = false;
  }

 private:
  const bool manual_reset_;
  bool signaled_;  // Guarded by DispatcherMutex().
};

}  // namespace
}  // namespace platform

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
  if (name != nullptr && name[0] != u'\0') {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return platform::InsertHandle(
      std::make_shared<platform::Event>(manual_reset != FALSE, initial_state != FALSE));
}

BOOL SetEvent(HANDLE handle) {
  auto event = platform::LookupHandleAs<platform::Event>(handle, platform::ObjectKind::kEvent);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  auto event = platform::LookupHandleAs<platform::Event>(handle, platform::ObjectKind::kEvent);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}
