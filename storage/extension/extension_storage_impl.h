// Storage::CExtensionStorageImpl: the extension storage COM object (IExtensionStorage;
// contracts in browserstorage/extension_storage.h). It forwards every call unchanged to the
// model it is attached to, and answers E_FAIL once detached. It has no IStorageInfo.
//
// Thread safety: any thread. Each call takes its own reference to the model and works
// without a lock (CAttachedStructure), so a call in progress keeps the model it started with.
#pragma once

#include "base/ref_counted.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/extension_storage.h"
#include "storage/extension/extension_storage_model.h"
#include "storage/sync/attached_structure.h"
#include "storage/sync/storage_base.h"

namespace Storage {

class CExtensionStorageImpl : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                              public IExtensionStorage,
                              public CStorageBase {
 public:
  BEGIN_COM_MAP(CExtensionStorageImpl)
  COM_INTERFACE_ENTRY(IExtensionStorage)
  END_COM_MAP()

  CExtensionStorageImpl() = default;
  CExtensionStorageImpl(const CExtensionStorageImpl&) = delete;
  CExtensionStorageImpl& operator=(const CExtensionStorageImpl&) = delete;

  // IExtensionStorage, slots 3 to 13.
  STDMETHODIMP AddExtension(IExtensionRecord* record) override;
  STDMETHODIMP GetExtensionList(INT unused1, INT unused2, IObjectList** list) override;
  STDMETHODIMP SetExtensionState(BSTR ext_id, INT state) override;
  STDMETHODIMP SetExtensionType(BSTR ext_id, INT type) override;
  STDMETHODIMP RemoveExtension(BSTR ext_id) override;
  STDMETHODIMP GetUpdateList(IObjectList** list) override;
  STDMETHODIMP AddUpdateItem(IExtensionRecord* record) override;
  STDMETHODIMP ClearUpdateList() override;
  STDMETHODIMP ReservedOperation() override;
  STDMETHODIMP UpdateExtension(BSTR ext_id, IExtensionRecord* record) override;
  STDMETHODIMP GetStoragePath(BSTR* path) override;
  // Behind IExtensionStorage's slots.
  virtual ~CExtensionStorageImpl() = default;

  // CStorageBase. `structure` must be an extension model and `config` non-null.
  HRESULT Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) override;
  HRESULT Detach() override;

 private:
  base::scoped_refptr<CExtensionStorageModel> model() { return model_.get(); }

  CAttachedStructure<CExtensionStorageModel> model_;
};

}  // namespace Storage
