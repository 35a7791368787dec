// CExtensionRecord: the factory's IExtensionRecord, one row of the extension database.
//
// Thread safety: lock_ guards the fields.
#pragma once

#include <string>

#include "base/lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CExtensionRecord : public IExtensionRecord,
                         public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CExtensionRecord)
  COM_INTERFACE_ENTRY(IExtensionRecord)
  END_COM_MAP()

  CExtensionRecord() = default;
  CExtensionRecord(const CExtensionRecord&) = delete;
  CExtensionRecord& operator=(const CExtensionRecord&) = delete;

  STDMETHODIMP SetExtensionId(BSTR id) override;
  STDMETHODIMP SetType(INT type) override;
  STDMETHODIMP SetState(INT state) override;
  STDMETHODIMP SetPath(BSTR path) override;
  STDMETHODIMP SetManifest(BSTR manifest) override;
  STDMETHODIMP GetExtensionId(BSTR* out) override;
  STDMETHODIMP GetType(INT* type) override;
  STDMETHODIMP GetState(INT* state) override;
  STDMETHODIMP GetPath(BSTR* out) override;
  STDMETHODIMP GetManifest(BSTR* out) override;

 private:
  HRESULT GetString(std::u16string CExtensionRecord::*field, BSTR* out);
  HRESULT SetString(std::u16string CExtensionRecord::*field, BSTR text);
  HRESULT GetInt(INT CExtensionRecord::*field, INT* out);
  HRESULT SetInt(INT CExtensionRecord::*field, INT value);

  base::CLock lock_;
  std::u16string extension_id_ GUARDED_BY(lock_);
  std::u16string path_ GUARDED_BY(lock_);
  std::u16string manifest_ GUARDED_BY(lock_);
  INT type_ GUARDED_BY(lock_) = 0;
  INT state_ GUARDED_BY(lock_) = 0;
};

}  // namespace Util
