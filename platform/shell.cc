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

// The per-user configuration folder of the XDG base directories ("" when none is known), and
// how many of its levels CSIDL_FLAG_CREATE may make when they are missing.
struct ConfigFolderInfo {
  std::string path;
  size_t creatable_levels;
};

// An XDG folder may sit a little below an existing folder; a deeper gap is more likely a
// mistyped variable than a place to grow folders in.
constexpr size_t kCreatableXdgLevels = 3;
// Under the home only ".config" itself: a home that does not exist is not made.
constexpr size_t kCreatableHomeLevels = 1;

ConfigFolderInfo ConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG path is invalid and must be ignored.
  if (config && config[0] == '/') {
    std::string folder = WithoutTrailingSlashes(config);
    return {folder.empty() ? "/" : folder, kCreatableXdgLevels};
  }
  const char* env_home = std::getenv("HOME");
  std::string home = env_home && env_home[0] == '/' ? env_home : PasswordHome();
  if (home.empty() || home[0] != '/') return {"", 0};
  return {WithoutTrailingSlashes(home) + "/.config", kCreatableHomeLevels};
}

// Creates `folder` and its missing parents, owner-only (0700) as the XDG base directories ask;
// folders that exist keep their permissions. More than `creatable_levels` missing levels give
// ERROR_PATH_NOT_FOUND and create nothing. 0 or a Win32 error.
DWORD CreateFolders(const std::string& folder, size_t creatable_levels) {
  std::vector<std::string> missing;  // deepest first
  std::string level = folder;
  struct stat st;
  while (::stat(level.c_str(), &st) != 0) {
    if (errno != ENOENT) return PathErrorFromErrno(errno, level);
    if (missing.size() == creatable_levels) return ERROR_PATH_NOT_FOUND;
    missing.push_back(level);
    level = ParentFolder(level);
  }
  if (!S_ISDIR(st.st_mode)) return missing.empty() ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    // Made by someone else meanwhile is fine; the check below has the last word.
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) return PathErrorFromErrno(errno, *it);
  }
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
  platform::ConfigFolderInfo folder = platform::ConfigFolder();
  if (folder.path.empty() || !platform::IsWellFormedUtf8(folder.path)) return E_FAIL;
  std::u16string wide = platform::Utf8ToUtf16(folder.path);
  if (wide.size() > MAX_PATH - 1) return E_FAIL;
  if (csidl & CSIDL_FLAG_CREATE) {
    if (DWORD error = platform::CreateFolders(folder.path, folder.creatable_levels)) {
      return HRESULT_FROM_WIN32(error);
    }
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
