#include "base/sandbox_routing.h"

#include "browserplatform/handleapi.h"
#include "browserplatform/sandbox.h"
#include "browserplatform/synchapi.h"

namespace base {
namespace {

// Makes the sandbox's reported code the thread's last error, as the plain calls leave theirs.
template <class Result>
Result Reported(Result result, DWORD error) {
  SetLastError(error);
  return result;
}

}  // namespace

bool SandboxRoutesWaitables() { return CheckOvsafeEnable() && CheckHookEnable_waitable(); }

DWORD WaitForThreadHandle(HANDLE thread, DWORD timeout_ms) {
  if (!SandboxRoutesWaitables()) return WaitForSingleObject(thread, timeout_ms);
  DWORD error = 0;
  DWORD result = Internal_OV_Shared_WaitForThread(thread, timeout_ms, &error);
  return Reported(result, error);
}

HANDLE CreateCompletionPort() {
  if (!SandboxRoutesWaitables()) return CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  DWORD error = 0;
  HANDLE port =
      Internal_OV_Shared_CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1, &error);
  return Reported(port, error);
}

BOOL PostCompletion(HANDLE port, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped) {
  if (!CheckOvsafeEnable()) return PostQueuedCompletionStatus(port, bytes, key, overlapped);
  DWORD error = 0;
  BOOL ok = Internal_OV_Shared_PostQueuedCompletionStatus(port, bytes, key, overlapped, &error);
  return Reported(ok, error);
}

BOOL GetCompletion(HANDLE port, DWORD* bytes, ULONG_PTR* key, OVERLAPPED** overlapped,
                   DWORD timeout_ms) {
  if (!SandboxRoutesWaitables()) {
    return GetQueuedCompletionStatus(port, bytes, key, overlapped, timeout_ms);
  }
  DWORD error = 0;
  BOOL ok = Internal_OV_Shared_GetQueuedCompletionStatus(port, bytes, key, overlapped, timeout_ms,
                                                         &error);
  return Reported(ok, error);
}

void CloseCompletionPort(HANDLE port) {
  if (!SandboxRoutesWaitables()) {
    CloseHandle(port);
    return;
  }
  DWORD error = 0;
  Internal_OV_Shared_CloseWaitableObject(port, &error);
  SetLastError(error);
}

}  // namespace base
