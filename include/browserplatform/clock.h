// Clocks: tick counts and the performance counter run on CLOCK_MONOTONIC, wall time on
// CLOCK_REALTIME. All may be called from any thread.
#pragma once

#include "browserplatform/types.h"

using __time64_t = int64_t;

// Milliseconds since an arbitrary start (boot), wrapping every 49.7 days.
BROWSER_EXTERN_C DWORD GetTickCount();
BROWSER_EXTERN_C ULONGLONG GetTickCount64();
// Monotonic counter in units of QueryPerformanceFrequency (nanoseconds here). Always TRUE
// unless the out pointer is null.
BROWSER_EXTERN_C BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
BROWSER_EXTERN_C BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
// Wall time in 100-nanosecond intervals since 1 January 1601 (UTC).
BROWSER_EXTERN_C void GetSystemTimeAsFileTime(FILETIME* time);
// Seconds since 1 January 1970 (UTC); also stored through `out` when it is not null.
BROWSER_EXTERN_C __time64_t _time64(__time64_t* out);
