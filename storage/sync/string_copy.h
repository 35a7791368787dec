// String copies for the COM classes. The system's string copies never fail quietly: running out
// of memory raises E_OUTOFMEMORY as an exception, which reaches the caller of the interface.
#pragma once

#include "browserplatform/atlbase.h"
#include "browserstorage/result_codes.h"

namespace Storage {

// A copy of the NUL-terminated `text`; null stays null. Throws CHResultException(E_OUTOFMEMORY)
// when the allocation fails.
inline ATL::CComBSTR CopyStringOrThrow(const OLECHAR* text) {
  ATL::CComBSTR copy(text);
  if (text != nullptr && copy.get() == nullptr) throw CHResultException(E_OUTOFMEMORY);
  return copy;
}

// A new BSTR for an out parameter, copied with its length (embedded NULs kept); null stays
// null. Throws as above.
inline BSTR CopyBstrOrThrow(BSTR text) {
  if (text == nullptr) return nullptr;
  BSTR copy = SysAllocStringLen(text, SysStringLen(text));
  if (copy == nullptr) throw CHResultException(E_OUTOFMEMORY);
  return copy;
}

}  // namespace Storage
