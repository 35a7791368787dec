// Timer queues: callbacks run after a due time, once or periodically.
//
// Each queue has one worker thread that runs the callbacks of its timers, one at a time, with
// TRUE as second argument. A callback may create, change and delete timers of its own queue
// (itself included) without deadlock. A periodic timer fires at due, due + period,
// due + 2 * period, ... counted from its planned times; when the worker falls behind it fires
// once and goes on with the next planned time still ahead, without a burst of missed calls.
// Times are measured on a monotonic clock.
//
// Handles: queue and timer handles name kernel objects, so a stale or forged one is refused
// with ERROR_INVALID_HANDLE. A timer handle is released by DeleteTimerQueueTimer or by the
// deletion of its queue, a queue handle by DeleteTimerQueue(Ex); neither is passed to
// CloseHandle. A null queue handle names the process-wide default queue, which is never
// deleted.
//
// Completion events of the deletion calls, the way the system waits for callbacks to end:
//  - INVALID_HANDLE_VALUE: the call returns after any running callback of the timer (of the
//    queue, for DeleteTimerQueueEx) has finished, and no callback of it starts afterwards.
//    Called from a callback of the same queue, it cannot wait for itself: it deletes without
//    waiting and returns FALSE with ERROR_IO_PENDING.
//  - nullptr: the call does not wait; the timer never fires again. If one of its callbacks is
//    running at that moment, it returns FALSE with ERROR_IO_PENDING (the deletion still
//    happened and must not be repeated).
//  - an event handle: as nullptr, and the event is set once the running callbacks have
//    finished (at once if none runs).
//
// Every call may be made from any thread.
#pragma once

#include "browserplatform/types.h"

using WAITORTIMERCALLBACK = void (*)(void* parameter, BOOLEAN timer_or_wait_fired);

// Flags of CreateTimerQueueTimer: all accepted. Callbacks always run on the queue's worker;
// WT_EXECUTEONLYONCE makes a one-shot timer whatever its period.
constexpr ULONG WT_EXECUTEDEFAULT = 0x00;
constexpr ULONG WT_EXECUTEONLYONCE = 0x08;
constexpr ULONG WT_EXECUTELONGFUNCTION = 0x10;
constexpr ULONG WT_EXECUTEINTIMERTHREAD = 0x20;

// Creates a queue; nullptr with the last error set on failure.
BROWSER_EXTERN_C HANDLE CreateTimerQueue();

// Creates a timer in `queue` (null: the default queue) that calls callback(parameter, TRUE)
// after due_ms milliseconds and then every period_ms (0: once). Stores the timer handle in
// *new_timer before the first call can run. FALSE with ERROR_INVALID_PARAMETER for a null
// new_timer or callback, ERROR_INVALID_HANDLE for a queue handle that is not an open queue,
// ERROR_NOT_ENOUGH_MEMORY when the worker thread or the handle cannot be created.
BROWSER_EXTERN_C BOOL CreateTimerQueueTimer(HANDLE* new_timer, HANDLE queue,
                                            WAITORTIMERCALLBACK callback, void* parameter,
                                            DWORD due_ms, DWORD period_ms, ULONG flags);

// Re-arms a timer: next call after due_ms, then every period_ms (0: once; ignored for a
// WT_EXECUTEONLYONCE timer). Also re-arms a one-shot timer that has already fired. A callback
// already running is not affected. FALSE with ERROR_INVALID_HANDLE for a bad queue or timer
// handle, ERROR_INVALID_PARAMETER for a timer of another queue.
BROWSER_EXTERN_C BOOL ChangeTimerQueueTimer(HANDLE queue, HANDLE timer, ULONG due_ms,
                                            ULONG period_ms);

// Deletes a timer and releases its handle; see the completion events above. FALSE with
// ERROR_INVALID_HANDLE for a bad queue or timer handle (a timer already deleted included),
// ERROR_INVALID_PARAMETER for a timer of another queue.
BROWSER_EXTERN_C BOOL DeleteTimerQueueTimer(HANDLE queue, HANDLE timer, HANDLE completion_event);

// Deletes every timer of the queue, stops its worker thread and releases the queue handle;
// see the completion events above. FALSE with ERROR_INVALID_HANDLE for a handle that is not
// an open queue (the default queue included).
BROWSER_EXTERN_C BOOL DeleteTimerQueueEx(HANDLE queue, HANDLE completion_event);

// DeleteTimerQueueEx(queue, nullptr).
BROWSER_EXTERN_C BOOL DeleteTimerQueue(HANDLE queue);
