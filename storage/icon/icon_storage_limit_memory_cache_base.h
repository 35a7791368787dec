// Storage::CIconStorageLimitMemoryCacheBase: icons within a memory budget. When a store pushes
// the estimated use over the budget, the least recently used icons go, and each removal is
// recorded for the file.
//
// Estimates: an icon costs EstimateIconSize (its data bytes, two bytes a unit of both texts up
// to their first NUL, plus 24). The cache takes an icon's estimate and time once, when it is
// stored: a stored icon is shared with readers and snapshots and is not to be changed.
//
// Access stamps: the low 32 bits of GetTickCount when the icon was last stored or read; 0 for an
// imported icon not read since. The victim is the icon with the smallest stamp, then the
// smallest icon time, then the first key in key order; only an icon whose stamp is smaller than
// the tick count at the moment of the choice can be chosen. (A stamp taken in this very
// millisecond, or one from before the tick counter wrapped, is not older than now: no victim
// then, and the store keeps what it has.)
//
// Eviction index: the order above is kept in `eviction_order_`, so that a store finds its
// victims in logarithmic time, and the estimates are summed as icons come and go. Readers mark
// an icon used under the shared lock: they write its atomic stamp and push the entry, once, on
// a lock-free list of entries whose stamp moved (`touched_`). Every writer, holding the lock
// alone, first moves those entries to their new place in the index; so the index is exact
// whenever a victim is chosen, and readers never wait for one another.
//
// Thread safety: readers (GetCount, GetValue, HasKey, CopyAll, GetKeys) share `lock_`; writers
// (SetValue, RemoveValue, Clear, PutImportedValue) hold it alone, and eviction happens inside
// the writer's hold. Change records are made with the lock held, so they keep the order of the
// changes. Lock order: import gate (no lock held), `lock_`, the synchroniser's change-list lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "storage/icon/icon_storage_cache_base.h"
#include "storage/sync/read_write_lock.h"

namespace Storage {

class CIconStorageLimitMemoryCacheBase : public CIconStorageCacheBase {
 public:
  // Builds the empty cache, then the synchroniser for `config` (borrowed for the call), which may
  // import the file before this returns. The arguments are those of CIconStorageCacheBase::create.
  CIconStorageLimitMemoryCacheBase(CStorageConfigBase* config, CStorageSyncManager* sync_manager,
                                   CStorageSyncTimer* sync_timer);

  HRESULT GetCount(ULONG* count) override;
  HRESULT GetValue(const std::u16string& key, IIconObject** icon) override;
  HRESULT SetValue(const std::u16string& key, IIconObject* icon) override;
  HRESULT RemoveValue(const std::u16string& key) override;
  HRESULT Clear() override;
  HRESULT HasKey(const std::u16string& key, BOOL* exists) override;
  // E_FAIL, and nothing stored, for a null icon: every stored key has an icon.
  HRESULT PutImportedValue(const std::u16string& key, IIconObject* icon) override;
  HRESULT CopyAll(std::vector<IconEntry>* entries) override;
  HRESULT GetKeys(std::vector<std::u16string>* keys) override;
  int IsImportFailed() override;
  int IsImportFinished() override;
  int GetMemoryLimit() override { return memory_limit_; }

  // The estimated bytes `icon` occupies; 0 for null. A length an icon fails to report counts 0.
  static int64_t EstimateIconSize(IIconObject* icon);

 protected:
  // How a store looks for victims. kWalk is the plain search (sum every estimate, walk every
  // entry in key order) that the index replaces; kept to check the index against and to measure.
  enum class EvictionSearch { kIndex, kWalk };

  // A cache without a synchroniser, for tests and benchmarks; a derived class may give it one
  // with SetSynchroniser.
  CIconStorageLimitMemoryCacheBase(int memory_limit, EvictionSearch search);
  // Writes a last time through the synchroniser while the icons are still here.
  ~CIconStorageLimitMemoryCacheBase() override;

  // The tick count stamps and victim choices use: GetTickCount. Tests replace it.
  virtual DWORD CurrentTick();

  // The key of the victim a store would evict at tick `now` by each search (as stored), or the
  // empty string when there is none. They take the lock themselves.
  std::u16string PickEvictionVictim(uint64_t now);
  std::u16string PickEvictionVictimByWalk(uint64_t now);

 private:
  struct Entry;

  // Orders entries as victims: stamp, icon time, key order.
  struct EvictionLess {
    bool operator()(const Entry* a, const Entry* b) const;
  };
  using EvictionOrder = std::set<Entry*, EvictionLess>;
  // Collation sort key -> entry: byte comparisons give the order of VarBstrCmp.
  using EntryMap = std::map<std::string, Entry>;

  struct Entry {
    explicit Entry(const std::u16string& text) : key(text) {}

    const std::string* sort_key = nullptr;  // the map's key
    const std::u16string key;               // the text it was first stored under
    ATL::CComPtr<IIconObject> icon;
    int64_t estimate = 0;
    LONGLONG time = 0;
    // Written by readers under the shared lock; `indexed_stamp` is where the index has it.
    std::atomic<uint64_t> stamp{0};
    uint64_t indexed_stamp = 0;
    // On `touched_` while set; `next_touched` links that list.
    std::atomic<bool> touched{false};
    Entry* next_touched = nullptr;
    EvictionOrder::iterator position;  // in `eviction_order_`
  };

  // The import gate: returns once the synchroniser's import has finished.
  void AwaitImport();
  // The collation sort key of `key`; throws CHResultException(E_OUTOFMEMORY).
  static std::string SortKeyOf(const std::u16string& key);

  // Marks `entry` used at `stamp`; under the shared lock.
  void Touch(Entry& entry, uint64_t stamp) SHARED_LOCKS_REQUIRED(lock_);
  // Moves every entry readers touched to its place in the index; first thing in every writer.
  void IndexTouchedEntries() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Stores `icon` under `key`; a new entry gets `stamp`, a stored one keeps its own unless
  // `restamp`.
  void Store(const std::u16string& key, std::string sort_key, IIconObject* icon, uint64_t stamp,
             bool restamp) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void Erase(EntryMap::iterator found) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void Reindex(Entry& entry) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void EnforceMemoryLimit() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // The entry to evict at tick `now`, or null: the first of the index, or the walk's choice.
  Entry* VictimByIndex(uint64_t now) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  Entry* VictimByWalk(uint64_t now) EXCLUSIVE_LOCKS_REQUIRED(lock_);

  CReadWriteLock lock_;

  EntryMap entries_ GUARDED_BY(lock_);
  EvictionOrder eviction_order_ GUARDED_BY(lock_);
  int64_t estimated_bytes_ GUARDED_BY(lock_) = 0;  // the sum of the entries' estimates
  // Entries whose stamp readers changed since the last writer; pushed under the shared lock,
  // taken under the exclusive one (so no entry on it is erased meanwhile).
  std::atomic<Entry*> touched_{nullptr};

  const EvictionSearch search_;
  // Set before the synchroniser is built, which may import at once.
  const int memory_limit_;
  std::atomic<int> import_awaited_{0};
};

}  // namespace Storage
