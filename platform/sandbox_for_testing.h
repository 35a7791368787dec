// The test seam of the sandbox layer: a fake that switches the sandbox queries on and records
// the calls routed through it. Exported by the platform library for tests only; hosts never
// see it.
#pragma once

#include "browserplatform/export.h"

namespace platform {

// A test's stand-in for the sandbox layer.
class SandboxForTesting {
 public:
  virtual bool OvsafeEnabled() = 0;
  virtual bool WaitableHookEnabled() = 0;
  virtual bool FileHookEnabled() = 0;
  // Called with the name of each Internal_OV_* call (e.g. "Internal_OV_Shared_SetEvent")
  // before the call is carried out. Any thread.
  virtual void OnCall(const char* name) = 0;

 protected:
  ~SandboxForTesting() = default;
};

// Installs a fake (null: none). It must outlive every call made while it is installed.
BROWSER_PLATFORM_API void SetSandboxForTesting(SandboxForTesting* sandbox);

}  // namespace platform
