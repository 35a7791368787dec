// The registrar: applies a registration script to HKEY_CLASSES_ROOT, or removes what it wrote.
//
// A script is a tree of keys, each with an optional default value, named string values and
// subkeys, and a rule for removal, in the manner of COM's registration scripts:
// - kRemove: unregistration removes the key's named values and subkeys as the script lists
//   them, then the key itself unless it still has subkeys the script does not know;
// - kNoRemove: a shared key ("CLSID", "AppID"): created when missing, never removed;
// - kForceRemove: registration deletes any existing key of that name with everything below it
//   and writes it afresh; unregistration deletes it whole.
// Keys and values that are already gone count as removed.
//
// Thread safety: the calls may be made from any thread; two scripts applied at once may
// interleave (each registry call on its own is atomic), so callers serialise them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "browserplatform/types.h"

namespace registration {

struct ScriptValue {
  std::u16string name;
  std::u16string text;  // stored as REG_SZ
};

struct ScriptKey {
  enum class Removal { kRemove, kNoRemove, kForceRemove };

  std::u16string name;
  Removal removal = Removal::kRemove;
  std::optional<std::u16string> default_value = std::nullopt;
  std::vector<ScriptValue> values = {};
  std::vector<ScriptKey> subkeys = {};
};

using Script = std::vector<ScriptKey>;  // keys directly below HKEY_CLASSES_ROOT

// S_OK, or HRESULT_FROM_WIN32 of the first registry call that failed; nothing after it is done.
HRESULT RegisterScript(const Script& script);
HRESULT UnregisterScript(const Script& script);

}  // namespace registration
