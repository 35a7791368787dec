// CCoStorageConfig: the creatable IStorageConfig object. A caller fills it and passes it to
// GetStorage to replace a storage's file name and give it a name string. Aggregatable,
// free-threaded; its own lock keeps concurrent setters and getters consistent.
#pragma once

#include "base/lock.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/storage_service.h"

namespace Storage {

class CCoStorageConfig : public IStorageConfig,
                         public IProvideClassInfo,
                         public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                         public ATL::CComCoClass<CCoStorageConfig, &CLSID_CCoStorageConfig> {
 public:
  BEGIN_COM_MAP(CCoStorageConfig)
  COM_INTERFACE_ENTRY(IStorageConfig)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  END_COM_MAP()

  CCoStorageConfig() = default;
  CCoStorageConfig(const CCoStorageConfig&) = delete;
  CCoStorageConfig& operator=(const CCoStorageConfig&) = delete;

  // IStorageConfig (contracts in browserstorage/storage_service.h).
  STDMETHODIMP GetFileName(BSTR* file_name) override;    // slot 3
  STDMETHODIMP SetFileName(LPCWSTR file_name) override;  // slot 4
  STDMETHODIMP GetName(BSTR* name) override;             // slot 5
  STDMETHODIMP SetName(LPCWSTR name) override;           // slot 6
  // Behind the interface's slots.
  virtual ~CCoStorageConfig() = default;

  // IProvideClassInfo: there is no type library.
  STDMETHODIMP GetClassInfo(ITypeInfo** type_info) override { return E_NOTIMPL; }

 private:
  HRESULT CopyOut(const ATL::CComBSTR& stored, BSTR* out) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT Store(ATL::CComBSTR* stored, LPCWSTR text) EXCLUSIVE_LOCKS_REQUIRED(lock_);

  base::CLock lock_;
  ATL::CComBSTR file_name_ GUARDED_BY(lock_);
  ATL::CComBSTR name_ GUARDED_BY(lock_);
};

}  // namespace Storage
