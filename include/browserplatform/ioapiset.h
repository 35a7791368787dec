// I/O completion ports, as far as a message pump uses them: a thread-safe FIFO of packets that
// any thread posts to and worker threads dequeue from with a time-out. Ports are not
// associated with files.
//
// Every call may be made from any thread. The port is a kernel object: CloseHandle releases
// it, and threads blocked in GetQueuedCompletionStatus then return (see there); packets still
// queued are dropped.
#pragma once

#include "browserplatform/types.h"

struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

// Only CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, key, threads) is supported: it
// creates a new port (key and thread count are ignored) and returns its handle. Any other
// combination returns nullptr with ERROR_INVALID_PARAMETER; a full handle table gives
// ERROR_NOT_ENOUGH_MEMORY.
BROWSER_EXTERN_C HANDLE CreateIoCompletionPort(HANDLE file, HANDLE existing_port,
                                               ULONG_PTR completion_key, DWORD concurrent_threads);

// Queues a packet carrying the three values untouched (the OVERLAPPED pointer is not
// dereferenced; the caller keeps ownership) and wakes one waiting thread. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not an open port.
BROWSER_EXTERN_C BOOL PostQueuedCompletionStatus(HANDLE port, DWORD bytes_transferred,
                                                 ULONG_PTR completion_key, LPOVERLAPPED overlapped);

// Dequeues the oldest packet, waiting up to `milliseconds` (0 polls, INFINITE forever) for
// one, and returns TRUE with its values. Otherwise returns FALSE with *overlapped set to
// nullptr and the last error: WAIT_TIMEOUT when the time passed, ERROR_ABANDONED_WAIT_0 when
// the port was closed during the wait, ERROR_INVALID_HANDLE for a handle that is not an open
// port, ERROR_INVALID_PARAMETER for a null out-pointer.
BROWSER_EXTERN_C BOOL GetQueuedCompletionStatus(HANDLE port, DWORD* bytes_transferred,
                                                ULONG_PTR* completion_key, LPOVERLAPPED* overlapped,
                                                DWORD milliseconds);
