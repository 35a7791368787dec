// A kernel event that goes through the sandbox layer when the sandbox asks for it:
// creation, waits and closing when both CheckOvsafeEnable() and CheckHookEnable_waitable()
// report true, setting when CheckOvsafeEnable() alone does. After a sandbox call the thread's
// last error is the code that call reported.
#pragma once

#include "browserplatform/types.h"

namespace base {

class CKernelEvent {
 public:
  CKernelEvent() = default;
  ~CKernelEvent() { Close(); }  // closes an event still open
  CKernelEvent(const CKernelEvent&) = delete;
  CKernelEvent& operator=(const CKernelEvent&) = delete;

  // Creates the event (closing one already held). False on failure, last error set.
  bool Create(BOOL manual_reset, BOOL initially_signalled);
  bool Set();
  // True when the event was signalled within `timeout_ms` (INFINITE: no time-out).
  bool Wait(DWORD timeout_ms);
  void Close();

  HANDLE handle() const { return handle_; }
  bool is_valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace base
