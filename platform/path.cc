#include "platform/path.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "platform/utf.h"
#include "platform/win_error.h"

namespace platform {

bool NativePath(LPCWSTR path, std::string* native) {
  size_t length = WideLength(path);
  if (length == 0) return FailWith(ERROR_PATH_NOT_FOUND);
  std::u16string_view wide(path, length);
  if (!IsWellFormedUtf16(wide)) return FailWith(ERROR_INVALID_NAME);
  *native = Utf16ToUtf8(wide);
  for (char& c : *native) {
    if (c == '\\') c = '/';
  }
  return true;
}

std::string ParentFolder(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";  // "/" or "//": the root is its own parent
  size_t slash = path.find_last_of('/', end);
  if (slash == std::string::npos) return ".";
  size_t parent_end = path.find_last_not_of('/', slash);
  if (parent_end == std::string::npos) return "/";
  return path.substr(0, parent_end + 1);
}

DWORD PathErrorFromErrno(int error, const std::string& path) {
  if (error == ENOENT) {
    struct stat st;
    if (::stat(ParentFolder(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return ERROR_PATH_NOT_FOUND;
    }
  }
  return Win32ErrorFromErrno(error);
}

BOOL FailWithPathErrno(int error, const std::string& path) {
  return FailWith(PathErrorFromErrno(error, path));
}

}  // namespace platform
