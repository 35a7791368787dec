#include "storage/extension/extension_storage_impl.h"

#include <utility>

#include "browserstorage/result_codes.h"

namespace Storage {

HRESULT CExtensionStorageImpl::AddExtension(IExtensionRecord* record) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->AddExtension(record) : E_FAIL;
}

HRESULT CExtensionStorageImpl::GetExtensionList(INT unused1, INT unused2, IObjectList** list) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->GetExtensionList(unused1, unused2, list) : E_FAIL;
}

HRESULT CExtensionStorageImpl::SetExtensionState(BSTR ext_id, INT state) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->SetExtensionState(ext_id, state) : E_FAIL;
}

HRESULT CExtensionStorageImpl::SetExtensionType(BSTR ext_id, INT type) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->SetExtensionType(ext_id, type) : E_FAIL;
}

HRESULT CExtensionStorageImpl::RemoveExtension(BSTR ext_id) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->RemoveExtension(ext_id) : E_FAIL;
}

HRESULT CExtensionStorageImpl::GetUpdateList(IObjectList** list) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->GetUpdateList(list) : E_FAIL;
}

HRESULT CExtensionStorageImpl::AddUpdateItem(IExtensionRecord* record) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->AddUpdateItem(record) : E_FAIL;
}

HRESULT CExtensionStorageImpl::ClearUpdateList() {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->ClearUpdateList() : E_FAIL;
}

HRESULT CExtensionStorageImpl::ReservedOperation() {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->ReservedOperation() : E_FAIL;
}

HRESULT CExtensionStorageImpl::UpdateExtension(BSTR ext_id, IExtensionRecord* record) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->UpdateExtension(ext_id, record) : E_FAIL;
}

HRESULT CExtensionStorageImpl::GetStoragePath(BSTR* path) {
  base::scoped_refptr<CExtensionStorageModel> model = this->model();
  return model ? model->GetStoragePath(path) : E_FAIL;
}

HRESULT CExtensionStorageImpl::Attach(CStorageConfigBase* config,
                                      CStorageInMemStructure* structure) {
  return model_.Attach(config, structure);
}

HRESULT CExtensionStorageImpl::Detach() { return model_.Detach(); }

}  // namespace Storage
