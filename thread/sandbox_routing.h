// The thread runtime's kernel calls that go through the sandbox layer when it asks for that,
// in the pattern of base::CKernelEvent: creating, waiting for and closing an object when both
// CheckOvsafeEnable() and CheckHookEnable_waitable() report true, signalling (posting a
// packet) when CheckOvsafeEnable() alone does, the plain call otherwise. After a sandbox call
// the thread's last error is the code that call reported.
#pragma once

#include "browserplatform/ioapiset.h"
#include "browserplatform/types.h"

namespace Thread {

// Waits for a thread handle; the wait's result (WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED).
DWORD WaitForThreadHandle(HANDLE thread, DWORD timeout_ms);

// A new completion port, or null.
HANDLE CreateCompletionPort();
BOOL PostCompletion(HANDLE port, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped);
BOOL GetCompletion(HANDLE port, DWORD* bytes, ULONG_PTR* key, OVERLAPPED** overlapped,
                   DWORD timeout_ms);
void CloseCompletionPort(HANDLE port);

}  // namespace Thread
