// Operations on names: DeleteFileW, CreateDirectoryW, RemoveDirectoryW, GetFileAttributesW.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "browserplatform/fileapi.h"
#include "platform/path.h"
#include "platform/share_registry.h"
#include "platform/win_error.h"

using platform::FailWith;
using platform::FailWithPathErrno;

BOOL DeleteFileW(LPCWSTR path) {
  std::string native;
  if (!platform::NativePath(path, &native)) return FALSE;
  DWORD result = ERROR_SUCCESS;
  bool ran = platform::ShareRegistry::Instance().RunIfDeletable({native}, [&] {
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0) {
      result = platform::PathErrorFromErrno(errno, native);
    } else if (S_ISDIR(st.st_mode)) {
      result = ERROR_ACCESS_DENIED;
    } else if (::unlink(native.c_str()) != 0) {
      result = platform::PathErrorFromErrno(errno, native);
    }
  });
  if (!ran) return FailWith(ERROR_SHARING_VIOLATION);
  return result == ERROR_SUCCESS ? TRUE : FailWith(result);
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  std::string native;
  if (!platform::NativePath(path, &native)) return FALSE;
  if (::mkdir(native.c_str(), 0777) != 0) return FailWithPathErrno(errno, native);
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  std::string native;
  if (!platform::NativePath(path, &native)) return FALSE;
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return FailWithPathErrno(errno, native);
  if (!S_ISDIR(st.st_mode)) return FailWith(ERROR_DIRECTORY);
  if (::rmdir(native.c_str()) != 0) return FailWithPathErrno(errno, native);
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  std::string native;
  if (!platform::NativePath(path, &native)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) {
    FailWithPathErrno(errno, native);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}
