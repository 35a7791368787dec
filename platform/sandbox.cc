// This build has no sandbox: the queries answer what an installed test fake says (FALSE
// without one) and the Internal_OV_* calls carry out the plain operation.
#include "browserplatform/sandbox.h"
#include "platform/sandbox_for_testing.h"

#include <atomic>

#include "browserplatform/fileapi.h"
#include "browserplatform/handleapi.h"
#include "browserplatform/ioapiset.h"
#include "browserplatform/synchapi.h"

namespace {

std::atomic<platform::SandboxForTesting*> g_fake{nullptr};

void Record(const char* name) {
  if (platform::SandboxForTesting* fake = g_fake.load(std::memory_order_acquire)) {
    fake->OnCall(name);
  }
}

// Reports the plain call's error code the way the sandbox does: through `error` and as the
// thread's last error.
template <class Result>
Result Report(Result result, DWORD* error) {
  DWORD code = GetLastError();
  if (error) *error = code;
  SetLastError(code);
  return result;
}

}  // namespace

namespace platform {
void SetSandboxForTesting(SandboxForTesting* sandbox) {
  g_fake.store(sandbox, std::memory_order_release);
}
}  // namespace platform

BOOL CheckOvsafeEnable() {
  platform::SandboxForTesting* fake = g_fake.load(std::memory_order_acquire);
  return fake && fake->OvsafeEnabled();
}

BOOL CheckHookEnable_waitable() {
  platform::SandboxForTesting* fake = g_fake.load(std::memory_order_acquire);
  return fake && fake->WaitableHookEnabled();
}

BOOL CheckHookEnable_file() {
  platform::SandboxForTesting* fake = g_fake.load(std::memory_order_acquire);
  return fake && fake->FileHookEnabled();
}

HANDLE Internal_OV_Shared_CreateEvent(BOOL manual_reset, BOOL initial_state, LPCWSTR name,
                                      DWORD* error) {
  Record("Internal_OV_Shared_CreateEvent");
  SetLastError(ERROR_SUCCESS);
  return Report(CreateEventW(nullptr, manual_reset, initial_state, name), error);
}

BOOL Internal_OV_Shared_SetEvent(HANDLE event, DWORD* error) {
  Record("Internal_OV_Shared_SetEvent");
  SetLastError(ERROR_SUCCESS);
  return Report(SetEvent(event), error);
}

DWORD Internal_OV_Shared_WaitForSingleObject(HANDLE object, DWORD timeout_ms, DWORD* error) {
  Record("Internal_OV_Shared_WaitForSingleObject");
  SetLastError(ERROR_SUCCESS);
  return Report(WaitForSingleObject(object, timeout_ms), error);
}

BOOL Internal_OV_Shared_CloseWaitableObject(HANDLE object, DWORD* error) {
  Record("Internal_OV_Shared_CloseWaitableObject");
  SetLastError(ERROR_SUCCESS);
  return Report(CloseHandle(object), error);
}

DWORD Internal_OV_Shared_WaitForThread(HANDLE thread, DWORD timeout_ms, DWORD* error) {
  Record("Internal_OV_Shared_WaitForThread");
  SetLastError(ERROR_SUCCESS);
  return Report(WaitForSingleObject(thread, timeout_ms), error);
}

HANDLE Internal_OV_Shared_CreateIoCompletionPort(HANDLE file, HANDLE existing, ULONG_PTR key,
                                                 DWORD concurrent_threads, DWORD* error) {
  Record("Internal_OV_Shared_CreateIoCompletionPort");
  SetLastError(ERROR_SUCCESS);
  return Report(CreateIoCompletionPort(file, existing, key, concurrent_threads), error);
}

BOOL Internal_OV_Shared_PostQueuedCompletionStatus(HANDLE port, DWORD bytes, ULONG_PTR key,
                                                   OVERLAPPED* overlapped, DWORD* error) {
  Record("Internal_OV_Shared_PostQueuedCompletionStatus");
  SetLastError(ERROR_SUCCESS);
  return Report(PostQueuedCompletionStatus(port, bytes, key, overlapped), error);
}

BOOL Internal_OV_Shared_GetQueuedCompletionStatus(HANDLE port, DWORD* bytes, ULONG_PTR* key,
                                                  OVERLAPPED** overlapped, DWORD timeout_ms,
                                                  DWORD* error) {
  Record("Internal_OV_Shared_GetQueuedCompletionStatus");
  SetLastError(ERROR_SUCCESS);
  return Report(GetQueuedCompletionStatus(port, bytes, key, overlapped, timeout_ms), error);
}

BOOL Internal_OV_Virtual_PrepareDirectoryAndRegKey() {
  Record("Internal_OV_Virtual_PrepareDirectoryAndRegKey");
  return TRUE;
}

BOOL Internal_OV_Virtual_CreateDirectory(DWORD flags, LPCWSTR path,
                                         LPSECURITY_ATTRIBUTES attributes, DWORD* error) {
  Record("Internal_OV_Virtual_CreateDirectory");
  SetLastError(ERROR_SUCCESS);
  return Report(CreateDirectoryW(path, attributes), error);
}
