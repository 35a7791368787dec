#include "storage/service/data_path.h"

#include "base/lock.h"
#include "base/string_conversions.h"
#include "browserplatform/fileapi.h"
#include "browserplatform/sandbox.h"
#include "browserplatform/shell.h"
#include "browserstorage/storage_service.h"
#include "platform/no_destructor.h"

namespace Storage {
namespace {

// "/orvex/browser/" after the application-data folder.
constexpr char16_t kBrowserDirSuffix[] = u"/orvex/browser/";
// Missing levels BuildDataPath may create: "orvex", "browser", "SysData" / "UserData" and the
// user folder.
constexpr int kSysDataDepth = 3;
constexpr int kUserDataDepth = 4;

// The process's cached root. Never destroyed: a host thread may still build a path while the
// process exits.
struct AppDataRoot {
  base::CLock lock;
  std::u16string path GUARDED_BY(lock);
};

AppDataRoot& GetAppDataRoot() {
  static platform::NoDestructor<AppDataRoot> root;
  return *root;
}

std::u16string UserFolderHex(LPCWSTR user_name) {
  if (user_name == nullptr) return std::u16string();
  std::u16string_view name(user_name);
  // char16_t units are little-endian in memory on this target: these are the UTF-16LE bytes.
  return base::BytesToHexW(name.data(), name.size() * sizeof(char16_t));
}

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

}  // namespace

std::u16string GetAppDataBrowserDir() {
  AppDataRoot& root = GetAppDataRoot();
  base::CAutoLock lock(root.lock);
  if (root.path.empty()) {
    char16_t folder[MAX_PATH] = {};
    // A new account may have no configuration folder yet: it is made here, owner-only, so that
    // the data folders below it stay within their depth.
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                         folder) == S_OK) {
      root.path = std::u16string(folder) + kBrowserDirSuffix;
    } else if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) ==
               S_OK) {
      // It could not be made: still name the right place (writes there fail and say so), but
      // do not keep it, so that the next use tries to make it again.
      return std::u16string(folder) + kBrowserDirSuffix;
    }
  }
  return root.path;
}

std::u16string GetModuleDir() {
  char16_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  PathRemoveFileSpecW(path);
  return path;
}

std::u16string BuildDataPath(int kind, std::u16string_view suffix, int style, LPCWSTR user_name) {
  if (kind == kDataLocationNone) return std::u16string();
  if (kind == kDataLocationModuleDir) return GetModuleDir();

  std::u16string path = GetAppDataBrowserDir();
  int depth;
  if (kind == kDataLocationSysData) {
    base::AppendFormatW(&path, u"%s/", kSysDataFolder);
    depth = kSysDataDepth;
  } else {
    std::u16string hex = UserFolderHex(user_name);
    if (style == kUserFolderStylePlain) {
      base::AppendFormatW(&path, u"%s/%s/", kUserDataFolder, hex.c_str());
    } else {
      base::AppendFormatW(&path, u"%s/%s%s/", kUserDataFolder, kUserFolderPrefix, hex.c_str());
    }
    depth = kUserDataDepth;
  }
  EnsureDirectory(path, depth);
  path.append(suffix);
  return path;
}

BOOL EnsureDirectory(std::u16string_view path, int depth) {
  while (!path.empty() && IsSeparator(path.back())) path.remove_suffix(1);
  const std::u16string folder(path);
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return TRUE;
  if (depth <= 0) return FALSE;

  size_t separator = folder.find_last_of(u"/\\");
  if (separator == std::u16string::npos) return FALSE;

  Internal_OV_Virtual_PrepareDirectoryAndRegKey();
  if (!EnsureDirectory(std::u16string_view(folder).substr(0, separator), depth - 1)) return FALSE;

  BOOL created;
  if (CheckOvsafeEnable() && CheckHookEnable_file()) {
    DWORD error = ERROR_SUCCESS;
    created = Internal_OV_Virtual_CreateDirectory(1, folder.c_str(), nullptr, &error);
    SetLastError(error);
  } else {
    created = CreateDirectoryW(folder.c_str(), nullptr);
  }
  if (!created && GetLastError() == ERROR_ALREADY_EXISTS) created = TRUE;
  return created;
}

}  // namespace Storage
