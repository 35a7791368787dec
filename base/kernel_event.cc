#include "base/kernel_event.h"

#include "base/sandbox_routing.h"
#include "browserplatform/handleapi.h"
#include "browserplatform/sandbox.h"
#include "browserplatform/synchapi.h"

namespace base {

bool CKernelEvent::Create(BOOL manual_reset, BOOL initially_signalled) {
  Close();
  HANDLE handle;
  if (SandboxRoutesWaitables()) {
    DWORD error = 0;
    handle = Internal_OV_Shared_CreateEvent(manual_reset, initially_signalled, nullptr, &error);
    SetLastError(error);
  } else {
    handle = CreateEventW(nullptr, manual_reset, initially_signalled, nullptr);
  }
  handle_ = handle ? handle : INVALID_HANDLE_VALUE;
  return is_valid();
}

bool CKernelEvent::Set() {
  if (!is_valid()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (CheckOvsafeEnable()) {
    DWORD error = 0;
    BOOL ok = Internal_OV_Shared_SetEvent(handle_, &error);
    SetLastError(error);
    return ok != FALSE;
  }
  return SetEvent(handle_) != FALSE;
}

bool CKernelEvent::Wait(DWORD timeout_ms) {
  if (!is_valid()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD result;
  if (SandboxRoutesWaitables()) {
    DWORD error = 0;
    result = Internal_OV_Shared_WaitForSingleObject(handle_, timeout_ms, &error);
    SetLastError(error);
  } else {
    result = WaitForSingleObject(handle_, timeout_ms);
  }
  return result == WAIT_OBJECT_0;
}

void CKernelEvent::Close() {
  if (!is_valid()) return;
  if (SandboxRoutesWaitables()) {
    DWORD error = 0;
    Internal_OV_Shared_CloseWaitableObject(handle_, &error);
    SetLastError(error);
  } else {
    CloseHandle(handle_);
  }
  handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace base
