// Closing kernel-object handles (events, semaphores, threads, files, completion ports).
#pragma once

#include "browserplatform/types.h"

// Closes a handle. The object goes when its last handle is closed and no call is using it;
// a thread keeps running when its handle is closed. FALSE with ERROR_INVALID_HANDLE for a
// handle that is not open.
BROWSER_EXTERN_C BOOL CloseHandle(HANDLE handle);
