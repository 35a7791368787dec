// WaitForSingleObject, WaitForMultipleObjects and Sleep: argument checks in front of the
// dispatcher (waitable.h).
#include <array>
#include <chrono>
#include <thread>

#include "browserplatform/synchapi.h"
#include "platform/waitable.h"

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                             DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  // The references keep every object alive for the whole wait, even if its handle is closed.
  std::array<std::shared_ptr<platform::Waitable>, MAXIMUM_WAIT_OBJECTS> objects;
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = platform::LookupWaitable(handles[i]);
    if (!objects[i]) return WAIT_FAILED;
  }
  if (wait_all) {
    // Taking one object twice in one atomic step has no meaning.
    for (DWORD i = 0; i < count; ++i) {
      for (DWORD j = i + 1; j < count; ++j) {
        if (objects[i] == objects[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
      }
    }
  }
  return platform::WaitForObjects({objects.data(), count}, wait_all != FALSE, milliseconds);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}
