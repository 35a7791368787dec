// The browser's sandbox layer, as far as the system calls it.
//
// When the sandbox is active, kernel objects (events, waits, thread waits, completion ports)
// and folders are created through it instead of the plain calls. This build has no sandbox:
// the queries answer FALSE, and the Internal_OV_* calls, when called anyway, carry out the
// plain operation and report its error code through their last argument (also the thread's
// last error). Tests install a fake to switch the queries on and record the calls.
#pragma once

#include "browserplatform/types.h"

struct OVERLAPPED;

BROWSER_EXTERN_C BOOL CheckOvsafeEnable();
BROWSER_EXTERN_C BOOL CheckHookEnable_waitable();
BROWSER_EXTERN_C BOOL CheckHookEnable_file();

BROWSER_EXTERN_C HANDLE Internal_OV_Shared_CreateEvent(BOOL manual_reset, BOOL initial_state,
                                                       LPCWSTR name, DWORD* error);
BROWSER_EXTERN_C BOOL Internal_OV_Shared_SetEvent(HANDLE event, DWORD* error);
BROWSER_EXTERN_C DWORD Internal_OV_Shared_WaitForSingleObject(HANDLE object, DWORD timeout_ms,
                                                              DWORD* error);
// Closes an event, thread or completion-port handle made through the sandbox.
BROWSER_EXTERN_C BOOL Internal_OV_Shared_CloseWaitableObject(HANDLE object, DWORD* error);
// Waits for a thread to end.
BROWSER_EXTERN_C DWORD Internal_OV_Shared_WaitForThread(HANDLE thread, DWORD timeout_ms,
                                                        DWORD* error);
BROWSER_EXTERN_C HANDLE Internal_OV_Shared_CreateIoCompletionPort(HANDLE file, HANDLE existing,
                                                                  ULONG_PTR key,
                                                                  DWORD concurrent_threads,
                                                                  DWORD* error);
BROWSER_EXTERN_C BOOL Internal_OV_Shared_PostQueuedCompletionStatus(HANDLE port, DWORD bytes,
                                                                    ULONG_PTR key,
                                                                    OVERLAPPED* overlapped,
                                                                    DWORD* error);
BROWSER_EXTERN_C BOOL Internal_OV_Shared_GetQueuedCompletionStatus(HANDLE port, DWORD* bytes,
                                                                   ULONG_PTR* key,
                                                                   OVERLAPPED** overlapped,
                                                                   DWORD timeout_ms, DWORD* error);

// Prepares the sandbox's view of folders and registry keys before folders are created.
BROWSER_EXTERN_C BOOL Internal_OV_Virtual_PrepareDirectoryAndRegKey();
// Creates a folder; non-zero on success, the system error code through `error`.
BROWSER_EXTERN_C BOOL Internal_OV_Virtual_CreateDirectory(DWORD flags, LPCWSTR path,
                                                          LPSECURITY_ATTRIBUTES attributes,
                                                          DWORD* error);
