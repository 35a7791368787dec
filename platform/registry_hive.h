// A registry hive in memory, and its file form (docs/formats.md, "Registry hive").
//
// Keys are kept flat, by their case-folded path, so that a subtree is one contiguous range
// and nothing here walks the tree recursively: parsing, printing, enumerating and deleting
// all run in loops whatever the depth.
//
// Exported for the registry's tests and its fuzz target; the registry itself (winreg.h) is
// the only other user. Not thread-safe: each call of the registry works on its own copy.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "browserplatform/types.h"

namespace platform {

// Limits of names, depth and sizes. Windows has the same name lengths and depth; the sizes
// are ours, generous for a hive of class registrations.
inline constexpr size_t kMaxRegistryKeyNameLength = 255;      // UTF-16 units
inline constexpr size_t kMaxRegistryValueNameLength = 16383;  // UTF-16 units
inline constexpr size_t kMaxRegistryKeyDepth = 512;           // names in a path
inline constexpr size_t kMaxRegistryValueSize = size_t{1} << 20;
inline constexpr size_t kMaxRegistryHiveSize = size_t{16} << 20;  // the file, in bytes

// The first line of a hive file, without its line feed.
inline constexpr std::string_view kRegistryHiveMagic = "orvex-registry-hive 1";

// ASCII case folding, the way key and value names compare: 'a'-'z' become 'A'-'Z'.
BROWSER_PLATFORM_API std::u16string FoldRegistryName(std::u16string_view name);

// A key name: 1-255 units of well-formed UTF-16 without control characters (U+0000-U+001F,
// U+007F) or '\'.
BROWSER_PLATFORM_API bool IsValidRegistryKeyName(std::u16string_view name);
// A value name: up to 16,383 units of well-formed UTF-16 without U+0000.
BROWSER_PLATFORM_API bool IsValidRegistryValueName(std::u16string_view name);

struct RegistryValue {
  std::u16string name;  // "" for the default value
  DWORD type = 0;
  std::vector<uint8_t> data;
  bool operator==(const RegistryValue&) const = default;
};

struct BROWSER_PLATFORM_API RegistryKey {
  std::u16string path;                // names joined with '\', as created; "" for the root
  std::vector<RegistryValue> values;  // in the order first set

  const RegistryValue* FindValue(std::u16string_view name) const;
  // Sets or replaces the value `name`; false when it already held exactly this.
  bool SetValue(std::u16string_view name, DWORD type, std::vector<uint8_t> data);
  // False when there was no such value.
  bool DeleteValue(std::u16string_view name);

  bool operator==(const RegistryKey&) const = default;
};

class BROWSER_PLATFORM_API RegistryHive {
 public:
  // A hive holding its root key only.
  RegistryHive();

  // The key at `path` (names joined with '\', any case), or null.
  const RegistryKey* Find(std::u16string_view path) const;
  RegistryKey* Find(std::u16string_view path);

  // The key at `path`, made with its missing parents when needed (*created says whether it
  // was). The names must be valid key names; the caller checks them and the depth.
  RegistryKey* Create(std::u16string_view path, bool* created);

  // Adds the key `name` (a valid key name) below `parent`, a key of this hive; null when that
  // key exists already. Costs the length of the path, whatever the depth.
  RegistryKey* AddSubkey(const RegistryKey& parent, std::u16string_view name);

  // The direct subkeys of the key at `path`, ordered by their case-folded names.
  std::vector<const RegistryKey*> Subkeys(std::u16string_view path) const;
  bool HasSubkeys(std::u16string_view path) const;

  // Removes the key at `path` (never the root) with everything below it.
  void Remove(std::u16string_view path);
  // Removes every key below `path`; the key itself and its values stay.
  void RemoveBelow(std::u16string_view path);

  // Every key, by case-folded path; the root is "" and comes first.
  const std::map<std::u16string, RegistryKey>& keys() const { return keys_; }

  bool operator==(const RegistryHive&) const = default;

 private:
  std::map<std::u16string, RegistryKey> keys_;
};

// Reads a hive file. ERROR_SUCCESS with *hive replaced, or ERROR_BADDB with *hive untouched and
// `why` (when given) saying what is wrong and on which line. Never reads past `file`, never
// recurses, whatever the input.
BROWSER_PLATFORM_API DWORD ParseRegistryHive(std::string_view file, RegistryHive* hive,
                                             std::string* why);

// The file form of a hive; ParseRegistryHive reads it back equal as long as its names and
// values keep to the limits above.
BROWSER_PLATFORM_API std::string SerializeRegistryHive(const RegistryHive& hive);

}  // namespace platform
