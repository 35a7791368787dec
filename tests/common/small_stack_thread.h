// Runs a function on a thread with a stack of a given size, as a reader runs on a thread the
// system or a host made: code whose stack use grows with its input overflows such a stack long
// before it would overflow the test's main thread.
#pragma once

#include <functional>

#include "browserplatform/handleapi.h"
#include "browserplatform/process.h"
#include "browserplatform/synchapi.h"

namespace testing_support {

// Runs `function` on a new thread with a stack of `stack_bytes` and waits until it has
// returned. False when the thread could not be started or waited for.
inline bool RunWithStack(unsigned stack_bytes, std::function<void()> function) {
  const auto start = [](void* argument) -> unsigned {
    (*static_cast<std::function<void()>*>(argument))();
    return 0;
  };
  const uintptr_t thread = _beginthreadex(nullptr, stack_bytes, start, &function, 0, nullptr);
  if (thread == 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(thread);
  const bool ended = WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0;
  CloseHandle(handle);
  return ended;
}

}  // namespace testing_support
