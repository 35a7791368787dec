// Counting semaphores.
#include "browserplatform/synchapi.h"
#include "platform/waitable.h"
#include "platform/win_error.h"

namespace platform {
namespace {

class Semaphore final : public Waitable {
 public:
  Semaphore(LONG initial, LONG maximum)
      : Waitable(ObjectKind::kSemaphore), maximum_(maximum), count_(initial) {}

  bool IsSignaled() const override { return count_ > 0; }
  void Acquire() override { --count_; }

  BOOL Release(LONG release_count, LONG* previous_count) {
    std::lock_guard<std::mutex> lock(DispatcherMutex());
    // Both operands fit in 31 bits, so the sum cannot overflow 64.
    if (int64_t{count_} + release_count > maximum_) return FailWith(ERROR_TOO_MANY_POSTS);
    if (previous_count) *previous_count = count_;
    count_ += release_count;
    SatisfyWaiters();
    return TRUE;
  }

 private:
  const LONG maximum_;
  LONG count_;  // Guarded by DispatcherMutex().
};

}  // namespace
}  // namespace platform

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initial_count, LONG maximum_count,
                        LPCWSTR name) {
  if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (name != nullptr && name[0] != u'\0') {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return platform::InsertHandle(
      std::make_shared<platform::Semaphore>(initial_count, maximum_count));
}

BOOL ReleaseSemaphore(HANDLE handle, LONG release_count, LONG* previous_count) {
  if (release_count <= 0) return platform::FailWith(ERROR_INVALID_PARAMETER);
  auto semaphore =
      platform::LookupHandleAs<platform::Semaphore>(handle, platform::ObjectKind::kSemaphore);
  if (!semaphore) return FALSE;
  return semaphore->Release(release_count, previous_count);
}
