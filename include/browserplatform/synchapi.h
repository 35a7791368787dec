// Kernel synchronisation: critical sections, events, semaphores, waits, Sleep and the
// interlocked operations.
//
// Thread safety: every call may be made from any thread at any time. Events, semaphores and
// thread handles are kernel objects: a HANDLE names them, CloseHandle (handleapi.h) releases
// the caller's handle, and the object lives on while a call is using it. In particular a
// thread blocked in a wait keeps the objects it waits for: closing one of their handles does
// not end the wait; it ends when the object is signalled or the time-out expires.
//
// Named objects are not supported: a non-empty name fails with ERROR_NOT_SUPPORTED. Security
// attributes are accepted and ignored.
#pragma once

#include "browserplatform/types.h"

// ---------------------------------------------------------------------------------------------
// Critical sections.
//
// A critical section is a recursive lock allocated by the caller: the owning thread may enter
// it again and must leave it as often as it entered. It is a plain lock, not a kernel object:
// it has no handle and cannot be waited on. The caller initialises it once before use and
// deletes it once when no thread holds or waits for it; using one that is not initialised, or
// leaving one the thread does not own, is a programming error with undefined result (as on
// Windows). The calls ignore a null pointer (TryEnterCriticalSection then returns FALSE).
struct CRITICAL_SECTION {
  // Holds the lock between InitializeCriticalSection and DeleteCriticalSection; never
  // touched by the caller.
  alignas(16) unsigned char Opaque[64];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
using PCRITICAL_SECTION = CRITICAL_SECTION*;

BROWSER_EXTERN_C void InitializeCriticalSection(CRITICAL_SECTION* section);
// The spin count is accepted and ignored. TRUE on success; FALSE with the last error set if the
// lock could not be created.
BROWSER_EXTERN_C BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section,
                                                            DWORD spin_count);
// Blocks until the calling thread owns the section.
BROWSER_EXTERN_C void EnterCriticalSection(CRITICAL_SECTION* section);
// TRUE if the calling thread now owns the section (it was free or already owned by this
// thread); FALSE at once if another thread owns it.
BROWSER_EXTERN_C BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
BROWSER_EXTERN_C void LeaveCriticalSection(CRITICAL_SECTION* section);
// Releases what InitializeCriticalSection* acquired; the storage may then be reused or freed.
BROWSER_EXTERN_C void DeleteCriticalSection(CRITICAL_SECTION* section);

// ---------------------------------------------------------------------------------------------
// Events and semaphores.

// Creates an event. A manual-reset event stays signalled until ResetEvent and releases every
// waiter; an auto-reset event releases exactly one waiter and is reset by that wait. Returns
// the handle, or nullptr with the last error set (ERROR_NOT_SUPPORTED for a name,
// ERROR_NOT_ENOUGH_MEMORY when the handle table is full).
BROWSER_EXTERN_C HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset,
                                     BOOL initial_state, LPCWSTR name);
// Signal / unsignal an event. FALSE with ERROR_INVALID_HANDLE for a handle that is not an
// open event.
BROWSER_EXTERN_C BOOL SetEvent(HANDLE event);
BROWSER_EXTERN_C BOOL ResetEvent(HANDLE event);

// Creates a counting semaphore, signalled while its count is above zero; each satisfied wait
// takes one count. Returns the handle, or nullptr with ERROR_INVALID_PARAMETER when
// maximum <= 0, initial < 0 or initial > maximum (ERROR_NOT_SUPPORTED for a name).
BROWSER_EXTERN_C HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial_count,
                                         LONG maximum_count, LPCWSTR name);
// Adds `release_count` to the count and stores the count before the call in *previous_count
// (if not null). Fails with ERROR_INVALID_PARAMETER for release_count <= 0, with
// ERROR_TOO_MANY_POSTS (count unchanged) if the count would pass the maximum, and with
// ERROR_INVALID_HANDLE for a handle that is not an open semaphore.
BROWSER_EXTERN_C BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG* previous_count);

// ---------------------------------------------------------------------------------------------
// Waits.
//
// Waitable objects: events, semaphores and threads (signalled once the thread function has
// returned; a wait never changes that). A satisfied wait takes what the object gives: an
// auto-reset event is reset, a semaphore loses one count.
//
// Results: WAIT_OBJECT_0 + index of the object that satisfied the wait (0 for a wait-all),
// WAIT_TIMEOUT when `milliseconds` passed first (measured on a monotonic clock; 0 only polls,
// INFINITE never expires), or WAIT_FAILED with the last error set: ERROR_INVALID_PARAMETER for
// count 0, count > MAXIMUM_WAIT_OBJECTS, a null array or the same object twice in a wait-all;
// ERROR_INVALID_HANDLE for a handle that is not an open waitable object.

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

BROWSER_EXTERN_C DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Wait-any (wait_all FALSE) returns as soon as one object is signalled; if several are, the
// lowest index wins and only that object is taken. Wait-all returns when every object is
// signalled at the same moment and takes them all in one atomic step: it never holds some of
// them while it blocks for the others, so other threads may take them meanwhile.
BROWSER_EXTERN_C DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                                              DWORD milliseconds);

// Suspends the calling thread for at least `milliseconds`; 0 gives up the rest of the time
// slice.
BROWSER_EXTERN_C void Sleep(DWORD milliseconds);

// ---------------------------------------------------------------------------------------------
// Interlocked operations: atomic, sequentially consistent, on naturally aligned variables that
// every thread accesses only through these calls.

// Return the new value.
inline LONG InterlockedIncrement(volatile LONG* addend) {
  return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(volatile LONG* addend) {
  return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

// Return the value before the operation.
inline LONG InterlockedExchangeAdd(volatile LONG* addend, LONG value) {
  return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(volatile LONG* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline void* InterlockedExchangePointer(void* volatile* target, void* value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

// Store `exchange` if the current value equals `comparand`; return the value found.
inline LONG InterlockedCompareExchange(volatile LONG* destination, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}
inline LONGLONG InterlockedCompareExchange64(volatile LONGLONG* destination, LONGLONG exchange,
                                             LONGLONG comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}
inline void* InterlockedCompareExchangePointer(void* volatile* destination, void* exchange,
                                               void* comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}
