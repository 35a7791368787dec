// CIconObject: the factory's IIconObject, a favicon's bytes, two texts and a time.
//
// Thread safety: lock_ guards the fields. GetData hands out a pointer into the object, which a
// concurrent SetData invalidates; callers that share an icon with writers must not rely on it.
#pragma once

#include <string>
#include <vector>

#include "base/lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CIconObject : public IIconObject, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CIconObject)
  COM_INTERFACE_ENTRY(IIconObject)
  END_COM_MAP()

  CIconObject() = default;
  CIconObject(const CIconObject&) = delete;
  CIconObject& operator=(const CIconObject&) = delete;

  STDMETHODIMP GetData(const BYTE** data) override;
  STDMETHODIMP GetDataLength(INT* length) override;
  STDMETHODIMP GetFirstText(BSTR* out) override;
  STDMETHODIMP GetTime(LONGLONG* time) override;
  STDMETHODIMP GetSecondText(BSTR* out) override;
  STDMETHODIMP SetData(const BYTE* data, INT length) override;
  STDMETHODIMP SetFirstText(BSTR text) override;
  STDMETHODIMP SetTime(LONGLONG time) override;
  STDMETHODIMP SetSecondText(BSTR text) override;

 private:
  HRESULT GetText(std::u16string CIconObject::*field, BSTR* out);
  HRESULT SetText(std::u16string CIconObject::*field, BSTR text);

  base::CLock lock_;
  std::vector<BYTE> data_ GUARDED_BY(lock_);
  std::u16string first_text_ GUARDED_BY(lock_);
  std::u16string second_text_ GUARDED_BY(lock_);
  LONGLONG time_ GUARDED_BY(lock_) = 0;
};

}  // namespace Util
