// The registry calls over the hive file: each call reads the hive (or changes it under the
// write lock) and forgets it again, so calls from other threads and processes are seen at once.
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "browserplatform/winreg.h"
#include "platform/no_destructor.h"
#include "platform/registry_store.h"
#include "platform/utf.h"

namespace platform {
namespace {

constexpr REGSAM kAllAccess = ~REGSAM{0};

// What a key handle stands for: a key of one hive, by path.
struct OpenKey {
  std::string hive;
  std::u16string path;
  REGSAM access = 0;
};

// The open key handles. A handle is a number that is never reused, so a closed handle stays
// invalid for good.
class KeyTable {
 public:
  HKEY Insert(OpenKey key) {
    std::lock_guard<std::mutex> guard(lock_);
    const uintptr_t id = next_id_++;
    keys_.emplace(id, std::move(key));
    return reinterpret_cast<HKEY>(id << 4);
  }
  bool Find(HKEY handle, OpenKey* key) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = keys_.find(Id(handle));
    if (it == keys_.end()) return false;
    *key = it->second;
    return true;
  }
  bool Remove(HKEY handle) {
    std::lock_guard<std::mutex> guard(lock_);
    return keys_.erase(Id(handle)) != 0;
  }

 private:
  static uintptr_t Id(HKEY handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    return value % 16 == 0 ? value >> 4 : 0;  // 0 is never handed out
  }

  std::mutex lock_;
  uintptr_t next_id_ = 1;
  std::unordered_map<uintptr_t, OpenKey> keys_;
};

KeyTable& Keys() {
  static NoDestructor<KeyTable> table;
  return *table;
}

// The key a handle names, with the rights it was opened with.
LSTATUS Resolve(HKEY handle, OpenKey* key) {
  if (handle == HKEY_CLASSES_ROOT) {
    key->path.clear();
    key->access = kAllAccess;
    return ClassesRootHivePath(&key->hive);
  }
  return Keys().Find(handle, key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD Require(const OpenKey& key, REGSAM rights) {
  return (key.access & rights) == rights ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

size_t Depth(std::u16string_view path) {
  if (path.empty()) return 0;
  size_t depth = 1;
  for (char16_t c : path) depth += c == u'\\';
  return depth;
}

// The path of `sub_key` below `base`: names checked, depth within the limit.
LSTATUS JoinPath(const std::u16string& base, LPCWSTR sub_key, std::u16string* full) {
  *full = base;
  if (!sub_key || sub_key[0] == u'\0') return ERROR_SUCCESS;
  std::u16string_view rest(sub_key);
  if (!IsWellFormedUtf16(rest)) return ERROR_NO_UNICODE_TRANSLATION;
  for (;;) {
    const size_t end = rest.find(u'\\');
    std::u16string_view name = rest.substr(0, end);
    if (!IsValidRegistryKeyName(name)) return ERROR_INVALID_PARAMETER;
    if (!full->empty()) *full += u'\\';
    *full += name;
    if (end == std::u16string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return Depth(*full) <= kMaxRegistryKeyDepth ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

LSTATUS CheckValueName(LPCWSTR name, std::u16string_view* view) {
  *view = name ? std::u16string_view(name) : std::u16string_view();
  if (!IsWellFormedUtf16(*view)) return ERROR_NO_UNICODE_TRANSLATION;
  return IsValidRegistryValueName(*view) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

// The hive as it is now, and the key a handle names in it (ERROR_KEY_DELETED when gone).
LSTATUS ReadKey(const OpenKey& open, RegistryHive* hive, const RegistryKey** key) {
  if (LSTATUS error = ReadHive(open.hive, hive)) return error;
  *key = hive->Find(open.path);
  return *key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Copies data to a caller's buffer the way RegQueryValueExW does.
LSTATUS CopyData(const RegistryValue& value, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  if (type) *type = value.type;
  if (!size) return ERROR_SUCCESS;
  const auto needed = static_cast<DWORD>(value.data.size());
  LSTATUS result = ERROR_SUCCESS;
  if (data) {
    if (*size < needed) {
      result = ERROR_MORE_DATA;
    } else if (needed > 0) {
      std::memcpy(data, value.data.data(), needed);
    }
  }
  *size = needed;
  return result;
}

// Copies a name with its NUL; *size in characters, the length without the NUL on success.
LSTATUS CopyName(std::u16string_view text, LPWSTR name, LPDWORD size) {
  if (!name || !size) return ERROR_INVALID_PARAMETER;
  if (*size <= text.size()) return ERROR_MORE_DATA;
  text.copy(name, text.size());
  name[text.size()] = u'\0';
  *size = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

std::u16string_view LastName(std::u16string_view path) {
  const size_t separator = path.rfind(u'\\');
  return separator == std::u16string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace
}  // namespace platform

using platform::OpenKey;
using platform::RegistryHive;
using platform::RegistryKey;

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD, LPWSTR, DWORD options, REGSAM access,
                        const SECURITY_ATTRIBUTES*, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  OpenKey created{open.hive, {}, access};
  if (LSTATUS error = platform::JoinPath(open.path, sub_key, &created.path)) return error;
  bool made = false;
  LSTATUS error = platform::ChangeHive(open.hive, [&](RegistryHive& hive, bool* changed) -> DWORD {
    if (!hive.Find(open.path)) return ERROR_KEY_DELETED;
    if (const RegistryKey* existing = hive.Find(created.path)) {
      created.path = existing->path;
      return ERROR_SUCCESS;
    }
    if (LSTATUS denied = platform::Require(open, KEY_CREATE_SUB_KEY)) return denied;
    created.path = hive.Create(created.path, &made)->path;
    *changed = made;
    return ERROR_SUCCESS;
  });
  if (error) return error;
  if (disposition) *disposition = made ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = platform::Keys().Insert(std::move(created));
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (options != 0) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  OpenKey opened{open.hive, {}, access};
  if (LSTATUS error = platform::JoinPath(open.path, sub_key, &opened.path)) return error;
  RegistryHive hive;
  const RegistryKey* base = nullptr;
  if (LSTATUS error = platform::ReadKey(open, &hive, &base)) return error;
  const RegistryKey* target = hive.Find(opened.path);
  if (!target) return ERROR_FILE_NOT_FOUND;
  opened.path = target->path;
  *result = platform::Keys().Insert(std::move(opened));
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  return platform::Keys().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  if (LSTATUS error = platform::Require(open, KEY_SET_VALUE)) return error;
  std::u16string_view value_name;
  if (LSTATUS error = platform::CheckValueName(name, &value_name)) return error;
  if ((!data && size > 0) || size > platform::kMaxRegistryValueSize) {
    return ERROR_INVALID_PARAMETER;
  }
  std::vector<uint8_t> bytes(data, data + size);
  return platform::ChangeHive(open.hive, [&](RegistryHive& hive, bool* changed) -> DWORD {
    RegistryKey* target = hive.Find(open.path);
    if (!target) return ERROR_KEY_DELETED;
    *changed = target->SetValue(value_name, type, std::move(bytes));
    return ERROR_SUCCESS;
  });
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  if (LSTATUS error = platform::Require(open, KEY_QUERY_VALUE)) return error;
  std::u16string_view value_name;
  if (LSTATUS error = platform::CheckValueName(name, &value_name)) return error;
  RegistryHive hive;
  const RegistryKey* target = nullptr;
  if (LSTATUS error = platform::ReadKey(open, &hive, &target)) return error;
  const platform::RegistryValue* value = target->FindValue(value_name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  return platform::CopyData(*value, type, data, size);
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) {
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  if (LSTATUS error = platform::Require(open, KEY_SET_VALUE)) return error;
  std::u16string_view value_name;
  if (LSTATUS error = platform::CheckValueName(name, &value_name)) return error;
  return platform::ChangeHive(open.hive, [&](RegistryHive& hive, bool* changed) -> DWORD {
    RegistryKey* target = hive.Find(open.path);
    if (!target) return ERROR_KEY_DELETED;
    *changed = target->DeleteValue(value_name);
    return *changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR sub_key) {
  if (!sub_key) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  std::u16string path;
  if (LSTATUS error = platform::JoinPath(open.path, sub_key, &path)) return error;
  if (path.empty()) return ERROR_ACCESS_DENIED;  // the root stays
  return platform::ChangeHive(open.hive, [&](RegistryHive& hive, bool* changed) -> DWORD {
    if (!hive.Find(open.path)) return ERROR_KEY_DELETED;
    if (!hive.Find(path)) return ERROR_FILE_NOT_FOUND;
    if (hive.HasSubkeys(path)) return ERROR_ACCESS_DENIED;
    hive.Remove(path);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR sub_key) {
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  std::u16string path;
  if (LSTATUS error = platform::JoinPath(open.path, sub_key, &path)) return error;
  const bool whole_key = sub_key && sub_key[0] != u'\0';
  return platform::ChangeHive(open.hive, [&](RegistryHive& hive, bool* changed) -> DWORD {
    RegistryKey* base = hive.Find(open.path);
    if (!base) return ERROR_KEY_DELETED;
    if (whole_key) {
      if (!hive.Find(path)) return ERROR_FILE_NOT_FOUND;
      hive.Remove(path);
      *changed = true;
      return ERROR_SUCCESS;
    }
    *changed = hive.HasSubkeys(path) || !base->values.empty();
    base->values.clear();
    hive.RemoveBelow(path);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size, LPDWORD reserved,
                      LPWSTR, LPDWORD class_size, FILETIME* last_write) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  if (LSTATUS error = platform::Require(open, KEY_ENUMERATE_SUB_KEYS)) return error;
  RegistryHive hive;
  const RegistryKey* target = nullptr;
  if (LSTATUS error = platform::ReadKey(open, &hive, &target)) return error;
  const std::vector<const RegistryKey*> subkeys = hive.Subkeys(target->path);
  if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
  if (LSTATUS error =
          platform::CopyName(platform::LastName(subkeys[index]->path), name, name_size)) {
    return error;
  }
  if (class_size) *class_size = 0;
  if (last_write) *last_write = FILETIME{};
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LSTATUS error = platform::Resolve(key, &open)) return error;
  if (LSTATUS error = platform::Require(open, KEY_QUERY_VALUE)) return error;
  RegistryHive hive;
  const RegistryKey* target = nullptr;
  if (LSTATUS error = platform::ReadKey(open, &hive, &target)) return error;
  if (index >= target->values.size()) return ERROR_NO_MORE_ITEMS;
  const platform::RegistryValue& value = target->values[index];
  if (LSTATUS error = platform::CopyName(value.name, name, name_size)) return error;
  return platform::CopyData(value, type, data, size);
}
