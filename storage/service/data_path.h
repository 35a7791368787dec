// Where a user's storage files live: the data folder of a service, built from a data location
// kind, a user folder style and a user name, and created on demand (through the sandbox layer
// when it asks for that).
//
//   kind 1            <root>SysData/
//   kind 2 (or other) <root>UserData/<hex>/ with style 2, else <root>UserData/<prefix><hex>/
//   kind 3            "" (no folder)
//   kind 4            the executable's folder, without a separator after it
//
// <root> is GetAppDataBrowserDir(); <hex> is the user name as lower-case hexadecimal of its
// UTF-16LE bytes ("abc" -> "610062006300"; null or empty -> ""); <prefix> is kUserFolderPrefix.
//
// Thread safety: any thread. The root is computed once per process.
#pragma once

#include <string>
#include <string_view>

#include "browserplatform/types.h"

namespace Storage {

inline constexpr char16_t kSysDataFolder[] = u"SysData";
inline constexpr char16_t kUserDataFolder[] = u"UserData";
inline constexpr char16_t kUserFolderPrefix[] = u"0A73B7929C9546628F097CEEACA6E079";

// The data path of (kind, style, user name) followed by `suffix`. For kinds 1 and 2 (and other
// kinds but 3 and 4) the folder is created first when missing, at most 3 (SysData) or 4 (user
// folder) levels deep; a failure is not reported. Kind 4 ignores `suffix` and creates nothing.
std::u16string BuildDataPath(int kind, std::u16string_view suffix, int style, LPCWSTR user_name);

// The application-data root: SHGetFolderPathW(CSIDL_APPDATA) + "/orvex/browser/", i.e.
// "$XDG_CONFIG_HOME/orvex/browser/". The configuration folder is made when missing
// (CSIDL_FLAG_CREATE). Computed on first use and kept for the process; when the folder cannot
// be made the root is returned but not kept, and when it cannot even be named the result is
// ""; either way the next call tries again.
std::u16string GetAppDataBrowserDir();

// The folder of the process's executable (GetModuleFileNameW, 260 characters), without a
// separator after it; "" when it cannot be found.
std::u16string GetModuleDir();

// Makes sure the folder `path` exists (trailing separators ignored), creating at most `depth`
// missing levels, parents first. TRUE when something already exists at `path` or the missing
// levels were created (a level that appears meanwhile counts: ERROR_ALREADY_EXISTS); FALSE when
// more than `depth` levels are missing (then nothing is created), when a level cannot be
// created (the last error says why), or when the path has no parent to descend to. Before each
// recursive level the sandbox layer is asked to prepare; when CheckOvsafeEnable() and
// CheckHookEnable_file() both hold, folders are created through the sandbox layer.
BOOL EnsureDirectory(std::u16string_view path, int depth);

}  // namespace Storage
