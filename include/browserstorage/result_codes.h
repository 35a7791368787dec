// Result codes of the storage interfaces, and the exception the system raises.
#pragma once

#include <exception>

#include "browserplatform/types.h"

// The system's invalid-argument code at its storage interfaces: an empty key or a null pointer
// handed to a storage, and a storage attached without configuration or in-memory structure.
// E_INVALIDARG (0x80070057) is answered only where an interface names it (IStorageConfig).
constexpr HRESULT E_STORAGE_INVALIDARG = MakeHResult(0x83330001u);

namespace Storage {

// Thrown, and never caught inside the library, when copying a string runs out of memory; the
// code is then E_OUTOFMEMORY. The operations that can throw it say so. Hosts catch it by type
// (or as std::exception) and read hr().
class CHResultException : public std::exception {
 public:
  explicit CHResultException(HRESULT hr) noexcept : hr_(hr) {}

  HRESULT hr() const noexcept { return hr_; }
  const char* what() const noexcept override { return "storage: HRESULT failure"; }

 private:
  HRESULT hr_;
};

}  // namespace Storage
