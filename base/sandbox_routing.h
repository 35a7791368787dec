// Kernel calls that go through the sandbox layer when it asks for that (the thread runtime's
// thread waits and completion ports; base::CKernelEvent follows the same rule for events):
// creating, waiting for and closing an object when both CheckOvsafeEnable() and
// CheckHookEnable_waitable() report true, signalling (posting a packet) when CheckOvsafeEnable()
// alone does, the plain call otherwise. After a sandbox call the thread's last error is the code
// that call reported.
#pragma once

#include "browserplatform/ioapiset.h"
#include "browserplatform/types.h"

namespace base {

// Whether creating, waiting for and closing kernel objects go through the sandbox layer.
bool SandboxRoutesWaitables();

// Waits for a thread handle; the wait's result (WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED).
DWORD WaitForThreadHandle(HANDLE thread, DWORD timeout_ms);

// A new completion port, or null.
HANDLE CreateCompletionPort();
BOOL PostCompletion(HANDLE port, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped);
BOOL GetCompletion(HANDLE port, DWORD* bytes, ULONG_PTR* key, OVERLAPPED** overlapped,
                   DWORD timeout_ms);
void CloseCompletionPort(HANDLE port);

}  // namespace base
