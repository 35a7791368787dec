// Module handles.
#pragma once

#include "browserplatform/types.h"

// A null `module_name` gives the handle of the process's executable: the address at which its
// image is mapped, never null, the same for every call, and an address that
// GetModuleFileNameW (shell.h) maps back to the executable. Looking modules up by name is not
// supported: any other argument gives null with ERROR_MOD_NOT_FOUND. Any thread.
BROWSER_EXTERN_C HMODULE GetModuleHandleW(LPCWSTR module_name);
