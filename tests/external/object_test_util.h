// Helpers for the object factory tests: creating objects, reading BSTR outputs, reference
// counts.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"

namespace objects_test {

// A new factory object answering I; the test fails when the factory says no.
template <class I>
ATL::CComPtr<I> New() {
  ATL::CComPtr<I> object;
  EXPECT_EQ(S_OK, Util::Com::CreateObjectByIID(uuidof<I>(), object.ReceiveVoid()));
  EXPECT_TRUE(object);
  return object;
}

// A BSTR holding `text`, NULs included.
inline ATL::CComBSTR Bstr(std::u16string_view text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

// Calls a string getter; the result must be S_OK with a non-null BSTR, which is freed here.
template <class I>
std::u16string GetText(I* object, HRESULT (I::*getter)(BSTR*)) {
  ATL::CComBSTR text;
  EXPECT_EQ(S_OK, (object->*getter)(text.Receive()));
  EXPECT_NE(nullptr, text.get());
  return std::u16string(text.get() ? text.get() : u"", text.Length());
}

// The object's current reference count, from the value Release reports.
inline ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

}  // namespace objects_test
