#include "storage/keyvalue/key_value_storage_full_cache_base.h"

#include <utility>

#include "base/logging.h"
#include "browserstorage/object_factory.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

CKeyValueStorageFullCacheBase::CKeyValueStorageFullCacheBase(CStorageConfigBase* config,
                                                             CStorageSyncManager* sync_manager,
                                                             CStorageSyncTimer* sync_timer)
    : write_mode_(config->GetWriteMode()) {
  CreateSynchroniser(config, sync_manager, sync_timer, config->GetName());
}

CKeyValueStorageFullCacheBase::CKeyValueStorageFullCacheBase(int write_mode)
    : write_mode_(write_mode) {}

CKeyValueStorageFullCacheBase::~CKeyValueStorageFullCacheBase() { RunFinalSync(); }

void CKeyValueStorageFullCacheBase::AwaitImport() {
  if (import_awaited_.load(std::memory_order_acquire)) return;
  if (CStorageSyncBase* sync = synchroniser()) {
    sync->WaitForImport();
    import_awaited_.store(1, std::memory_order_release);
  }
}

ULONG CKeyValueStorageFullCacheBase::GetCount() {
  AwaitImport();
  CSharedLockGuard guard(lock_);
  return static_cast<ULONG>(map_.size());
}

ATL::CComPtr<IValueObject> CKeyValueStorageFullCacheBase::GetValue(const std::u16string& key) {
  AwaitImport();
  CSharedLockGuard guard(lock_);
  auto found = map_.find(key);
  return found != map_.end() ? found->second : nullptr;
}

bool CKeyValueStorageFullCacheBase::SetValue(const std::u16string& key, IValueObject* value) {
  if (value == nullptr) return false;
  AwaitImport();
  CExclusiveLockGuard guard(lock_);
  auto found = map_.find(key);
  if (found != map_.end() && found->second) {
    BOOL equal = FALSE;
    if (SUCCEEDED(found->second->IsEqual(value, &equal)) && equal) return true;
  }
  // The cache keeps its own copy: the caller may change its object afterwards.
  ATL::CComPtr<IValueObject> copy;
  HRESULT result = Util::Com::CreateObjectByIID(IID_IValueObject, copy.ReceiveVoid());
  if (SUCCEEDED(result) && !copy) result = E_FAIL;
  if (SUCCEEDED(result)) result = copy->CopyFrom(value);
  if (FAILED(result)) {
    // The old value stays and the call still succeeds; say what was lost.
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"value of %s not stored (hr=0x%X)",
              key.c_str(), static_cast<unsigned>(result));
    return true;
  }
  map_.insert_or_assign(key, copy);
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordSet(key, copy, 0);
  return true;
}

bool CKeyValueStorageFullCacheBase::RemoveValue(const std::u16string& key) {
  AwaitImport();
  CExclusiveLockGuard guard(lock_);
  if (map_.erase(key) == 0) return false;
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordRemove(key, 0);
  return true;
}

void CKeyValueStorageFullCacheBase::Clear() {
  AwaitImport();
  CExclusiveLockGuard guard(lock_);
  map_.clear();
  // Under the lock, as set and remove record theirs: records keep the order of the changes.
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordClear(0);
}

bool CKeyValueStorageFullCacheBase::HasKey(const std::u16string& key) {
  AwaitImport();
  CSharedLockGuard guard(lock_);
  return map_.find(key) != map_.end();
}

void CKeyValueStorageFullCacheBase::PutImportedValue(const std::u16string& key,
                                                     IValueObject* value) {
  CExclusiveLockGuard guard(lock_);
  map_.insert_or_assign(key, ATL::CComPtr<IValueObject>(value));
}

void CKeyValueStorageFullCacheBase::PutImportedValues(KeyValueMap&& values) {
  {
    CExclusiveLockGuard guard(lock_);
    if (map_.empty()) {
      map_.swap(values);
    } else {
      map_.merge(values);
      // What merge left behind has a stored key: the imported value wins, and the one it
      // replaces goes back into `values`, to be released once the lock is free.
      for (auto& [key, value] : values) map_.find(key)->second.Swap(value);
    }
  }
  values.clear();
}

void CKeyValueStorageFullCacheBase::CopyAll(KeyValueMap* map) {
  if (map == nullptr) return;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  for (const auto& [key, value] : map_) (*map)[key] = value;
}

void CKeyValueStorageFullCacheBase::GetKeys(std::vector<std::u16string>* keys) {
  if (keys == nullptr) return;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  keys->reserve(keys->size() + map_.size());
  for (const auto& entry : map_) keys->push_back(entry.first);
}

int CKeyValueStorageFullCacheBase::IsImportFailed() {
  AwaitImport();
  CStorageSyncBase* sync = synchroniser();
  return sync ? sync->IsImportFailed() : 0;
}

int CKeyValueStorageFullCacheBase::IsImportFinished() {
  CStorageSyncBase* sync = synchroniser();
  if (sync != nullptr && !import_awaited_.load(std::memory_order_acquire) && sync->IsImported()) {
    import_awaited_.store(1, std::memory_order_release);
  }
  return import_awaited_.load(std::memory_order_acquire);
}

}  // namespace Storage
