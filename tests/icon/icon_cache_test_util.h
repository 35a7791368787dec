// Icons and an icon cache for tests: the cache has no file, an optional recording synchroniser
// and a tick count the test sets.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "storage/icon/icon_storage_limit_memory_cache_base.h"
#include "storage/sync/storage_sync_base.h"

namespace icon_test {

// An icon whose estimate is `data_length` + 2 * (|first| + |second|) + 24.
inline ATL::CComPtr<IIconObject> NewIcon(int data_length, LONGLONG time = 0,
                                         const std::u16string& second = u"",
                                         const std::u16string& first = u"") {
  ATL::CComPtr<IIconObject> icon;
  if (FAILED(Util::Com::CreateObjectByIID(IID_IIconObject, icon.ReceiveVoid())) || !icon) {
    return nullptr;
  }
  std::vector<BYTE> data(static_cast<size_t>(data_length), 7);
  icon->SetData(data.data(), data_length);
  icon->SetTime(time);
  ATL::CComBSTR first_text(first.c_str());
  ATL::CComBSTR second_text(second.c_str());
  icon->SetFirstText(first_text);
  icon->SetSecondText(second_text);
  return icon;
}

class TestIconCache : public Storage::CIconStorageLimitMemoryCacheBase {
 public:
  using EvictionSearch = CIconStorageLimitMemoryCacheBase::EvictionSearch;
  using CIconStorageLimitMemoryCacheBase::PickEvictionVictim;
  using CIconStorageLimitMemoryCacheBase::PickEvictionVictimByWalk;

  // `sync` may be null.
  TestIconCache(int memory_limit, Storage::CStorageSyncBase* sync,
                EvictionSearch search = EvictionSearch::kIndex)
      : CIconStorageLimitMemoryCacheBase(memory_limit, search) {
    SetSynchroniser(base::scoped_refptr<Storage::CStorageSyncBase>(sync));
  }

  // Every later tick reads `tick`.
  void SetTick(DWORD tick) { tick_.store(tick); }
  // Every later tick comes from `source`; readers may call it from several threads at once.
  void SetTickSource(std::function<DWORD()> source) { source_ = std::move(source); }

 protected:
  DWORD CurrentTick() override { return source_ ? source_() : tick_.load(); }

 private:
  std::atomic<DWORD> tick_{1};
  std::function<DWORD()> source_;
};

// The records as "+key", "-key" and "*" (clear), in order.
inline std::vector<std::u16string> Records(Storage::CStorageSyncBase* sync) {
  std::vector<std::u16string> out;
  for (const Storage::PendingChange& change : sync->pending_changes_for_testing()) {
    if (change.op == Storage::kChangeOpSet) out.push_back(u"+" + change.key);
    if (change.op == Storage::kChangeOpRemove) out.push_back(u"-" + change.key);
    if (change.op == Storage::kChangeOpClear) out.push_back(u"*");
  }
  return out;
}

inline std::vector<std::u16string> Keys(Storage::CIconStorageCacheBase* cache) {
  std::vector<std::u16string> keys;
  cache->GetKeys(&keys);
  return keys;
}

}  // namespace icon_test
