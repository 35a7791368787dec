// Test seam: makes critical sections fail to initialise, the one start-up failure a library's
// load-time initialisation can meet, so that tests can see what the library does then.
#pragma once

#include "browserplatform/export.h"

namespace platform {

// While on, InitializeCriticalSectionAndSpinCount initialises nothing and fails with
// ERROR_NOT_ENOUGH_MEMORY (InitializeCriticalSection is not affected). Process-wide; any
// thread. Not for tests that run other threads meanwhile.
BROWSER_PLATFORM_API void SetCriticalSectionInitFailsForTesting(bool fails);

}  // namespace platform
