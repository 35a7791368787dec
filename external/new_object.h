// Creation of the factory's objects inside the library, where a method needs a new object of
// its own class (Clone, Copy) or the factory makes one.
#pragma once

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"

namespace Util {

// A new T whose one reference *out holds. E_OUTOFMEMORY (or the failure of T's
// FinalConstruct) with *out empty.
template <class T>
HRESULT NewObject(ATL::CComPtr<ATL::CComObject<T>>* out) {
  ATL::CComObject<T>* object = nullptr;
  HRESULT hr = ATL::CComObject<T>::CreateInstance(&object);
  *out = object;
  return hr;
}

}  // namespace Util
