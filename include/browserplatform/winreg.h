// The registry: keys holding named values, as COM registration and hosts use them.
//
// Only HKEY_CLASSES_ROOT exists. It is kept in one file, the hive
// "$XDG_CONFIG_HOME/orvex/browser/registry/HKEY_CLASSES_ROOT.hive" (the application-data
// root's "registry" folder; docs/formats.md, "Registry hive", gives its bytes). A missing hive is
// an empty registry; the first change creates the file and its folders (owner-only).
//
// Every change is a read-modify-write of the whole file under an exclusive lock on
// "<hive>.lock" (flock), written through "<hive>.tmp", flushed and renamed over the hive: a
// change is all there or not at all, and changes from several threads or processes at once are
// all kept. Reads take the shared lock. Nothing is cached, so a change made by another process
// is seen by the next call.
//
// A hive that exists but cannot be read gives ERROR_CANTREAD, one whose contents are damaged
// ERROR_BADDB, to every call that needs it (opening HKEY_CLASSES_ROOT's own subkeys included),
// and it is never rewritten: the file stays as it is until someone repairs or removes it.
//
// Names: key and value names compare without regard to case, as on Windows, with ASCII case
// folding only ('a'-'z' against 'A'-'Z'; other letters compare exactly); a key keeps the case it
// was created with. A key name is 1-255 UTF-16 units of printable characters (no control
// character, no '\'); a subkey path joins names with '\' (an empty path names the key itself);
// paths are at most 512 keys deep. A value name is up to 16,383 units (empty: the key's default
// value). Names must be well-formed UTF-16 (ERROR_NO_UNICODE_TRANSLATION otherwise); other
// malformed names give ERROR_INVALID_PARAMETER. Value data is stored as given, up to 1 MiB; the
// whole hive is at most 16 MiB (ERROR_NOT_ENOUGH_QUOTA for a change that would pass that).
//
// Handles: an opened key is a handle until RegCloseKey. It names the key by its path in the hive
// it was opened in; once that key is deleted (through any handle or process) the handle's calls
// give ERROR_KEY_DELETED. A closed or made-up handle gives ERROR_INVALID_HANDLE. Access rights
// are checked as on Windows for reading values (KEY_QUERY_VALUE), enumerating subkeys
// (KEY_ENUMERATE_SUB_KEYS), setting and deleting values (KEY_SET_VALUE) and creating subkeys
// (KEY_CREATE_SUB_KEY); deleting keys needs no right of the handle. HKEY_CLASSES_ROOT has all
// rights and needs no closing.
//
// Results are Win32 error codes (ERROR_SUCCESS on success); the last error is not set. Every
// call may be made from any thread.
#pragma once

#include "browserplatform/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

// The predefined key, with its Windows value (a sign-extended 0x80000000).
inline HKEY const HKEY_CLASSES_ROOT =
    reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<LONG>(0x80000000u)));

// Access rights (REGSAM). KEY_WOW64_32KEY and KEY_WOW64_64KEY are accepted and have no effect.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types. Any type number is stored; these are the ones with a meaning.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// RegCreateKeyExW's options (only non-volatile keys exist) and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Creates the key `sub_key` below `key` with its missing parents (or opens it when it exists)
// and stores a new handle with `access` in *result. `disposition`, when given, says which
// happened. `sub_key` "" or null opens `key` itself. Needs KEY_CREATE_SUB_KEY on `key` when a
// key is made. `options` other than REG_OPTION_NON_VOLATILE give ERROR_INVALID_PARAMETER;
// `key_class` and `security` are ignored.
BROWSER_EXTERN_C LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved,
                                         LPWSTR key_class, DWORD options, REGSAM access,
                                         const SECURITY_ATTRIBUTES* security, PHKEY result,
                                         LPDWORD disposition);

// Opens the existing key `sub_key` below `key` (ERROR_FILE_NOT_FOUND when missing); "" or null
// opens `key` itself. `options` must be 0.
BROWSER_EXTERN_C LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM access,
                                       PHKEY result);

// Closes a handle from RegCreateKeyExW or RegOpenKeyExW. HKEY_CLASSES_ROOT: ERROR_SUCCESS.
BROWSER_EXTERN_C LSTATUS RegCloseKey(HKEY key);

// Sets the value `name` of `key` (null or "": the default value) to `size` bytes of `data`
// with type `type`, replacing any value of that name. Data is kept as given: a REG_SZ holds
// its terminating NUL when the caller counts it, as Windows callers do.
BROWSER_EXTERN_C LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                        const BYTE* data, DWORD size);

// Reads the value `name` of `key` (null or "": the default value). ERROR_FILE_NOT_FOUND when it
// is not set. `type` receives the type when given. With `data` null, *size receives the data's
// size; otherwise *size is the buffer's size on entry and the data's size on return, and a
// buffer that is too small gives ERROR_MORE_DATA (nothing copied). `data` without `size` gives
// ERROR_INVALID_PARAMETER.
BROWSER_EXTERN_C LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                          LPBYTE data, LPDWORD size);

// Removes the value `name` of `key`; ERROR_FILE_NOT_FOUND when it is not set.
BROWSER_EXTERN_C LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name);

// Removes the key `sub_key` below `key` with its values. A key that still has subkeys stays
// (ERROR_ACCESS_DENIED), as does HKEY_CLASSES_ROOT itself. ERROR_FILE_NOT_FOUND when missing.
BROWSER_EXTERN_C LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR sub_key);

// Removes the key `sub_key` below `key` with all its subkeys and values (ERROR_FILE_NOT_FOUND
// when missing); with `sub_key` null or "", removes every subkey and value of `key` and keeps
// `key`.
BROWSER_EXTERN_C LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR sub_key);

// The name of the subkey number `index` of `key`, subkeys ordered by their case-folded names.
// *name_size is the buffer's size in characters on entry and the name's length (without the
// NUL) on return; too small a buffer gives ERROR_MORE_DATA and leaves *name_size as it was. Past
// the last subkey: ERROR_NO_MORE_ITEMS. Keys have no class: *class_size, when given, becomes 0.
// `last_write`, when given, is zeroed (no times are kept).
BROWSER_EXTERN_C LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size,
                                       LPDWORD reserved, LPWSTR key_class, LPDWORD class_size,
                                       FILETIME* last_write);

// The value number `index` of `key`, values in the order they were first set. *name_size as in
// RegEnumKeyExW; `type`, `data` and `size` as in RegQueryValueExW. Past the last value:
// ERROR_NO_MORE_ITEMS.
BROWSER_EXTERN_C LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size,
                                       LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
