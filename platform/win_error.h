// The one place where POSIX error numbers become Win32 error codes.
#pragma once

#include "browserplatform/types.h"

namespace platform {

DWORD Win32ErrorFromErrno(int error);

// Sets the thread's last error from errno (or from `error`) and returns FALSE, for the
// failure paths of the BOOL-returning calls.
BOOL FailWithErrno(int error);
BOOL FailWith(DWORD win32_error);

}  // namespace platform
