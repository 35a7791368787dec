// MsgWaitForMultipleObjectsEx: a wait-any over the caller's objects plus its message queue.
//
// A window timer falls due without anyone signalling the queue, so the wait is cut into
// slices that end at the next due time; the queue then raises QS_TIMER itself when the wait
// is prepared again.
#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <optional>

#include "browserplatform/synchapi.h"
#include "browserplatform/winuser.h"
#include "platform/window_registry.h"

namespace {

using platform::MessageClock;

constexpr DWORD kKnownFlags = MWMO_WAITALL | MWMO_ALERTABLE | MWMO_INPUTAVAILABLE;

DWORD Fail(DWORD error) {
  SetLastError(error);
  return WAIT_FAILED;
}

// Milliseconds from `now` to `until`, rounded up so that the slice does not end early.
DWORD MillisecondsUntil(MessageClock::time_point now, MessageClock::time_point until) {
  if (until <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
  return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds,
                                  DWORD wake_mask, DWORD flags) {
  if (count > MAXIMUM_WAIT_OBJECTS - 1 || (count > 0 && handles == nullptr) ||
      (flags & ~kKnownFlags) != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (flags & MWMO_WAITALL) return Fail(ERROR_NOT_SUPPORTED);

  // The references keep every object alive for the whole wait; the queue waits last, so a
  // signalled handle wins over input, as on Windows.
  std::array<std::shared_ptr<platform::Waitable>, MAXIMUM_WAIT_OBJECTS> objects;
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = platform::LookupWaitable(handles[i]);
    if (!objects[i]) return WAIT_FAILED;
  }
  std::shared_ptr<platform::MessageQueue> queue = platform::CurrentMessageQueue();
  objects[count] = queue;
  const std::span<const std::shared_ptr<platform::Waitable>> waited(objects.data(), count + 1);

  const bool input_available = (flags & MWMO_INPUTAVAILABLE) != 0;
  const MessageClock::time_point start = MessageClock::now();
  const MessageClock::time_point deadline = start + std::chrono::milliseconds(milliseconds);
  for (MessageClock::time_point now = start;; now = MessageClock::now()) {
    std::optional<MessageClock::time_point> next_timer;
    {
      std::lock_guard<std::mutex> lock(platform::DispatcherMutex());
      next_timer = queue->PrepareWait(wake_mask, input_available, now);
    }
    DWORD slice = milliseconds == INFINITE ? INFINITE : MillisecondsUntil(now, deadline);
    if (next_timer) slice = std::min(slice, MillisecondsUntil(now, *next_timer));

    DWORD result = platform::WaitForObjects(waited, false, slice);
    {
      std::lock_guard<std::mutex> lock(platform::DispatcherMutex());
      queue->EndWait();
    }
    if (result != WAIT_TIMEOUT) return result;
    if (milliseconds != INFINITE && MessageClock::now() >= deadline) return WAIT_TIMEOUT;
  }
}
