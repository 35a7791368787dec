#include "storage/keyvalue/key_value_storage_ex_full_cache_base.h"

#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

CKeyValueStorageExFullCacheBase::CKeyValueStorageExFullCacheBase(CStorageConfigBase* config,
                                                                 CStorageSyncManager* sync_manager,
                                                                 CStorageSyncTimer* sync_timer)
    : write_mode_(config->GetWriteMode()) {
  CreateSynchroniser(config, sync_manager, sync_timer, config->GetName());
}

CKeyValueStorageExFullCacheBase::CKeyValueStorageExFullCacheBase(int write_mode)
    : write_mode_(write_mode) {}

CKeyValueStorageExFullCacheBase::~CKeyValueStorageExFullCacheBase() { RunFinalSync(); }

void CKeyValueStorageExFullCacheBase::AwaitImport() {
  if (import_awaited_.load(std::memory_order_acquire)) return;
  if (CStorageSyncBase* sync = synchroniser()) {
    sync->WaitForImport();
    import_awaited_.store(1, std::memory_order_release);
  }
}

ULONG CKeyValueStorageExFullCacheBase::GetCount() {
  AwaitImport();
  CSharedLockGuard guard(lock_);
  return static_cast<ULONG>(map_.size());
}

ATL::CComPtr<ITextValue> CKeyValueStorageExFullCacheBase::GetValue(const std::u16string& key) {
  AwaitImport();
  CSharedLockGuard guard(lock_);
  auto found = map_.find(key);
  return found != map_.end() ? found->second : nullptr;
}

bool CKeyValueStorageExFullCacheBase::SetValue(const std::u16string& key, ITextValue* value) {
  if (value == nullptr) return false;
  AwaitImport();
  ATL::CComPtr<ITextValue> previous(value);
  CExclusiveLockGuard guard(lock_);
  // The caller's object itself; the one it replaces is released after the lock (in `previous`).
  map_[key].Swap(previous);
  // Under the lock, as remove and clear record theirs: records keep the order of the changes.
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordSet(key, value, 0);
  return true;
}

bool CKeyValueStorageExFullCacheBase::RemoveValue(const std::u16string& key) {
  AwaitImport();
  CExclusiveLockGuard guard(lock_);
  if (map_.erase(key) == 0) return false;
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordRemove(key, 0);
  return true;
}

void CKeyValueStorageExFullCacheBase::Clear() {
  AwaitImport();
  CExclusiveLockGuard guard(lock_);
  map_.clear();
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordClear(0);
}

bool CKeyValueStorageExFullCacheBase::HasKey(const std::u16string& key) {
  AwaitImport();
  CSharedLockGuard guard(lock_);
  return map_.find(key) != map_.end();
}

void CKeyValueStorageExFullCacheBase::PutImportedValue(const std::u16string& key,
                                                       ITextValue* value) {
  CExclusiveLockGuard guard(lock_);
  map_.insert_or_assign(key, ATL::CComPtr<ITextValue>(value));
}

void CKeyValueStorageExFullCacheBase::CopyAll(KeyValueExMap* map) {
  if (map == nullptr) return;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  for (const auto& [key, value] : map_) (*map)[key] = value;
}

void CKeyValueStorageExFullCacheBase::GetKeys(std::vector<std::u16string>* keys) {
  if (keys == nullptr) return;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  keys->reserve(keys->size() + map_.size());
  for (const auto& entry : map_) keys->push_back(entry.first);
}

void CKeyValueStorageExFullCacheBase::GetValues(std::vector<ATL::CComPtr<ITextValue>>* values) {
  if (values == nullptr) return;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  values->reserve(values->size() + map_.size());
  for (const auto& entry : map_) values->push_back(entry.second);
}

int CKeyValueStorageExFullCacheBase::IsImportFailed() {
  AwaitImport();
  CStorageSyncBase* sync = synchroniser();
  return sync ? sync->IsImportFailed() : 0;
}

int CKeyValueStorageExFullCacheBase::IsImportFinished() {
  CStorageSyncBase* sync = synchroniser();
  if (sync != nullptr && !import_awaited_.load(std::memory_order_acquire) && sync->IsImported()) {
    import_awaited_.store(1, std::memory_order_release);
  }
  return import_awaited_.load(std::memory_order_acquire);
}

}  // namespace Storage
