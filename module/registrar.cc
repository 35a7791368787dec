#include "module/registrar.h"

#include "browserplatform/winreg.h"

namespace registration {
namespace {

// A key handle closed at the end of its scope.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  HKEY get() const { return key_; }
  PHKEY Receive() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

HRESULT FromStatus(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

// A missing key or value is what removal wants anyway.
HRESULT FromRemovalStatus(LSTATUS status) {
  return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

LSTATUS SetText(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

// Script depths are a few levels of our own tables: recursion is bounded by them.
HRESULT Register(HKEY parent, const ScriptKey& entry) {
  if (entry.removal == ScriptKey::Removal::kForceRemove) {
    if (HRESULT hr = FromRemovalStatus(RegDeleteTreeW(parent, entry.name.c_str())); FAILED(hr)) {
      return hr;
    }
  }
  ScopedKey key;
  LSTATUS status = RegCreateKeyExW(parent, entry.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  if (entry.default_value) {
    if (status = SetText(key.get(), nullptr, *entry.default_value); status != ERROR_SUCCESS) {
      return FromStatus(status);
    }
  }
  for (const ScriptValue& value : entry.values) {
    if (status = SetText(key.get(), value.name.c_str(), value.text); status != ERROR_SUCCESS) {
      return FromStatus(status);
    }
  }
  for (const ScriptKey& subkey : entry.subkeys) {
    if (HRESULT hr = Register(key.get(), subkey); FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Unregister(HKEY parent, const ScriptKey& entry) {
  if (entry.removal == ScriptKey::Removal::kForceRemove) {
    return FromRemovalStatus(RegDeleteTreeW(parent, entry.name.c_str()));
  }
  ScopedKey key;
  LSTATUS status = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_ALL_ACCESS, key.Receive());
  if (status != ERROR_SUCCESS) return FromRemovalStatus(status);
  for (const ScriptKey& subkey : entry.subkeys) {
    if (HRESULT hr = Unregister(key.get(), subkey); FAILED(hr)) return hr;
  }
  for (const ScriptValue& value : entry.values) {
    if (HRESULT hr = FromRemovalStatus(RegDeleteValueW(key.get(), value.name.c_str()));
        FAILED(hr)) {
      return hr;
    }
  }
  if (entry.removal == ScriptKey::Removal::kNoRemove) return S_OK;
  // Subkeys written by others keep the key.
  char16_t name[256];
  DWORD length = 256;
  status = RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) return S_OK;
  if (status != ERROR_NO_MORE_ITEMS) return FromStatus(status);
  return FromRemovalStatus(RegDeleteKeyW(parent, entry.name.c_str()));
}

}  // namespace

HRESULT RegisterScript(const Script& script) {
  for (const ScriptKey& entry : script) {
    if (HRESULT hr = Register(HKEY_CLASSES_ROOT, entry); FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterScript(const Script& script) {
  for (const ScriptKey& entry : script) {
    if (HRESULT hr = Unregister(HKEY_CLASSES_ROOT, entry); FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace registration
