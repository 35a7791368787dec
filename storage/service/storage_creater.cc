#include "storage/service/storage_creater.h"

#include <utility>

#include "base/logging.h"
#include "base/trace.h"
#include "browserplatform/atlcom.h"
#include "storage/bookmark/bookmark_tree_model.h"
#include "storage/bookmark/bookmark_tree_model_storage_base.h"
#include "storage/extension/extension_storage_impl.h"
#include "storage/extension/extension_storage_model.h"
#include "storage/icon/icon_storage_base.h"
#include "storage/icon/icon_storage_cache_base.h"
#include "storage/keyvalue/key_value_storage_base.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"
#include "storage/keyvalue/key_value_storage_ex_base.h"
#include "storage/keyvalue/key_value_storage_ex_cache_base.h"
#include "storage/service/data_path.h"
#include "storage/sync/storage_sync_base.h"

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
  base::scoped_refptr<CStorageConfigBase> storage_config = ResolveConfig(id, config);
  if (!storage_config) return E_FAIL;

  HRESULT result = E_FAIL;
  CachedStorage created;
  // Each type builds its in-memory structure, then its COM object, which is attached to the
  // structure and cached under `id`.
  switch (storage_config->GetStorageType()) {
    case kStorageTypeKeyValue:
      // Checked before anything is built, so that nothing is read or written for nobody.
      if (out == nullptr) return E_POINTER;
      result = CreateKeyValueStorage(storage_config.get(), &created);
      break;
    case kStorageTypeBookmarkTree:
      if (out == nullptr) return E_POINTER;
      // The bookmark file is read on the sync thread; the model's callers wait for it.
      result = CreateBookmarkStorage(storage_config.get(), &created);
      break;
    case kStorageTypeIcon:
      if (out == nullptr) return E_POINTER;
      result = CreateIconStorage(storage_config.get(), &created);
      break;
    case kStorageTypeKeyValueEx:
      if (out == nullptr) return E_POINTER;
      result = CreateKeyValueExStorage(storage_config.get(), &created);
      break;
    case kStorageTypeExtension:
      if (out == nullptr) return E_POINTER;
      result = CreateExtensionStorage(storage_config.get(), &created);
      break;
    default:
      break;  // not a storage type
  }
  if (FAILED(result)) return result;
  *out = created.unknown.get();  // the caller's reference is added by GetStorage
  storages_.emplace(id, std::move(created));
  return S_OK;
}

template <class Object>
HRESULT CStorageCreater::AttachNewObject(CStorageConfigBase* config,
                                         CStorageInMemStructure* structure,
                                         CachedStorage* created) {
  ATL::CComObject<Object>* object = nullptr;
  HRESULT result = ATL::CComObject<Object>::CreateInstance(&object);
  if (FAILED(result)) return result;
  ATL::CComPtr<IUnknown> unknown(object->GetUnknown());  // becomes the storage cache's
  result = object->Attach(config, structure);
  if (FAILED(result)) return result;  // `unknown` takes the object with it
  created->unknown = std::move(unknown);
  created->storage = object;
  return S_OK;
}

HRESULT CStorageCreater::CreateKeyValueStorage(CStorageConfigBase* config, CachedStorage* created) {
  // Reads the file before it returns (every key-value row imports on create).
  base::scoped_refptr<CKeyValueStorageCacheBase> cache =
      CKeyValueStorageCacheBase::create(config, sync_manager_.get(), sync_timer_.get());
  return AttachNewObject<CKeyValueStorageBase>(config, cache.get(), created);
}

HRESULT CStorageCreater::CreateKeyValueExStorage(CStorageConfigBase* config,
                                                 CachedStorage* created) {
  // Reads the file before it returns (both key-value-ex rows import on create).
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache =
      CKeyValueStorageExCacheBase::create(config, sync_manager_.get(), sync_timer_.get());
  return AttachNewObject<CKeyValueStorageExBase>(config, cache.get(), created);
}

HRESULT CStorageCreater::CreateBookmarkStorage(CStorageConfigBase* config, CachedStorage* created) {
  base::scoped_refptr<CBookmarkTreeModel> model(
      new CBookmarkTreeModel(config, sync_manager_.get(), sync_timer_.get()));
  return AttachNewObject<CBookmarkTreeModelStorageBase>(config, model.get(), created);
}

HRESULT CStorageCreater::CreateIconStorage(CStorageConfigBase* config, CachedStorage* created) {
  // Null for a configuration that is not memory-limited; Attach then refuses it.
  base::scoped_refptr<CIconStorageCacheBase> cache =
      CIconStorageCacheBase::create(config, sync_manager_.get(), sync_timer_.get());
  return AttachNewObject<CIconStorageBase>(config, cache.get(), created);
}

HRESULT CStorageCreater::CreateExtensionStorage(CStorageConfigBase* config,
                                                CachedStorage* created) {
  // The database lives in a folder of its own, "localextensions", which a new user lacks.
  const std::u16string& path = config->GetFilePath();
  const size_t separator = path.find_last_of(u"/\\");
  if (separator != std::u16string::npos && separator > 0) {
    const std::u16string folder = path.substr(0, separator);
    if (!EnsureDirectory(folder, 1)) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone,
                u"extension folder not created: %s (%u)", folder.c_str(), GetLastError());
    }
  }
  // Null for a configuration that is not a full cache; Attach then refuses it. Reads the file
  // before it returns when the row imports on create.
  base::scoped_refptr<CExtensionStorageModel> model =
      CExtensionStorageModel::create(config, sync_manager_.get(), sync_timer_.get());
  return AttachNewObject<CExtensionStorageImpl>(config, model.get(), created);
}

HRESULT CStorageCreater::CreateTempStorage(int type, IUnknown** out) {
  if (out == nullptr) return E_FAIL;
  // Only the bookmark tree has a file-less form: a model without configuration has no
  // synchroniser, so it never waits for an import and lives in memory only.
  if (type != kStorageTypeBookmarkTree) return E_FAIL;
  CachedStorage created;
  HRESULT result = CreateBookmarkStorage(nullptr, &created);
  if (FAILED(result)) return result;
  *out = created.unknown.Detach();
  return S_OK;
}

void CStorageCreater::ReleaseAllStorages() {
  for (auto& [id, cached] : storages_) {
    cached.storage->Detach();
    cached.unknown.Release();
  }
  storages_.clear();
}

}  // namespace Storage
