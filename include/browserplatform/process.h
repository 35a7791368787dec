// Threads: the C runtime's _beginthreadex, thread ids and exit codes.
//
// A thread handle is a kernel object (see synchapi.h): it is signalled once the thread's start
// function has returned, and stays signalled. Closing the handle does not affect the thread,
// which keeps running and frees its own state when it ends. Every call may be made from any
// thread.
#pragma once

#include "browserplatform/types.h"

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x4;

// Starts a thread that runs start(argument); its return value becomes the exit code. The
// security argument is ignored. stack_size 0 takes the default stack, any other size is used,
// rounded up to the system minimum and a whole number of pages. init_flag must be 0.
//
// Returns a handle (as uintptr_t) that the caller closes with CloseHandle, and stores the new
// thread's id (what GetCurrentThreadId returns on it) in *thread_id if that is not null, before
// returning. On failure returns 0 with errno and the last error set: EINVAL /
// ERROR_INVALID_PARAMETER for a null start function or a non-zero init_flag (suspended start
// is not supported), EAGAIN / ERROR_NOT_ENOUGH_MEMORY when no thread can be created.
BROWSER_EXTERN_C uintptr_t _beginthreadex(void* security, unsigned stack_size,
                                          unsigned (*start)(void*), void* argument,
                                          unsigned init_flag, unsigned* thread_id);

// The calling thread's id: the kernel's thread id, unique among running threads.
BROWSER_EXTERN_C DWORD GetCurrentThreadId();

// Stores STILL_ACTIVE while the thread runs, and the start function's return value after.
// FALSE with ERROR_INVALID_HANDLE for a handle that is not an open thread, or
// ERROR_INVALID_PARAMETER for a null exit_code.
BROWSER_EXTERN_C BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code);
