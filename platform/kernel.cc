// Per-thread last error and the generic handle close.
#include "browserplatform/handleapi.h"
#include "platform/handle_table.h"

namespace {
thread_local DWORD t_last_error = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD error) { t_last_error = error; }

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<platform::KernelObject> object = platform::RemoveHandle(handle);
  if (!object) return FALSE;
  // The object may be destroyed here, outside the table's lock.
  object.reset();
  return TRUE;
}
