// Makes kernel-object creation fail for a scope, the way a full handle table does: while it
// lives, at most `spare` more handles can be opened (CreateEventW, CreateSemaphoreW, ... fail
// with ERROR_NOT_ENOUGH_MEMORY after that). Not for tests that run other threads meanwhile.
#pragma once

#include <cstddef>

#include "platform/handle_table.h"

namespace testing_support {

class ScopedHandleLimit {
 public:
  explicit ScopedHandleLimit(size_t spare) {
    platform::SetHandleLimitForTesting(platform::OpenHandleCountForTesting() + spare);
  }
  ~ScopedHandleLimit() { platform::SetHandleLimitForTesting(platform::kNoHandleLimit); }
  ScopedHandleLimit(const ScopedHandleLimit&) = delete;
  ScopedHandleLimit& operator=(const ScopedHandleLimit&) = delete;
};

}  // namespace testing_support
