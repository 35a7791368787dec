// The shell's folder and module-name calls, over the XDG folders and the dynamic loader.
#include "browserplatform/shell.h"

#include <dlfcn.h>
#include <link.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/utf.h"
#include "platform/win_error.h"

namespace platform {
namespace {

constexpr int kCsidlFlagMask = 0xFF00;
// Beyond this a link target or a password entry is not believed.
constexpr size_t kMaxBuffer = size_t{1} << 20;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

std::string WithoutTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// The home folder the password database gives the user, or "".
std::string PasswordHome() {
  const auto hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
  for (;;) {
    struct passwd entry;
    struct passwd* found = nullptr;
    int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < kMaxBuffer) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || !found || !found->pw_dir) return "";
    return found->pw_dir;
  }
}

// The per-user configuration folder of the XDG base directories, or "" when none is known.
std::string ConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG path is invalid and must be ignored.
  if (config && config[0] == '/') {
    std::string folder = WithoutTrailingSlashes(config);
    return folder.empty() ? "/" : folder;
  }
  const char* env_home = std::getenv("HOME");
  std::string home = env_home && env_home[0] == '/' ? env_home : PasswordHome();
  if (home.empty() || home[0] != '/') return "";
  return WithoutTrailingSlashes(home) + "/.config";
}

// Creates `folder` and any missing parent; 0 or a Win32 error.
DWORD CreateFolders(const std::string& folder) {
  int error = 0;
  for (size_t end = 0; end != std::string::npos;) {
    end = folder.find('/', end + 1);
    // A level that exists already is fine; only the last level's result counts.
    error = ::mkdir(folder.substr(0, end).c_str(), 0777) == 0 ? 0 : errno;
  }
  if (error != 0 && error != EEXIST) return PathErrorFromErrno(error, folder);
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return PathErrorFromErrno(errno, folder);
  return S_ISDIR(st.st_mode) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
}

// The file of the process's executable, or "" with errno set.
std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() >= kMaxBuffer) {
      errno = ENAMETOOLONG;
      return "";
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The file of the module holding `address` (the executable for null); false with the last
// error set when there is none.
bool ModulePath(const void* address, std::string* path) {
  if (address) {
    Dl_info info;
    struct link_map* map = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || !map) {
      return FailWith(ERROR_MOD_NOT_FOUND);
    }
    // The executable's own entry has no name.
    if (map->l_name && map->l_name[0] != '\0') {
      *path = map->l_name;
      if ((*path)[0] != '/') {
        char* resolved = ::realpath(map->l_name, nullptr);
        if (resolved) {
          *path = resolved;
          std::free(resolved);
        }
      }
      return true;
    }
  }
  *path = ExecutablePath();
  return path->empty() ? FailWithErrno(errno) : true;
}

}  // namespace
}  // namespace platform

HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE token, DWORD flags, LPWSTR path) {
  if (!path || (csidl & ~platform::kCsidlFlagMask) != CSIDL_APPDATA) return E_INVALIDARG;
  path[0] = u'\0';
  std::string folder = platform::ConfigFolder();
  if (folder.empty() || !platform::IsWellFormedUtf8(folder)) return E_FAIL;
  std::u16string wide = platform::Utf8ToUtf16(folder);
  if (wide.size() > MAX_PATH - 1) return E_FAIL;
  if (csidl & CSIDL_FLAG_CREATE) {
    if (DWORD error = platform::CreateFolders(folder)) return HRESULT_FROM_WIN32(error);
  }
  wide.copy(path, wide.size());
  path[wide.size()] = u'\0';
  return S_OK;
}

BOOL PathRemoveFileSpecW(LPWSTR path) {
  if (!path || path[0] == u'\0') return FALSE;
  size_t length = platform::WideLength(path);
  size_t last = length;
  for (size_t i = 0; i < length; ++i) {
    if (platform::IsSeparator(path[i])) last = i;
  }
  if (last == length) {
    path[0] = u'\0';  // a bare name
    return TRUE;
  }
  if (last == 0) {
    // The root stays; only what follows it goes.
    if (length == 1) return FALSE;
    path[1] = u'\0';
    return TRUE;
  }
  path[last] = u'\0';
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  if (!buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string native;
  if (!platform::ModulePath(module, &native)) return 0;
  std::u16string wide = platform::Utf8ToUtf16(native);
  if (wide.size() < size) {
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = u'\0';
    return static_cast<DWORD>(wide.size());
  }
  if (size > 0) {
    wide.copy(buffer, size - 1);
    buffer[size - 1] = u'\0';
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}
