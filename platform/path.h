// Windows paths to native paths, and the path-aware part of the error mapping.
#pragma once

#include <string>

#include "browserplatform/types.h"

namespace platform {

// Converts a NUL-terminated UTF-16 path to the native UTF-8 path, every '\' becoming '/'.
// False with the last error set for a null or empty path (ERROR_PATH_NOT_FOUND) and for one
// holding an unpaired surrogate (ERROR_INVALID_NAME): replacing the surrogate would name a
// different file.
bool NativePath(LPCWSTR path, std::string* native);

// The folder holding the last element of `path` ("." for a bare name, "/" for "/name").
std::string ParentFolder(const std::string& path);

// Win32ErrorFromErrno, except that ENOENT becomes ERROR_PATH_NOT_FOUND when the folder that
// should hold `path` is missing: Windows tells a missing folder from a missing file.
DWORD PathErrorFromErrno(int error, const std::string& path);

// Sets the last error from PathErrorFromErrno and returns FALSE.
BOOL FailWithPathErrno(int error, const std::string& path);

}  // namespace platform
