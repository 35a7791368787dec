// A small icon cache for the synchroniser's tests: a plain map in code-unit order, no memory
// limit of its own (GetMemoryLimit only tells the synchroniser the file's length), and every
// change recorded with the synchroniser as the real cache does. It gets its synchroniser
// through CStorageSyncBase::create, with the icon storage's kinds and an import on create.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/lock.h"
#include "browserstorage/storage_service.h"
#include "storage/icon/icon_storage_cache_base.h"
#include "storage/sync/storage_sync_base.h"

namespace icon_test {

class FakeIconCache final : public Storage::CIconStorageCacheBase {
 public:
  FakeIconCache(const std::u16string& path, int memory_limit,
                Storage::CStorageSyncTimer* timer = nullptr)
      : memory_limit_(memory_limit) {
    base::scoped_refptr<Storage::CStorageSyncBase> sync;
    Storage::CStorageSyncBase::create(sync, path.c_str(), Storage::kStorageTypeIcon,
                                      /*sync_kind=*/3, /*cache_kind=*/2, this, nullptr, timer,
                                      /*import_on_create=*/1, nullptr, /*write_mode=*/1);
    SetSynchroniser(std::move(sync));
  }

  HRESULT GetCount(ULONG* count) override {
    base::CAutoLock guard(lock_);
    *count = static_cast<ULONG>(icons_.size());
    return S_OK;
  }
  HRESULT GetValue(const std::u16string& key, IIconObject** icon) override {
    base::CAutoLock guard(lock_);
    auto it = icons_.find(key);
    *icon = it == icons_.end() ? nullptr : ATL::CComPtr<IIconObject>(it->second).Detach();
    return S_OK;
  }
  HRESULT SetValue(const std::u16string& key, IIconObject* icon) override {
    base::CAutoLock guard(lock_);
    icons_[key] = icon;
    synchroniser()->RecordSet(key, icon, 0);
    return S_OK;
  }
  HRESULT RemoveValue(const std::u16string& key) override {
    base::CAutoLock guard(lock_);
    if (icons_.erase(key) != 0) synchroniser()->RecordRemove(key, 0);
    return S_OK;
  }
  HRESULT Clear() override {
    base::CAutoLock guard(lock_);
    icons_.clear();
    synchroniser()->RecordClear(0);
    return S_OK;
  }
  HRESULT HasKey(const std::u16string& key, BOOL* exists) override {
    base::CAutoLock guard(lock_);
    *exists = icons_.count(key) != 0;
    return S_OK;
  }
  HRESULT PutImportedValue(const std::u16string& key, IIconObject* icon) override {
    base::CAutoLock guard(lock_);
    icons_[key] = icon;
    return S_OK;
  }
  HRESULT CopyAll(std::vector<Storage::IconEntry>* entries) override {
    base::CAutoLock guard(lock_);
    for (const auto& [key, icon] : icons_) entries->push_back({key, icon});
    return S_OK;
  }
  HRESULT GetKeys(std::vector<std::u16string>* keys) override {
    base::CAutoLock guard(lock_);
    for (const auto& entry : icons_) keys->push_back(entry.first);
    return S_OK;
  }
  int IsImportFailed() override { return synchroniser()->IsImportFailed(); }
  int IsImportFinished() override { return synchroniser()->IsImported(); }
  int GetMemoryLimit() override { return memory_limit_; }

  // The stored icon, or null.
  ATL::CComPtr<IIconObject> Get(const std::u16string& key) {
    ATL::CComPtr<IIconObject> icon;
    GetValue(key, icon.Receive());
    return icon;
  }
  std::vector<std::u16string> Keys() {
    std::vector<std::u16string> keys;
    GetKeys(&keys);
    return keys;
  }

 private:
  ~FakeIconCache() override { RunFinalSync(); }

  const int memory_limit_;
  base::CLock lock_;
  std::map<std::u16string, ATL::CComPtr<IIconObject>> icons_;
};

}  // namespace icon_test
