// The shell calls the storage system uses to find its folders.
//
// Paths are UTF-16 (the file system's UTF-8 names converted). Every call may be made from any
// thread; SHGetFolderPathW reads the environment at each call, so it must not race with a
// setenv of the same process.
#pragma once

#include "browserplatform/types.h"

// SHGetFolderPathW's `csidl`: the per-user application-data folder, optionally OR-ed with
// CSIDL_FLAG_CREATE.
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_FLAG_CREATE = 0x8000;

// SHGetFolderPathW's `flags`.
constexpr DWORD SHGFP_TYPE_CURRENT = 0;
constexpr DWORD SHGFP_TYPE_DEFAULT = 1;

// Stores the folder named by `csidl` in `path`, a caller's buffer of MAX_PATH characters,
// without a trailing separator, and returns S_OK. The only folder is CSIDL_APPDATA:
// $XDG_CONFIG_HOME when it is set to an absolute path, else $HOME/.config when HOME is an
// absolute path, else the user's home from the password database + "/.config". With
// CSIDL_FLAG_CREATE a missing folder is created, owner-only (0700), with its missing parents:
// at most three levels in all for $XDG_CONFIG_HOME, only ".config" itself under a home (a home
// that does not exist is not made); existing folders keep their permissions. More missing
// levels give HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) and create nothing; another failure
// gives HRESULT_FROM_WIN32 of its error. Other csidl values and a null `path` give
// E_INVALIDARG. A folder name that does not fit MAX_PATH - 1 characters (or is not UTF-8) gives
// E_FAIL with `path` set to "". `hwnd`, `token` and `flags` are ignored.
BROWSER_EXTERN_C HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE token, DWORD flags,
                                          LPWSTR path);

// Removes the last element of `path` in place, with its separator; '/' and '\' are alike.
// "/a/b" -> "/a", "/a/b/" -> "/a/b", "/a" -> "/", "name" -> "". Returns TRUE when something was
// removed: FALSE for "/" (kept), "" and null.
BROWSER_EXTERN_C BOOL PathRemoveFileSpecW(LPWSTR path);

// Stores the full path of a module's file in `buffer` (`size` characters). A null `module`
// names the process's executable; otherwise `module` is taken as an address inside a loaded
// shared object or the executable (such as one of its functions), and an address in none gives
// 0 with ERROR_MOD_NOT_FOUND. Returns the number of characters stored, without the NUL. When
// the path does not fit, stores its first size - 1 characters and a NUL, returns `size` and
// sets ERROR_INSUFFICIENT_BUFFER (so `size` 0 returns 0). A null buffer gives 0 with
// ERROR_INVALID_PARAMETER.
BROWSER_EXTERN_C DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
